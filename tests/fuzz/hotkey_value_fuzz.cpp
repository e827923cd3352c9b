// Hotkey values as any registry type could hold them: the number agrees with
// the C library's own conversion of the same text clamped to 32 bits, and
// nothing after the first zero unit or in an odd last byte counts.
#include <climits>
#include <cstdlib>

#include "fuzz_input.h"
#include "interaction/hotkey_value.h"

namespace {

using fuzzing::Check;

// The units as narrow text up to the first zero unit. A unit outside ASCII
// is neither white space nor a digit for the conversion, so it stands in as
// a control character that strtol stops at too.
std::string Narrow(std::span<const uint8_t> data) {
  std::string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const unsigned unit = data[i] | (data[i + 1] << 8);
    if (unit == 0)
      break;
    text.push_back(unit < 0x80 ? static_cast<char>(unit) : '\x01');
  }
  return text;
}

}  // namespace

FUZZ_TARGET(input) {
  const fuzzing::Bytes bytes = input.RestCopy();
  const size_t size = bytes.size();
  const uint32_t value = mantlet::ParseHotkeyValue(bytes);

  const std::string text = Narrow(bytes);
  long long expected = std::strtoll(text.c_str(), nullptr, 10);
  if (expected > INT32_MAX)
    expected = INT32_MAX;
  if (expected < INT32_MIN)
    expected = INT32_MIN;
  Check(value == static_cast<uint32_t>(static_cast<int32_t>(expected)));

  // An odd last byte is dropped; a zero unit ends the text.
  const fuzzing::Bytes even(bytes.begin(), bytes.begin() + (size & ~size_t{1}));
  Check(mantlet::ParseHotkeyValue(even) == value);
  fuzzing::Bytes longer = even;
  if (text.size() * 2 == even.size()) {
    longer.insert(longer.end(), {0, 0, '7', 0, '7', 0});
    Check(mantlet::ParseHotkeyValue(longer) == value);
  }
}
