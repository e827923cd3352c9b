// Arbitrary bytes as UTF-8 and as UTF-16: conversions never fail and a
// well-formed round trip is exact.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = mantlet::Utf8ToUtf16(bytes);
  if (wide.size() > size)
    __builtin_trap();
  // Decoding replaced what was malformed, so the result is well-formed.
  if (mantlet::Utf8ToUtf16(mantlet::Utf16ToUtf8(wide)) != wide)
    __builtin_trap();
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  (void)mantlet::Utf16ToUtf8(units);
  return 0;
}
