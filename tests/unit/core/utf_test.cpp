#include "core/utf.h"

#include <gtest/gtest.h>

using namespace mantlet;

// Each sequence length at the edges of its range, both ways.
TEST(Utf8Utf16, code_points_at_the_edges_of_each_length_round_trip) {
  const std::pair<const char*, std::u16string> rows[] = {
      // clang-format off
      {"\x7F", u"\x007F"},           {"\xC2\x80", u"\x0080"},         {"\xDF\xBF", u"\x07FF"},
      {"\xE0\xA0\x80", u"\x0800"},   {"\xE1\x80\x80", u"\x1000"},     {"\xED\x9F\xBF", u"\xD7FF"},
      {"\xEE\x80\x80", u"\xE000"},   {"\xEF\xBF\xBF", u"\xFFFF"},     {"\xF0\x90\x80\x80", {0xD800, 0xDC00}},
      {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}}, {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}}, {"\xEF\xBF\xBF\xF0\x90\x80\x80", {0xFFFF, 0xD800, 0xDC00}},
      {"A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"A\u00E9\u20AC\U0001F600"},
      // clang-format on
  };
  for (const auto& [utf8, utf16] : rows) {
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  }
  EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8ToUtf16, replaces_ill_formed_input_once_per_maximal_subpart) {
  const std::u16string r = u"\uFFFD";
  const std::pair<const char*, std::u16string> rows[] = {
      // clang-format off
      {"\x80", r},                    {"\xC0\xAF", r + r},             // overlong lead
      {"\xED\xA0\x80", r + r + r},    {"\xE2\x82" "A", r + u"A"},      // encoded surrogate; truncated, then ASCII
      {"\xF4\x90\x80\x80", r + r + r + r},                             // above U+10FFFF
      {"\xF5\x80\x80\x80", r + r + r + r}, {"\xC2\xC0", r + r},        // a lead above F4, a continuation above BF
      // clang-format on
  };
  for (const auto& [utf8, utf16] : rows)
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
}

TEST(Utf16ToUtf8, replaces_lone_surrogates) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  // A low surrogate never opens a pair, not even one right before another.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDC00), char16_t(0xDC00), u'a'}),
            "\xEF\xBF\xBD\xEF\xBF\xBD"
            "a");
}
