// Keyboard-layout hotkeys: read from the registry, reported to the host (0x8501).
#include <gtest/gtest.h>

#include <utility>

#include "scoped_registry.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

using namespace std::string_literals;

constexpr uint32_t kHotkeysReport = 0x8501;
const std::wstring kToggle = L"Keyboard Layout\\Toggle";
using Pair = std::pair<uint32_t, uint32_t>;

class KeyboardHotkeys : public ToolTest {
 protected:
  void SetHotkey(const wchar_t* name, const std::wstring& value) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kToggle, name, value));
  }
  std::vector<Pair> Reports() {
    std::vector<Pair> pairs;
    for (const DevRecord& r : device.Records(seen_, kHotkeysReport))
      pairs.emplace_back(r.PayloadWord(0), r.PayloadWord(1));
    return pairs;
  }
  // The reports that arrived since the last call, once `count` are there.
  std::vector<Pair> Next(size_t count) {
    WaitUntil([&] { return Reports().size() >= count; }, 10000);
    std::vector<Pair> pairs = Reports();
    if (auto stats = device.Stats())
      seen_ = stats->lastSeq;
    return pairs;
  }
  // The sent-nothing answer of a check: its line, then no report.
  bool NothingSentBy(const std::string& checkLine, size_t times) {
    return log.WaitFor(checkLine, 10000, times) &&
           !WaitUntil([&] { return !Reports().empty(); }, 1000);
  }
  void CheckCommand() { ASSERT_TRUE(SendRecord(Record(10, 0))); }
  // A write under the watched key that leaves the hotkeys as they are. Wine
  // does not notify a write of the value a key already holds.
  void TouchLayoutKey() { SetDword(HKEY_CURRENT_USER, kToggle, L"Unrelated", ++touches_); }

  ScopedKeyReset toggle_{HKEY_CURRENT_USER, kToggle};
  uint32_t seen_ = 0;
  DWORD touches_ = 0;
};

TEST_F(KeyboardHotkeys, language_and_layout_hotkeys_reach_the_host_once_until_they_change) {
  SetHotkey(L"Language Hotkey", L"2");
  SetHotkey(L"Layout Hotkey", L"3");
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(Next(1), (std::vector<Pair>{{2, 3}}));
  const auto report = device.Records(0, kHotkeysReport).back();
  EXPECT_EQ(report.inputLength, 24u);
  EXPECT_EQ(report.block[8], 8);  // inline size, no descriptors

  TouchLayoutKey();
  EXPECT_TRUE(NothingSentBy("resetHotkeys=0 currentUserKey=1", 1));
  EXPECT_TRUE(log.WaitFor("CheckCurrentHotkey failed", 1000));

  SetHotkey(L"Language Hotkey", L"1");  // no command: the watcher sees it
  EXPECT_EQ(Next(1), (std::vector<Pair>{{1, 3}}));
  CheckCommand();  // command 10 sends even an unchanged pair
  EXPECT_EQ(Next(1), (std::vector<Pair>{{1, 3}}));
}

TEST_F(KeyboardHotkeys, older_hotkey_value_alone_gives_1_and_the_default_layout) {
  SetHotkey(L"Hotkey", L"1");
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(Next(1), (std::vector<Pair>{{1, 2}}));
  const auto lines = log.Matching("Can't query layout hotkey");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" I KBDLAYOUT "), std::string::npos);
  EXPECT_EQ(log.Count("Can't query language hotkey"), 0u);
}

TEST_F(KeyboardHotkeys, no_toggle_key_sends_the_defaults_and_warns_on_every_check) {
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(Next(1), (std::vector<Pair>{{1, 2}}));
  CheckCommand();
  EXPECT_EQ(Next(1), (std::vector<Pair>{{1, 2}}));
  const auto lines = log.Matching("Can't open layout key. currentUserKey=1");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find(" W KBDLAYOUT "), std::string::npos);
}

TEST_F(KeyboardHotkeys, inactive_session_sends_nothing_until_it_is_active_again) {
  SetHotkey(L"Language Hotkey", L"2");
  SetHotkey(L"Layout Hotkey", L"3");
  ASSERT_EQ(StartTool(), 0);
  Next(1);
  size_t inactiveChecks = 0;
  for (unsigned reactivate : {12u, 5u}) {
    EXPECT_EQ(NotifyTool(11), 0);  // a last check against the default user's key
    EXPECT_EQ(Next(1), (std::vector<Pair>{{1, 2}}));
    CheckCommand();
    TouchLayoutKey();
    inactiveChecks += 2;
    EXPECT_TRUE(NothingSentBy("m_currentSessionIsActive=0", inactiveChecks));
    EXPECT_EQ(NotifyTool(reactivate), 0);  // and the next check sends even this pair
    EXPECT_EQ(Next(1), (std::vector<Pair>{{2, 3}}));
  }
}

// Every value is read as raw bytes into 20 bytes, whatever its type.
TEST_F(KeyboardHotkeys, values_of_any_type_and_size_read_as_decimal_text) {
  ASSERT_EQ(StartTool(), 0);
  Next(1);
  auto bytes = [](std::u16string s) {
    return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(s.data()),
                                reinterpret_cast<const uint8_t*>(s.data() + s.size()));
  };
  struct Case {
    DWORD type;
    std::vector<uint8_t> language, layout;
    Pair expected;
  } cases[] = {
      {REG_SZ, bytes(u"123456789\0"s), bytes(u" +7x\0"s), {123456789, 7}},  // 20 bytes fit
      {REG_SZ, bytes(u"1234567890\0"s), bytes(u"-1\0"s), {1, 0xFFFFFFFF}},  // 22 do not
      {REG_DWORD, {'4', 0, 0, 0}, {'5', 0, '6', 0}, {4, 56}},
      {REG_BINARY, {'9'}, bytes(u"8"), {0, 8}},  // an odd byte is no unit
      {REG_MULTI_SZ, bytes(u"3\0002\0\0"s), bytes(u"\0"s), {3, 0}},
      {REG_QWORD, std::vector<uint8_t>(21, '1'), {}, {1, 0}},
  };
  for (const Case& c : cases) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kToggle.c_str());
    RegSetKeyValueW(HKEY_CURRENT_USER, kToggle.c_str(), L"Language Hotkey", c.type,
                    c.language.data(), static_cast<DWORD>(c.language.size()));
    RegSetKeyValueW(HKEY_CURRENT_USER, kToggle.c_str(), L"Layout Hotkey", c.type, c.layout.data(),
                    static_cast<DWORD>(c.layout.size()));
    CheckCommand();
    EXPECT_TRUE(
        WaitUntil([&] { return !Reports().empty() && Reports().back() == c.expected; }, 10000))
        << "type " << c.type << ": got " << (Reports().empty() ? 0 : Reports().back().first);
    Next(0);
  }
}

}  // namespace
}  // namespace testsupport
