// Arbitrary bytes as UTF-8 and as UTF-16: conversions never fail and a
// well-formed round trip is exact.
#include "core/utf.h"
#include "fuzz_input.h"

using fuzzing::Check;

FUZZ_TARGET(input) {
  const std::string bytes(input.AllChars());
  const std::u16string wide = mantlet::Utf8ToUtf16(bytes);
  Check(wide.size() <= bytes.size());
  // Decoding replaced what was malformed, so the result is well-formed.
  Check(mantlet::Utf8ToUtf16(mantlet::Utf16ToUtf8(wide)) == wide);
  std::u16string units(bytes.size() / 2, u'\0');
  for (char16_t& c : units)
    c = input.U16();
  (void)mantlet::Utf16ToUtf8(units);
}
