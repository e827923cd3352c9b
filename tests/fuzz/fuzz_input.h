// Reads a fuzz input from the front: fixed fields first, then the bytes that
// are left. Past the end every field reads as zero, so any input is usable
// and the committed seeds can be written by hand in the same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fuzzing {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | (U8() << 8)); }
  uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
  bool empty() const { return at_ >= size_; }

  // Up to `count` bytes.
  std::span<const uint8_t> Take(size_t count) {
    const size_t n = count < size_ - at_ ? count : size_ - at_;
    const std::span<const uint8_t> out(data_ + at_, n);
    at_ += n;
    return out;
  }
  // A string prefixed with its one-byte length.
  std::string Text() {
    const std::span<const uint8_t> bytes = Take(U8());
    return std::string(bytes.begin(), bytes.end());
  }
  // The same with a two-byte length, for texts that can fill a log line.
  std::string LongText() {
    const std::span<const uint8_t> bytes = Take(U16());
    return std::string(bytes.begin(), bytes.end());
  }
  std::span<const uint8_t> Rest() { return Take(size_ - at_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A property the code under test must keep; a failure stops the fuzzer with
// the input that broke it.
inline void Check(bool holds) {
  if (!holds)
    __builtin_trap();
}

}  // namespace fuzzing
