#include "interaction/hotkey_value.h"

#include <gtest/gtest.h>

#include "unit_bytes.h"

using namespace mantlet;
using namespace std::string_view_literals;
using unit_bytes::Bytes, unit_bytes::Utf16;

TEST(HotkeyValue, decimal_text_as_wcstol_reads_it) {
  const std::pair<Bytes, uint32_t> cases[] = {
      // clang-format off
      {Utf16(u"2\0"sv), 2},           {Utf16(u"3"sv), 3},  // no terminator: the data ends the string
      {Utf16(u" \t\r\n+42\0"sv), 42}, {Utf16(u"-1\0"sv), 0xFFFFFFFF}, {Utf16(u"12ab3\0"sv), 12},
      {Utf16(u"7\0" u"9"sv), 7},      {Utf16(u"\0"sv), 0},   {{}, 0}, {Utf16(u"x1\0"sv), 0}, {Utf16(u"- 1\0"sv), 0},
      {Utf16(u"2147483647\0"sv), 0x7FFFFFFF}, {Utf16(u"9999999999"sv), 0x7FFFFFFF},  // clamped
      {Utf16(u"-2147483648"sv), 0x80000000},  {Utf16(u"-9999999999"sv), 0x80000000},
      {Utf16(u"0000000000000000000000000001"sv), 1},
      {Utf16(u"\u00A01\0"sv), 0},     {Utf16(u"\uFF11\0"sv), 0},  // only C white space, only ASCII digits
      {{'3', 0, 0, 0}, 3}, {{'4', 0, '5'}, 4}, {{'9'}, 0},       // REG_DWORD 0x33; an odd last byte dropped
      // clang-format on
  };
  for (const auto& [bytes, expected] : cases)
    EXPECT_EQ(ParseHotkeyValue(bytes), expected) << std::string(bytes.begin(), bytes.end());
}
