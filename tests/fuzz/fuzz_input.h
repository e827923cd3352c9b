// The harness every fuzz target shares. A target is
//
//   FUZZ_TARGET(input) { ...read fields from input, Check(properties)... }
//
// Input reads from the front: fixed fields first, then the bytes that are
// left. Past the end every field reads as zero, so any input is usable and the
// committed seeds can be written by hand in the same order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzing {

using Bytes = std::vector<uint8_t>;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | (U8() << 8)); }
  uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
  bool empty() const { return at_ >= size_; }

  // Up to `count` bytes.
  std::span<const uint8_t> Take(size_t count) {
    const size_t n = std::min(count, size_ - at_);
    at_ += n;
    return {data_ + at_ - n, n};
  }
  // A string prefixed with its one-byte length; LongText with a two-byte one.
  std::string Text() { return Chars(Take(U8())); }
  std::string LongText() { return Chars(Take(U16())); }
  // A one-byte count, then that many UTF-16LE units.
  std::u16string Units() {
    std::u16string out(U8(), u'\0');
    for (char16_t& c : out)
      c = U16();
    return out;
  }
  // The rest in a buffer of exactly its size, so that a read past its end is
  // caught.
  Bytes RestCopy() {
    const std::span<const uint8_t> rest = Take(size_);
    return Bytes(rest.begin(), rest.end());
  }
  // The whole input, however much of it was read.
  std::span<const uint8_t> All() const { return {data_, size_}; }
  std::string_view AllChars() const { return {reinterpret_cast<const char*>(data_), size_}; }

 private:
  static std::string Chars(std::span<const uint8_t> b) { return std::string(b.begin(), b.end()); }

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

inline bool StartsWith(std::span<const uint8_t> bytes, std::span<const uint8_t> prefix) {
  return prefix.size() <= bytes.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

}  // namespace fuzzing

// The libFuzzer entry point around a target's body; the body sees the input
// as `name` and returns nothing.
#define FUZZ_TARGET(name)                                                   \
  static void FuzzOneInput(fuzzing::Input& name);                           \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    fuzzing::Input input(data, size);                                       \
    FuzzOneInput(input);                                                    \
    return 0;                                                               \
  }                                                                         \
  static void FuzzOneInput(fuzzing::Input& name)
