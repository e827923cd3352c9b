#include "ctl_syntax.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "unit_bytes.h"

using namespace mantletctl;
namespace {

using Words = std::vector<std::string>;

// `head` is the record's first bytes in hex (blanks ignored); everything after
// it up to `size` must be zero padding.
void ExpectRecord(const Record& r, std::string_view head, std::size_t size) {
  unit_bytes::Bytes expected = unit_bytes::Hex(head);
  expected.resize(std::max(expected.size(), size), 0);
  EXPECT_EQ(r, expected) << head;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(CtlSyntax, every_command_builds_its_exact_record) {
  const std::string a70(70, 'a'), b80(80, 'b');
  const std::tuple<std::string, std::string, std::size_t> table[] = {
      // clang-format off
      {"recycle empty", "01000000 00000000", 44}, {"recycle show", "02000000 00000000", 44}, {"shares on", "03000000 01000000", 44},
      {"shares off", "03000000 00000000", 44},    {"taskbar show", "04000000 01000000", 44}, {"taskbar hide", "04000000 00000000", 44},
      {"desktop toggle", "05000000 00000000", 44}, {"relocate-taskbar", "07000000 00000000", 44}, {"weave on", "08000000 01000000", 44},
      {"weave off", "08000000 00000000", 44},     {"hotkeys", "0a000000 00000000", 44},      {"adjust-workarea", "0b000000 00000000", 44},
      {"mac-menu-appbar", "0c000000 00000000", 44}, {"vmcolor 0xCCCCCC", "0e000000 cccccc00", 44}, {"cursor", "0f000000 00000000", 44},
      {"edu", "10000000 00000000", 44},           {"browsers apply", "12000000 03000000", 44}, {"browsers report", "12000000 04000000", 44},
      {"browsers 0x10", "12000000 10000000", 44}, {"raw 13 0", "0d000000 00000000", 44},     {"volumes", "06000000 00000000", 44},
      {"volumes \"Host Disk C\" \"\" Music", "06000000 13000000 486f7374204469736b2043 00 00 4d75736963 00", 44},
      {"msgbox --type 0x40 Hi Ho", "09000000 00000000 40000000 480069000000 48006f000000", 44},
      {"msgbox \"\" \"\"", "09000000 00000000 00000000 0000 0000", 44},  // the caption right after the text's terminator
      {"msgbox -- --type c", "09000000 00000000 00000000 2d002d0074007900700065000000 63000000", 44},
      {"indents 0,0,-1,30,-1,-1", "11000000 18000000 00000000 00000000 ffffffff 1e000000 ffffffff ffffffff", 44},
      {"indents -1920,0x10,0,0,0,0 1,2,3,4,5,6", "11000000 30000000 80f8ffff 10000000 00000000 00000000 00000000 00000000"
                                                "01000000 02000000 03000000 04000000 05000000 06000000", 56},
      {"indents", "11000000 00000000", 44},       {"raw 19 5 DEADbeef 01", "13000000 05000000 deadbeef01", 44},
      {"raw -1 0xffffffff", "ffffffff ffffffff", 44}, {"raw --no-pad 4 0", "04000000 00000000", 8},
      {"raw --no-pad 4 0 " + a70, "04000000 00000000" + a70, 43},
      {"raw 4 1 " + b80, "04000000 01000000" + b80, 48},  // long records keep their length
      // clang-format on
  };
  for (const auto& [line, head, size] : table) {
    const Parsed p = ParseCommand(SplitLine(line).value());
    ASSERT_TRUE(p.ok() && p.records.size() == 1) << line << ": " << p.error;
    ExpectRecord(p.records[0], head, size);
  }
}

TEST(CtlSyntax, utf16_arguments_reach_the_payload_intact) {
  using U16 = std::vector<std::u16string>;
  const Invocation vol =
      ParseInvocation(U16{u"send", u"volumes", u"M\u00fcsik", u"\u97f3\U0001F600"});
  ASSERT_TRUE(vol.ok()) << vol.error;
  ExpectRecord(vol.records.at(0), "06000000 0f000000 4dc3bc73696b00 e99fb3f09f988000", 44);
  const Invocation bad = ParseInvocation(U16{u"send", u"volumes", std::u16string(1, u'\xD800')});
  EXPECT_TRUE(Has(bad.error, "argument 3 is not valid UTF-16")) << bad.error;
}

TEST(CtlSyntax, numbers_take_decimal_hex_and_negatives_within_32_bits) {
  const std::pair<std::string, std::uint32_t> good[] = {
      // clang-format off
      {"0", 0}, {"42", 42}, {"007", 7}, {"0x1F", 31}, {"0XfF", 255}, {"-0", 0}, {"-1", 0xFFFFFFFF},
      {"-0x10", 0xFFFFFFF0}, {"-2147483648", 0x80000000}, {"4294967295", 0xFFFFFFFF},
      // clang-format on
  };
  for (const auto& [text, value] : good)
    EXPECT_EQ(ParseNumber32(text), value) << text;
  for (const char* text : {"", "-", "0x", "+1", "--1", "0x-1", " 1", "1 ", "12a", "1.5",
                           "4294967296", "-2147483649", "0x100000000", "99999999999999999999"})
    EXPECT_FALSE(ParseNumber32(text).has_value()) << text;
}

TEST(CtlSyntax, lines_split_at_blanks_with_quotes_and_comments) {
  EXPECT_EQ(SplitLine(R"(  msgbox  "a \"b\" c"	"C:\\x" )"),
            (Words{"msgbox", R"(a "b" c)", R"(C:\x)"}));
  EXPECT_EQ(SplitLine(R"(volumes C:\dir "" ab"c d"e)"),
            (Words{"volumes", R"(C:\dir)", "", "abc de"}));
  EXPECT_EQ(SplitLine("msgbox C# \"# kept\" # dropped \"\r"), (Words{"msgbox", "C#", "# kept"}));
  EXPECT_EQ(SplitLine("   # only a comment"), Words{});
  EXPECT_FALSE(SplitLine(R"(msgbox "open)").has_value());
  EXPECT_FALSE(SplitLine(R"(msgbox "ends in \")").has_value());
}

TEST(CtlSyntax, batch_builds_every_line_in_order_or_nothing) {
  const Parsed p = ParseBatch(
      "\xEF\xBB\xBF# scenario\r\n"
      "taskbar hide\r\n"
      "\n   \t\n"
      "msgbox --type 0x40 \"Hi there\" \"\"  # trailing comment\n"
      "raw --no-pad 13 0");
  ASSERT_TRUE(p.ok()) << p.error;
  ASSERT_EQ(p.records.size(), 3u);
  ExpectRecord(p.records[0], "04000000 00000000", 44);
  ExpectRecord(p.records[1],
               "09000000 00000000 40000000 48006900200074006800650072006500 0000 0000", 44);
  ExpectRecord(p.records[2], "0d000000 00000000", 8);

  const Parsed bad = ParseBatch("taskbar hide\n\ncursor\nshares maybe\nedu\n");
  EXPECT_TRUE(bad.records.empty());
  EXPECT_EQ(bad.error, "line 4: shares: expected 'on' or 'off', got 'maybe'");
  EXPECT_TRUE(Has(bad.hint, "shares on|off"));

  EXPECT_EQ(ParseBatch("cursor\nmsgbox \"open\n").error, "line 2: a double quote is left open");
  for (const char* empty : {"", "# nothing\n\n"})
    EXPECT_TRUE(Has(ParseBatch(empty).error, "no commands")) << empty;
}

TEST(CtlSyntax, invocation_picks_action_and_signalling) {
  const std::tuple<std::string, Action, bool, std::size_t> good[] = {
      // clang-format off
      {"send taskbar hide", Action::Send, true, 1}, {"--no-signal send cursor", Action::Send, false, 1},
      {"--signal-only", Action::SignalOnly, true, 0}, {"batch", Action::Batch, true, 0}, {"--no-signal batch", Action::Batch, false, 0},
      {"help", Action::Help, true, 0}, {"-h", Action::Help, true, 0}, {"/?", Action::Help, true, 0}};
  // clang-format on
  for (const auto& [line, action, signal, records] : good) {
    const Invocation inv = ParseInvocation(SplitLine(line).value());
    EXPECT_TRUE(inv.ok()) << inv.error;
    EXPECT_EQ(std::tie(inv.action, inv.signal), std::tie(action, signal)) << line;
    EXPECT_EQ(inv.records.size(), records) << line;
  }
}

// A command's own errors come through `send` as they are.
TEST(CtlSyntax, bad_commands_and_invocations_give_a_reason_and_a_hint) {
  const std::pair<std::string, std::string> table[] = {
      // clang-format off
      {"", "nothing to do"}, {"--no-signal", "nothing to do"}, {"--no-signal --signal-only", "exclude each other"},
      {"--signal-only send cursor", "--signal-only sends no records"}, {"send --no-signal cursor", "'--no-signal' goes before 'send'"},
      {"batch cursor", "batch takes its commands from stdin"}, {"--verbose send cursor", "unknown option '--verbose'"},
      {"taskbar hide", "unknown action 'taskbar'"}, {"send", "no command given"}, {"send tasbar hide", "unknown command 'tasbar'"},
      {"send taskbar", "taskbar: expected 'show' or 'hide'"}, {"send taskbar maybe", "expected 'show' or 'hide', got 'maybe'"},
      {"send shares on off", "got 2 words"}, {"send cursor now", "cursor: takes no arguments, got 'now'"},
      {"send msgbox --type 1 \"only text\"", "msgbox: expected a text and a caption, got 1"}, {"send msgbox --type", "--type needs a number"},
      {"send msgbox --type 0x1g a b", "type '0x1g' is not a 32-bit number"}, {"send msgbox --bold a b", "unknown option '--bold'"},
      {"send indents 1,2,3,4,5,6,7", "entry '1,2,3,4,5,6,7' needs six numbers"},
      {"send indents 0,0,0,0,0,0 1,2,x,4,5,6", "field 'x' is not a 32-bit number (decimal or 0x hex) in entry"},
      {"send vmcolor 4294967296", "colour '4294967296' is not a 32-bit number"},
      {"send browsers sometimes", "expected 'apply' or 'report', got 'sometimes' (or a number)"},
      {"send raw --no-pad 4", "expected a command number and an arg"}, {"send raw x 0", "command number 'x'"},
      {"send raw 4 0 abc", "payload 'abc' is not hex bytes"}, {"send volumes ok \xff", "word 3 is not valid UTF-8"},
      // clang-format on
  };
  for (const auto& [line, error] : table) {
    const Invocation inv = ParseInvocation(SplitLine(line).value());
    EXPECT_TRUE(inv.records.empty() && Has(inv.error, error))
        << "got: " << inv.error << "\nwanted: " << error;
    EXPECT_FALSE(inv.hint.empty()) << inv.error;
  }
  EXPECT_TRUE(Has(ParseInvocation(Words{"taskbar", "hide"}).hint, "mantletctl send taskbar"));
  EXPECT_TRUE(
      Has(ParseInvocation(Words{"send", "taskbar", "up"}).hint, "usage: taskbar show|hide"));
  EXPECT_TRUE(Has(ParseInvocation(Words{"send", "13", "x"}).hint, "raw 13 <arg>"));
}

TEST(CtlSyntax, help_shows_every_command_with_an_example_that_parses) {
  std::istringstream help(HelpText());
  // One per command entry (recycle covers 1 and 2, raw any) and send's own.
  std::size_t examples = 0;
  for (std::string line; std::getline(help, line);) {
    if (const std::size_t at = line.find("mantletctl send "); at != std::string::npos) {
      const Parsed p = ParseCommand(SplitLine(line.substr(at + 16)).value_or(Words{}));
      EXPECT_TRUE(p.ok()) << line << ": " << p.error;
      ++examples;
    }
  }
  EXPECT_EQ(examples, 18u);
}
