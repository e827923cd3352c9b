// Appbar strips end to end: command 17 through the real module, the appbar
// messages as the shell stand-in receives them, with the time each came.
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

TEST_F(AppBarTest, new_list_mid_sequence_continues_from_its_first_entry) {
  ASSERT_TRUE(SendIndents({{0, 0, 20, 30, 40, 50}}));
  ASSERT_TRUE(WaitEvents("SETPOS", 1, 3000));
  ASSERT_TRUE(SendIndents({{0, 0, 10, -1, -1, -1}}));
  ASSERT_TRUE(WaitEvents("SETPOS", 2));
  Sleep(1500);  // room for any step that should not come
  EXPECT_EQ(WaitPlaced(1), std::vector<std::string>{"0:0,0,10,1080"}) << shell.AppBarLog();
  const auto places = Events("SETPOS");
  ASSERT_EQ(places.size(), 2u);
  EXPECT_GE(places[1].tick - places[0].tick, kMinStepMs);
}

// Lists and the strips they leave, in the order the shell got them.
struct ListCase {
  const char* name;
  Entries entries;
  std::vector<std::string> strips;
};

class AppBarLists : public AppBarTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(AppBarLists, leave_the_strips_asked_and_nothing_else) {
  const std::vector<std::string>& strips = GetParam().strips;
  ASSERT_TRUE(SendIndents(GetParam().entries));
  ASSERT_TRUE(log.WaitFor("Set indents:", 5000));
  // Every step logs each entry it walks: a long list is slow on a busy machine.
  EXPECT_TRUE(WaitUntil([&] { return Placed() == strips; }, 60000)) << shell.AppBarLog();
  Sleep(1000);  // room for any step that should not come
  EXPECT_EQ(Placed(), strips);
  EXPECT_EQ(shell.AppBars().size(), strips.size());
  // The tool still takes commands. (Seen through the shell, not the log:
  // under Wine two threads appending to one file at once can lose a line,
  // and the walk of a long list logs every entry.)
  ASSERT_TRUE(SendRecord(Record(4, 0)));
  EXPECT_TRUE(WaitUntil([&] { return !shell.State().value_or(ShellState{true}).taskbar; }, 60000));
}

Entries LongestList() {
  // Wine's mailslot carries at most 64 KiB in one message (more is cut off
  // or refused): 2,730 entries. The component tests run 10,000.
  Entries entries((65536 - 8) / 24, std::vector<int32_t>{0, 0, -1, -1, -1, -1});
  entries.back() = {0, 0, -1, -1, -1, 25};
  return entries;
}

// The walk of a list (repeats, empty asks) is the unit tests' part; here the
// real monitor lookup and window rectangles, and the mailslot's limit.
INSTANTIATE_TEST_SUITE_P(Lists, AppBarLists,
                         ::testing::Values(ListCase{"far_points_negative_and_huge_indents",
                                                    {{100000, -50000, -1, -1, 35, -1},
                                                     {-3, 7, -7, -1, -1, -1},
                                                     {0, 0, -1, INT_MAX, -1, INT_MIN}},
                                                    {"2:1885,0,1920,1080", "0:0,0,-7,1080",
                                                     "1:0,0,1920,2147483647",
                                                     "3:0,-2147482568,1920,1080"}},
                                           ListCase{"longest_list_the_mailslot_carries",
                                                    LongestList(),
                                                    {"3:0,1055,1920,1080"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppBarTest, stopped_tool_leaves_no_strip_even_mid_sequence) {
  ASSERT_TRUE(SendIndents({{0, 0, 20, 30, -1, -1}}));
  ASSERT_EQ(WaitPlaced(2).size(), 2u);
  ASSERT_TRUE(SendIndents({{0, 0, -1, -1, 40, 50}}));
  ASSERT_EQ(WaitPlaced(3).size(), 3u);  // the sequence is under way
  ASSERT_EQ(StopTool(), 0);
  EXPECT_TRUE(shell.AppBars().empty()) << shell.AppBarLog();
  EXPECT_EQ(Events("REMOVE").size(), 3u);
  EXPECT_EQ(FindWindowW(L"MantletAppBar", nullptr), nullptr);
  EXPECT_EQ(FindWindowW(L"MantletAuxAppBar", nullptr), nullptr);
}

}  // namespace
}  // namespace testsupport
