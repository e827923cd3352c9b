// Hotkey values as any registry type could hold them: the number agrees with
// the C library's own conversion of the same text clamped to 32 bits, where
// the text ends at the first zero unit and an odd last byte does not count.
#include <algorithm>
#include <cstdlib>

#include "fuzz_input.h"
#include "interaction/hotkey_value.h"

FUZZ_TARGET(input) {
  const fuzzing::Bytes bytes = input.RestCopy();
  // A unit outside ASCII is neither white space nor a digit for the
  // conversion, so a control character that strtoll stops at stands in.
  std::string text;
  for (size_t i = 0; i + 1 < bytes.size() && (bytes[i] | bytes[i + 1]) != 0; i += 2)
    text.push_back(bytes[i + 1] == 0 && bytes[i] < 0x80 ? static_cast<char>(bytes[i]) : '\x01');
  const long long expected =
      std::clamp<long long>(std::strtoll(text.c_str(), nullptr, 10), INT32_MIN, INT32_MAX);
  fuzzing::Check(mantlet::ParseHotkeyValue(bytes) ==
                 static_cast<uint32_t>(static_cast<int32_t>(expected)));
}
