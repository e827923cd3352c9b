#include "interaction/hotkey_value.h"

#include <gtest/gtest.h>

#include <string>

#include "unit_bytes.h"

using namespace mantlet;

using unit_bytes::Utf16;
using namespace std::string_view_literals;

TEST(HotkeyValue, decimal_text_as_wcstol_reads_it) {
  const struct {
    std::u16string_view text;
    uint32_t expected;
  } cases[] = {
      // clang-format off
      {u"2\0"sv, 2},           {u"3"sv, 3},                 // no terminator: the data ends the string
      {u" \t\r\n+42\0"sv, 42}, {u"-1\0"sv, 0xFFFFFFFF},    {u"12ab3\0"sv, 12},
      {u"7\0" u"9"sv, 7},                                   // nothing after the first zero unit counts
      {u"\0"sv, 0},            {u""sv, 0},                  {u"x1\0"sv, 0},           {u"- 1\0"sv, 0},
      {u"2147483647\0"sv, 0x7FFFFFFF}, {u"9999999999"sv, 0x7FFFFFFF},  // clamped
      {u"-2147483648"sv, 0x80000000},  {u"-9999999999"sv, 0x80000000},
      {u"0000000000000000000000000001"sv, 1},
      {u"\u00A01\0"sv, 0},     {u"\uFF11\0"sv, 0},          // only C white space, only ASCII digits
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseHotkeyValue(Utf16(c.text)), c.expected)
        << std::string(c.text.begin(), c.text.end());
  }
  // Raw bytes of other types: REG_DWORD 0x33, an odd last byte dropped.
  const std::pair<unit_bytes::Bytes, uint32_t> raw[] = {
      {{'3', 0, 0, 0}, 3}, {{'4', 0, '5'}, 4}, {{'9'}, 0}, {{}, 0}};
  for (const auto& [bytes, expected] : raw)
    EXPECT_EQ(ParseHotkeyValue(bytes), expected) << bytes.size();
}
