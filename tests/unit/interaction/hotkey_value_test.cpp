#include "interaction/hotkey_value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mantlet {
namespace {

std::vector<uint8_t> Utf16(std::u16string_view s) {
  std::vector<uint8_t> out;
  for (char16_t c : s)
    out.insert(out.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  return out;
}

TEST(HotkeyValue, decimal_text_as_wcstol_reads_it) {
  using namespace std::string_view_literals;
  const struct {
    std::u16string_view text;
    uint32_t expected;
  } cases[] = {
      {u"2\0"sv, 2},
      {u"3"sv, 3},  // no terminator: the data ends the string
      {u" \t\r\n+42\0"sv, 42},
      {u"-1\0"sv, 0xFFFFFFFF},
      {u"12ab3\0"sv, 12},
      {u"7\0"
       u"9"sv,
       7},  // nothing after the first zero unit counts
      {u"\0"sv, 0},
      {u""sv, 0},
      {u"x1\0"sv, 0},
      {u"- 1\0"sv, 0},
      {u"2147483647\0"sv, 0x7FFFFFFF},
      {u"9999999999"sv, 0x7FFFFFFF},  // clamped
      {u"-2147483648"sv, 0x80000000},
      {u"-9999999999"sv, 0x80000000},
      {u"0000000000000000000000000001"sv, 1},
      {u"\u00A01\0"sv, 0},  // only the C white space is skipped
      {u"\uFF11\0"sv, 0},   // full-width digits are no digits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseHotkeyValue(Utf16(c.text)), c.expected)
        << std::string(c.text.begin(), c.text.end());
  }
}

TEST(HotkeyValue, raw_bytes_of_other_types) {
  EXPECT_EQ(ParseHotkeyValue(std::vector<uint8_t>{'3', 0, 0, 0}), 3u);  // REG_DWORD 0x33
  EXPECT_EQ(ParseHotkeyValue(std::vector<uint8_t>{'4', 0, '5'}), 4u);   // odd byte dropped
  EXPECT_EQ(ParseHotkeyValue(std::vector<uint8_t>{'9'}), 0u);
  EXPECT_EQ(ParseHotkeyValue(std::vector<uint8_t>{}), 0u);
}

}  // namespace
}  // namespace mantlet
