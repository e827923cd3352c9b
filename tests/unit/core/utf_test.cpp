#include "core/utf.h"

#include <gtest/gtest.h>

namespace mantlet {
namespace {

TEST(Utf8ToUtf16, decodes_every_sequence_length) {
  EXPECT_EQ(Utf8ToUtf16("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"A\u00E9\u20AC\U0001F600");
}

TEST(Utf8ToUtf16, replaces_ill_formed_input_once_per_maximal_subpart) {
  EXPECT_EQ(Utf8ToUtf16("\x80"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong lead
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"
                        "A"),
            u"\uFFFDA");                                                    // truncated, then ASCII
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf16ToUtf8, round_trips_and_replaces_lone_surrogates) {
  const std::u16string text = u"x\u00E9\u20AC\U0001F600";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDC00), u'a'}),
            "\xEF\xBF\xBD"
            "a");
}

}  // namespace
}  // namespace mantlet

namespace mantlet {
namespace {

// Each sequence length at the edges of its range, both ways.
TEST(Utf8Utf16, code_points_at_the_edges_of_each_length) {
  const struct {
    const char* utf8;
    std::u16string utf16;
  } rows[] = {
      // clang-format off
      {"\x7F",             u"\x007F"},
      {"\xC2\x80",         u"\x0080"},
      {"\xDF\xBF",         u"\x07FF"},
      {"\xE0\xA0\x80",     u"\x0800"},
      {"\xE1\x80\x80",     u"\x1000"},
      {"\xED\x9F\xBF",     u"\xD7FF"},
      {"\xEE\x80\x80",     u"\xE000"},
      {"\xEF\xBF\xBF",     u"\xFFFF"},
      {"\xF0\x90\x80\x80", {0xD800, 0xDC00}},
      {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
      {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.utf8);
    EXPECT_EQ(Utf8ToUtf16(row.utf8), row.utf16);
    EXPECT_EQ(Utf16ToUtf8(row.utf16), row.utf8);
  }
  // Past the edges: a lead above F4, a continuation byte above BF.
  EXPECT_EQ(Utf8ToUtf16("\xF5\x80\x80\x80"), std::u16string(4, u'\xFFFD'));
  EXPECT_EQ(Utf8ToUtf16("\xC2\xC0"), std::u16string(2, u'\xFFFD'));
}

}  // namespace
}  // namespace mantlet
