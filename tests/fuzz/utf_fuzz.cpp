// Arbitrary bytes as UTF-8 and as UTF-16: decoding replaces what is
// malformed, so what it gives comes back exactly through UTF-8.
#include <cstring>

#include "core/utf.h"
#include "fuzz_input.h"

FUZZ_TARGET(input) {
  const std::span<const uint8_t> bytes = input.Rest();
  const std::u16string wide =
      mantlet::Utf8ToUtf16({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  FUZZ_CHECK(mantlet::Utf8ToUtf16(mantlet::Utf16ToUtf8(wide)) == wide);
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);
  (void)mantlet::Utf16ToUtf8(units);
}
