#include "interaction/hotkey_value.h"

#include <cstddef>

namespace mantlet {
namespace {

bool IsSpace(char16_t c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r');
}

}  // namespace

uint32_t ParseHotkeyValue(std::span<const uint8_t> data) {
  const size_t units = data.size() / 2;
  auto unit = [&](size_t i) { return static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8)); };
  size_t i = 0;
  while (i < units && unit(i) != 0 && IsSpace(unit(i)))
    ++i;
  bool negative = false;
  if (i < units && (unit(i) == u'+' || unit(i) == u'-')) {
    negative = unit(i) == u'-';
    ++i;
  }
  // Magnitudes beyond 2^31 are clamped, so 64 bits never overflow here.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (; i < units && unit(i) >= u'0' && unit(i) <= u'9'; ++i) {
    magnitude = magnitude * 10 + (unit(i) - u'0');
    if (magnitude > kLimit)
      magnitude = kLimit;
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > kLimit - 1)
    value = kLimit - 1;
  return static_cast<uint32_t>(static_cast<int32_t>(value));
}

}  // namespace mantlet
