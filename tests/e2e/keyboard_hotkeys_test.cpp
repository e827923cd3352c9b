// Keyboard-layout hotkeys: read from the registry, reported to the host (0x8501).
#include <gtest/gtest.h>

#include "scoped_registry.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

using namespace std::string_literals;
using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
const std::wstring kToggle = L"Keyboard Layout\\Toggle";

class KeyboardHotkeys : public ToolTest {
 protected:
  void SetHotkey(const wchar_t* name, const std::wstring& value) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kToggle, name, value));
  }
  // The reports since the previous call, once `count` have come.
  Pairs Next(size_t count) {
    WaitUntil([&] { return device.Records(seen_, 0x8501).size() >= count; }, 10000);
    Pairs pairs;
    for (const DevRecord& r : device.Records(seen_, 0x8501)) {
      pairs.emplace_back(r.PayloadWord(0), r.PayloadWord(1));
      seen_ = r.seq;
    }
    return pairs;
  }
  void CheckCommand() { ASSERT_TRUE(SendRecord(Record(10, 0))); }
  // Writes under the watched key that leave the hotkeys as they are, until
  // `done`. The watcher arms itself on its own thread after the start and
  // again after each check, and misses what is written in between; Wine
  // notifies no write of the data a value already holds.
  template <typename Pred>
  bool TouchLayoutKeyUntil(Pred&& done) {
    return WaitUntil(
        [&] {
          SetDword(HKEY_CURRENT_USER, kToggle, L"Unrelated", ++touches_);
          return WaitUntil(done, 500);
        },
        10000);
  }
  // The watcher checked once more (its line came) and nothing was sent.
  bool WatcherSendsNothing(bool active) {
    const std::string line =
        std::string("resetHotkeys=0 currentUserKey=1 m_currentSessionIsActive=") +
        (active ? "1" : "0");
    const size_t before = log.Count(line);
    return TouchLayoutKeyUntil([&] { return log.Count(line) > before; }) &&
           !WaitUntil([&] { return !device.ReportWords(0x8501, seen_).empty(); }, 1000);
  }

  ScopedKeyReset toggle_{HKEY_CURRENT_USER, kToggle};
  uint32_t seen_ = 0;
  DWORD touches_ = 0;
};

TEST_F(KeyboardHotkeys, language_and_layout_hotkeys_reach_the_host_once_until_they_change) {
  SetHotkey(L"Language Hotkey", L"2");
  SetHotkey(L"Layout Hotkey", L"3");
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(Next(1), (Pairs{{2, 3}}));
  EXPECT_EQ(device.Records(0, 0x8501).back().inputLength, 24u);
  EXPECT_TRUE(WatcherSendsNothing(true));
  EXPECT_TRUE(log.WaitFor("CheckCurrentHotkey failed", 1000));
  SetHotkey(L"Language Hotkey", L"1");  // no command: the watcher sees it
  TouchLayoutKeyUntil([&] { return !device.ReportWords(0x8501, seen_).empty(); });
  EXPECT_EQ(Next(1), (Pairs{{1, 3}}));
  CheckCommand();  // command 10 sends even an unchanged pair
  EXPECT_EQ(Next(1), (Pairs{{1, 3}}));
}

TEST_F(KeyboardHotkeys, older_hotkey_value_alone_gives_1_and_the_default_layout) {
  SetHotkey(L"Hotkey", L"1");
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(Next(1), (Pairs{{1, 2}}));
  const auto lines = log.Matching("Can't query layout hotkey");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" I KBDLAYOUT "), std::string::npos);
}

// Code 6 stops the whole tool before the components hear it; 11 is the one
// that leaves the hotkeys component running but inactive.
TEST_F(KeyboardHotkeys, inactive_session_sends_nothing_until_it_is_active_again) {
  SetHotkey(L"Language Hotkey", L"2");
  SetHotkey(L"Layout Hotkey", L"3");
  ASSERT_EQ(StartTool(), 0);
  Next(1);
  size_t commandChecks = 0;
  for (unsigned reactivate : {12u, 5u}) {
    EXPECT_EQ(NotifyTool(11), 0);  // a last check against the default user's key
    EXPECT_EQ(Next(1), (Pairs{{1, 2}}));
    CheckCommand();
    EXPECT_TRUE(log.WaitFor("resetHotkeys=1 currentUserKey=1 m_currentSessionIsActive=0", 10000,
                            ++commandChecks));
    EXPECT_TRUE(WatcherSendsNothing(false));
    EXPECT_EQ(NotifyTool(reactivate), 0);  // the next check sends even this pair
    EXPECT_EQ(Next(1), (Pairs{{2, 3}}));
  }
}

// Every value is read as raw bytes into 20 bytes, whatever its type; how
// those bytes read as a number is the unit tests' table.
TEST_F(KeyboardHotkeys, values_up_to_20_bytes_are_read_and_longer_ones_count_as_absent) {
  ASSERT_EQ(StartTool(), 0);
  Next(1);
  auto bytes = [](const std::u16string& s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    return std::vector<uint8_t>(p, p + 2 * s.size());
  };
  const struct {
    DWORD type;
    std::vector<uint8_t> language, layout;
    std::pair<uint32_t, uint32_t> expected;
  } cases[] = {
      // clang-format off
      {REG_SZ,     bytes(u"123456789\0"s),       bytes(u" +7x\0"s), {123456789, 7}},  // 20 bytes fit
      {REG_BINARY, std::vector<uint8_t>(21, '1'), {},                {1, 0}},  // 21 do not; empty is 0
      // clang-format on
  };
  for (const auto& c : cases) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kToggle.c_str());
    RegSetKeyValueW(HKEY_CURRENT_USER, kToggle.c_str(), L"Language Hotkey", c.type,
                    c.language.data(), static_cast<DWORD>(c.language.size()));
    RegSetKeyValueW(HKEY_CURRENT_USER, kToggle.c_str(), L"Layout Hotkey", c.type, c.layout.data(),
                    static_cast<DWORD>(c.layout.size()));
    CheckCommand();
    // The watcher may report a half-written pair first; the command's comes last.
    EXPECT_TRUE(WaitUntil(
        [&] {
          const Pairs pairs = Next(0);
          return !pairs.empty() && pairs.back() == c.expected;
        },
        10000))
        << c.type;
  }
}

}  // namespace
}  // namespace testsupport
