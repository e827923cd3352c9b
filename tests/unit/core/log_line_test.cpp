#include "core/log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace mantlet {
namespace {

const LogStamp kStamp{12, 4, 21, 30, 4, 123};

std::string Line(const char* tag, int level, const char* format, ...) {
  char buffer[kLogLineBufferSize];
  va_list args;
  va_start(args, format);
  const size_t length =
      FormatLogLine(buffer, kStamp, tag, "Mantlet", level, 1234, 0x1a2c, format, args);
  va_end(args);
  EXPECT_EQ(length, std::string(buffer).size());
  return std::string(buffer, length);
}

TEST(LogLineLayout, documented_example_arguments_and_an_empty_or_missing_tag) {
  EXPECT_EQ(Line("MANTLETDLL", 2, "Start desktop utilities tool"),
            "12-04 21:30:04.123 I MANTLETDLL /Mantlet:1234:1a2c/ Start desktop utilities tool\n");
  EXPECT_EQ(Line("T", 0, "Can't create mailslot. err=%d", 5),
            "12-04 21:30:04.123 F T /Mantlet:1234:1a2c/ Can't create mailslot. err=5\n");
  EXPECT_EQ(Line("", 2, "text"), "12-04 21:30:04.123 I /Mantlet:1234:1a2c/ text\n");
  EXPECT_EQ(Line(nullptr, 1, "text"), "12-04 21:30:04.123 W /Mantlet:1234:1a2c/ text\n");
}

TEST(LogLineLayout, level_tags_and_their_fallback) {
  const struct {
    int level;
    const char* expected;
  } cases[] = {
      {0, "F "},      {1, "W "},         {2, "I "},          {3, "D "},      {4, "T "},
      {5, "O(5) "},   {7, "O(7) "},      {15, "O(15) "},     {16, "QT: F "}, {18, "QT: I "},
      {20, "QT: T "}, {23, "QT: O(7) "}, {31, "QT: O(15) "}, {32, "O(32) "}, {-1, "O(4294967295) "},
  };
  for (const auto& c : cases) {
    const std::string line = Line("TAG", c.level, "x");
    EXPECT_EQ(line.substr(19, line.find("TAG") - 19), c.expected) << "level " << c.level;
  }
}

TEST(LogLineLayout, text_is_cut_at_4094_keeping_its_newline_and_a_text_of_exactly_the_room_whole) {
  const size_t room = kLogLineMaxText - (Line("TAG", 2, "").size() - 1);
  for (const size_t length : {room, room + 1, size_t{10000}}) {
    const std::string line = Line("TAG", 2, "%s", std::string(length, 'y').c_str());
    EXPECT_EQ(line.size(), kLogLineMaxText + 1) << length;
    EXPECT_EQ(line.substr(line.size() - 3), "yy\n") << length;
  }
}

TEST(LogLineLayout, hostile_tag_and_module_stay_inside_the_buffer) {
  const std::string huge(8000, 'T');
  char buffer[kLogLineBufferSize];
  va_list none{};
  const size_t length =
      FormatLogLine(buffer, kStamp, huge.c_str(), huge.c_str(), 2, 1, 1, nullptr, none);
  EXPECT_EQ(length, kLogLineMaxText + 1);
  EXPECT_EQ(buffer[length - 1], '\n');
  EXPECT_EQ(buffer[length], '\0');
}

}  // namespace
}  // namespace mantlet
