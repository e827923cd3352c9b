// The harness every fuzz target shares: FUZZ_TARGET(input) { ... } sees the
// input as a reader that takes fixed fields from the front (zero past the
// end, so any input is usable and seeds can be written field by field) and
// leaves the rest. libFuzzer hands over a buffer of exactly the input's size,
// so a read past the rest is caught by the address sanitizer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace fuzzing {

struct Input {
  const uint8_t* data;
  size_t size, at = 0;

  uint8_t U8() { return at < size ? data[at++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8)
      v |= uint32_t{U8()} << shift;
    return v;
  }
  // A string prefixed with its length (a u32, up to 8 KiB).
  std::string Text() {
    const size_t length = std::min<size_t>(U32() % 8192, size - at);
    return std::string(reinterpret_cast<const char*>(data) + std::exchange(at, at + length),
                       length);
  }
  std::span<const uint8_t> Rest() { return {data + at, size - std::exchange(at, size)}; }
};

}  // namespace fuzzing

// A property the code must keep; a failure stops the fuzzer with the input.
#define FUZZ_CHECK(holds) ((holds) ? void() : __builtin_trap())

#define FUZZ_TARGET(name)                                                   \
  static void FuzzOneInput(fuzzing::Input& name);                           \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    fuzzing::Input input{data, size};                                       \
    return FuzzOneInput(input), 0;                                          \
  }                                                                         \
  static void FuzzOneInput(fuzzing::Input& name)
