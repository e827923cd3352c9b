#include "core/log_line.h"

#include <gtest/gtest.h>

using namespace mantlet;
namespace {

std::string Line(const char* tag, int level, const char* format, ...) {
  char buffer[kLogLineBufferSize];
  va_list args;
  va_start(args, format);
  const LogStamp stamp{12, 4, 21, 30, 4, 123};
  const size_t length =
      FormatLogLine(buffer, stamp, tag, "Mantlet", level, 1234, 0x1a2c, format, args);
  va_end(args);
  EXPECT_EQ(length, std::string(buffer).size());
  return std::string(buffer, length);
}

}  // namespace

TEST(LogLineLayout, documented_example_arguments_and_an_empty_or_missing_tag) {
  EXPECT_EQ(Line("MANTLETDLL", 2, "Start desktop utilities tool"),
            "12-04 21:30:04.123 I MANTLETDLL /Mantlet:1234:1a2c/ Start desktop utilities tool\n");
  EXPECT_EQ(Line("T", 0, "err=%d", 5), "12-04 21:30:04.123 F T /Mantlet:1234:1a2c/ err=5\n");
  EXPECT_EQ(Line("", 2, "text"), "12-04 21:30:04.123 I /Mantlet:1234:1a2c/ text\n");
  EXPECT_EQ(Line(nullptr, 1, "text"), "12-04 21:30:04.123 W /Mantlet:1234:1a2c/ text\n");
}

TEST(LogLineLayout, level_tags_and_their_fallback) {
  const std::pair<int, const char*> cases[] = {
      // clang-format off
      {3, "D "}, {4, "T "}, {5, "O(5) "}, {15, "O(15) "}, {16, "QT: F "}, {20, "QT: T "},
      {23, "QT: O(7) "}, {31, "QT: O(15) "}, {32, "O(32) "}, {-1, "O(4294967295) "},
      // clang-format on
  };
  for (const auto& [level, expected] : cases)
    EXPECT_EQ(Line("TAG", level, "x").substr(19),
              expected + std::string("TAG /Mantlet:1234:1a2c/ x\n"));
}

// Whatever the text, tag or module, the line ends in its newline inside the buffer.
TEST(LogLineLayout, text_is_cut_at_4094_keeping_its_newline_and_a_text_of_exactly_the_room_whole) {
  const size_t room = kLogLineMaxText - (Line("TAG", 2, "").size() - 1);
  for (const size_t length : {room, room + 1, size_t{10000}}) {
    const std::string line = Line("TAG", 2, "%s", std::string(length, 'y').c_str());
    EXPECT_EQ(line.size(), kLogLineMaxText + 1) << length;
    EXPECT_EQ(line.substr(line.size() - 3), "yy\n") << length;
  }
  const std::string huge(8000, 'T');
  EXPECT_EQ(Line(huge.c_str(), 2, "x"),
            "12-04 21:30:04.123 I " + huge.substr(0, kLogLineMaxText - 21) + "\n");
}
