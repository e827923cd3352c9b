// Appbar strips end to end: command 17 through the real module, the appbar
// messages as the shell stand-in receives them (with the time each came).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

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

  // Asks for the taskbar shown, so that reapplying the work areas has
  // something to do (and asks the shell for its state, which it records).
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
  bool WaitPlaced(size_t count, DWORD timeoutMs = 6000) {
    return WaitUntil(
        [&] {
          const auto bars = shell.AppBars();
          return bars.size() == count &&
                 std::all_of(bars.begin(), bars.end(), [](const auto& b) { return b.placed; });
        },
        timeoutMs, 25);
  }

  ShellStandIn shell;
};

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring TitleOf(HWND window) {
  wchar_t text[64] = {};
  GetWindowTextW(window, text, 64);
  return text;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(AppBarTest, one_top_indent_registers_one_strip_then_reapplies_and_is_removed_by_zero) {
  RequestTaskbarShown();
  ASSERT_TRUE(SendIndents({{0, 0, -1, 30, -1, -1}}));
  ASSERT_TRUE(WaitPlaced(1));
  const ShellAppBar bar = shell.AppBars()[0];
  EXPECT_EQ(bar.edge, 1u);
  EXPECT_TRUE(SameRect(bar.rect, {0, 0, 1920, 30}));
  EXPECT_EQ(bar.state, 2);  // always on top
  HWND window = reinterpret_cast<HWND>(bar.window);
  EXPECT_EQ(ClassOf(window), L"MantletAppBar");
  EXPECT_EQ(TitleOf(window), L"cvn.tools.appbar");
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  EXPECT_EQ(owner, host.Pid());
  EXPECT_FALSE(IsWindowVisible(window));

  // One step later the sequence finds nothing left and reapplies the work
  // areas, which asks the shell for the taskbar state.
  ASSERT_TRUE(WaitEvents("GETSTATE", 1));
  const auto events = shell.AppBarEvents();
  ASSERT_EQ(events.size(), 4u) << shell.AppBarLog();
  EXPECT_EQ(events[0].message, "NEW");
  EXPECT_EQ(events[1].message, "SETSTATE");
  EXPECT_EQ(events[2].message, "SETPOS");
  const ULONGLONG pause = events[3].tick - events[2].tick;
  EXPECT_GE(pause, kMinStepMs);
  EXPECT_LE(pause, kMaxStepMs);

  ASSERT_TRUE(SendIndents({{0, 0, -1, 0, -1, -1}}));
  ASSERT_TRUE(WaitEvents("REMOVE", 1));
  EXPECT_TRUE(shell.AppBars().empty());
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, 3000));
}

TEST_F(AppBarTest, short_payload_removes_every_strip_one_per_step_then_reapplies) {
  RequestTaskbarShown();
  ASSERT_TRUE(SendIndents({{0, 0, 20, 30, -1, -1}}));
  ASSERT_TRUE(WaitPlaced(2));
  ASSERT_TRUE(WaitEvents("GETSTATE", 1));
  shell.Call("appbarlog reset");

  const Bytes payload(23, 0x11);
  ASSERT_TRUE(SendRecord(Record(17, 23, payload)));
  ASSERT_TRUE(WaitEvents("GETSTATE", 1));
  const auto removes = Events("REMOVE");
  ASSERT_EQ(removes.size(), 2u) << shell.AppBarLog();
  EXPECT_GE(removes[1].tick - removes[0].tick, kMinStepMs);
  EXPECT_GE(Events("GETSTATE")[0].tick - removes[1].tick, kMinStepMs);
  EXPECT_TRUE(shell.AppBars().empty());
  EXPECT_EQ(log.Count("Remove all indents"), 3u);  // two removals and the empty tick
}

TEST_F(AppBarTest, new_list_mid_sequence_continues_from_its_first_entry) {
  ASSERT_TRUE(SendIndents({{0, 0, 20, 30, 40, 50}}));
  ASSERT_TRUE(WaitEvents("SETPOS", 1, 3000));
  ASSERT_TRUE(SendIndents({{0, 0, 10, -1, -1, -1}}));
  ASSERT_TRUE(WaitEvents("SETPOS", 2));
  Sleep(1500);  // room for any step that should not come
  const auto bars = shell.AppBars();
  ASSERT_EQ(bars.size(), 1u) << shell.AppBarLog();
  EXPECT_EQ(bars[0].edge, 0u);
  EXPECT_TRUE(SameRect(bars[0].rect, {0, 0, 10, 1080}));
  const auto places = Events("SETPOS");
  ASSERT_EQ(places.size(), 2u);
  EXPECT_GE(places[1].tick - places[0].tick, kMinStepMs);
}

TEST_F(AppBarTest, entries_that_ask_nothing_change_nothing) {
  ASSERT_TRUE(SendIndents({{0, 0, -1, -1, -1, -1}, {0, 0, 0, 0, 0, 0}}));
  ASSERT_TRUE(log.WaitFor("Set indents:", 3000));
  Sleep(1000);
  EXPECT_EQ(shell.AppBarLog(), "");
  EXPECT_EQ(log.Count(" displayX=0; displayY=0 [-1;-1;-1;-1]"), 1u);
  EXPECT_EQ(log.Count(" displayX=0; displayY=0 [0;0;0;0]"), 1u);
}

TEST_F(AppBarTest, entries_on_the_same_monitor_act_in_order_and_the_later_decides) {
  ASSERT_TRUE(SendIndents({{0, 0, -1, 30, -1, -1}, {5, 5, -1, 60, -1, -1}}));
  ASSERT_TRUE(WaitEvents("SETPOS", 2));
  Sleep(800);
  const auto bars = shell.AppBars();
  ASSERT_EQ(bars.size(), 1u);
  EXPECT_TRUE(SameRect(bars[0].rect, {0, 0, 1920, 60}));
  EXPECT_EQ(Events("NEW").size(), 1u);
}

TEST_F(AppBarTest, stopped_tool_leaves_no_strip_even_mid_sequence) {
  ASSERT_TRUE(SendIndents({{0, 0, 20, 30, -1, -1}}));
  ASSERT_TRUE(WaitPlaced(2));
  ASSERT_TRUE(SendIndents({{0, 0, -1, -1, 40, 50}}));
  ASSERT_TRUE(WaitPlaced(3));  // the sequence is under way
  ASSERT_EQ(StopTool(), 0);
  EXPECT_TRUE(shell.AppBars().empty()) << shell.AppBarLog();
  EXPECT_EQ(Events("REMOVE").size(), 3u);
  EXPECT_EQ(FindWindowW(L"MantletAppBar", nullptr), nullptr);
  EXPECT_EQ(FindWindowW(L"MantletAuxAppBar", nullptr), nullptr);
}

// Wine's mailslot carries at most 64 KiB in one message (more is cut off or
// refused), so the longest list end to end is 2,730 entries; the component
// tests run 10,000 through the same decoder and component.
TEST_F(AppBarTest, longest_list_the_mailslot_carries_is_walked_and_the_tool_stays_responsive) {
  Entries entries((65536 - 8) / 24, std::vector<int32_t>{0, 0, -1, -1, -1, -1});
  entries.back() = {0, 0, -1, -1, -1, 25};
  ASSERT_TRUE(SendIndents(entries));
  ASSERT_TRUE(WaitPlaced(1, 60000));
  EXPECT_TRUE(SameRect(shell.AppBars()[0].rect, {0, 1055, 1920, 1080}));
  ASSERT_TRUE(SendRecord(Record(7, 0)));
  EXPECT_TRUE(log.WaitFor("Unsupported command 'RelocateTaskBarCommand'", 60000));
}

TEST_F(AppBarTest, odd_points_and_indents_reach_the_nearest_monitor_without_harm) {
  ASSERT_TRUE(SendIndents({{100000, -50000, -1, -1, 35, -1},
                           {-3, 7, -7, -1, -1, -1},
                           {0, 0, -1, INT_MAX, -1, INT_MIN}}));
  ASSERT_TRUE(WaitPlaced(4, 10000)) << shell.AppBarLog();
  std::vector<unsigned> edges;
  for (const ShellAppBar& bar : shell.AppBars()) {
    edges.push_back(bar.edge);
    if (bar.edge == 2) {
      EXPECT_TRUE(SameRect(bar.rect, {1885, 0, 1920, 1080}));
    } else if (bar.edge == 0) {
      EXPECT_TRUE(SameRect(bar.rect, {0, 0, -7, 1080}));
    }
  }
  EXPECT_EQ(edges, (std::vector<unsigned>{2, 0, 1, 3}));
  ASSERT_TRUE(SendRecord(Record(7, 0)));
  EXPECT_TRUE(log.WaitFor("Unsupported command", 5000));
}

}  // namespace
}  // namespace testsupport
