// Appbar strips end to end where a scenario cannot look: the appbar window
// itself, the pace of the steps (the appbar messages as the shell stand-in
// receives them, with the time each came) and the longest list. The strips
// lists leave are tests/scenarios/appbars.scenario's.
#include <gtest/gtest.h>

#include "shell_control.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

using Entries = std::vector<std::vector<int32_t>>;

// "about 500 ms" between steps, on a machine that may be three times slower.
constexpr ULONGLONG kMinStepMs = 400;
constexpr ULONGLONG kMaxStepMs = 2500;

class AppBarTest : public ToolTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shell.Launch()) << "shell stand-in did not start or is not found";
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
  }
  void TearDown() override {
    ToolTest::TearDown();
    shell.Close();
  }

  bool SendIndents(const Entries& entries) {
    const Bytes payload = IndentsPayload(entries);
    return SendRecord(Record(17, static_cast<uint32_t>(payload.size()), payload));
  }
  // With the taskbar asked shown, reapplying the work areas asks the shell
  // for the taskbar state, which the shell records (GETSTATE).
  void RequestTaskbarShown() {
    ASSERT_TRUE(SendRecord(Record(4, 1)));
    ASSERT_TRUE(log.WaitFor("Workarea set to", 5000));
    shell.Call("appbarlog reset");
  }
  std::vector<ShellAppBarEvent> Events(const std::string& message) {
    std::vector<ShellAppBarEvent> out;
    for (const ShellAppBarEvent& e : shell.AppBarEvents()) {
      if (e.message == message)
        out.push_back(e);
    }
    return out;
  }
  bool WaitEvents(const std::string& message, size_t count, DWORD timeoutMs = 6000) {
    return WaitUntil([&] { return Events(message).size() >= count; }, timeoutMs, 25);
  }
  // The appbars that have their place, as "edge:l,t,r,b", in creation order.
  std::vector<std::string> Placed() {
    std::vector<std::string> placed;
    for (const ShellAppBar& bar : shell.AppBars()) {
      if (bar.placed)
        placed.push_back(std::to_string(bar.edge) + ":" + RectText(bar.rect));
    }
    return placed;
  }
  std::vector<std::string> WaitPlaced(size_t count, DWORD timeoutMs = 6000) {
    std::vector<std::string> placed;
    WaitUntil([&] { return (placed = Placed()).size() == count; }, timeoutMs, 25);
    return placed;
  }

  ShellStandIn shell;
};

TEST_F(AppBarTest, one_top_indent_registers_one_strip_then_reapplies_and_zero_removes_it) {
  RequestTaskbarShown();
  ASSERT_TRUE(SendIndents({{0, 0, -1, 30, -1, -1}}));
  ASSERT_EQ(WaitPlaced(1), std::vector<std::string>{"1:0,0,1920,30"});
  const ShellAppBar bar = shell.AppBars()[0];
  EXPECT_EQ(bar.state, 2);  // always on top
  HWND window = reinterpret_cast<HWND>(bar.window);
  wchar_t text[64] = {};
  GetClassNameW(window, text, 64);
  EXPECT_STREQ(text, L"MantletAppBar");
  GetWindowTextW(window, text, 64);
  EXPECT_STREQ(text, L"cvn.tools.appbar");
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  EXPECT_EQ(owner, host.Pid());
  EXPECT_FALSE(IsWindowVisible(window));

  // One step later the sequence finds nothing left and reapplies.
  ASSERT_TRUE(WaitEvents("GETSTATE", 1));
  const auto events = shell.AppBarEvents();
  ASSERT_EQ(events.size(), 4u) << shell.AppBarLog();
  EXPECT_EQ(events[0].message + events[1].message + events[2].message, "NEWSETSTATESETPOS");
  EXPECT_GE(events[3].tick - events[2].tick, kMinStepMs);
  EXPECT_LE(events[3].tick - events[2].tick, kMaxStepMs);

  ASSERT_TRUE(SendIndents({{0, 0, -1, 0, -1, -1}}));
  ASSERT_TRUE(WaitEvents("REMOVE", 1));
  EXPECT_TRUE(shell.AppBars().empty());
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, 3000));
}

TEST_F(AppBarTest, short_payload_removes_every_strip_one_per_step_then_reapplies) {
  RequestTaskbarShown();
  ASSERT_TRUE(SendIndents({{0, 0, 20, 30, -1, -1}}));
  ASSERT_EQ(WaitPlaced(2).size(), 2u);
  ASSERT_TRUE(WaitEvents("GETSTATE", 1));
  shell.Call("appbarlog reset");
  ASSERT_TRUE(SendRecord(Record(17, 23, Bytes(23, 0x11))));
  ASSERT_TRUE(WaitEvents("GETSTATE", 1));
  const auto removes = Events("REMOVE");
  ASSERT_EQ(removes.size(), 2u) << shell.AppBarLog();
  EXPECT_GE(removes[1].tick - removes[0].tick, kMinStepMs);
  EXPECT_GE(Events("GETSTATE")[0].tick - removes[1].tick, kMinStepMs);
  EXPECT_TRUE(shell.AppBars().empty());
}

// Wine's mailslot carries at most 64 KiB in one message (more is cut off or
// refused): 2,730 entries, the last one a strip. The tool still takes
// commands after the walk. (Seen through the shell, not the log: under Wine
// two threads appending to one file at once can lose a line, and the walk of
// a long list logs every entry.)
TEST_F(AppBarTest, longest_list_the_mailslot_carries_leaves_its_strip) {
  Entries entries((65536 - 8) / 24, std::vector<int32_t>{0, 0, -1, -1, -1, -1});
  entries.back() = {0, 0, -1, -1, -1, 25};
  ASSERT_TRUE(SendIndents(entries));
  EXPECT_TRUE(
      WaitUntil([&] { return Placed() == std::vector<std::string>{"3:0,1055,1920,1080"}; }, 60000))
      << shell.AppBarLog();
  ASSERT_TRUE(SendRecord(Record(4, 0)));
  EXPECT_TRUE(WaitUntil([&] { return !shell.State().value_or(ShellState{true}).taskbar; }, 60000));
}

}  // namespace
}  // namespace testsupport
