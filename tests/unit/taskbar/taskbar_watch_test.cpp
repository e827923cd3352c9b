// What a watcher pass enforces and reports, which taskbars are handled, and
// which window the show-desktop probe looks at.
#include <gtest/gtest.h>

#include "taskbar/taskbar_watch.h"

namespace mantlet {
namespace {

struct PassCase {
  const char* name;
  WatcherMemory memory;
  ProbedState probed;
  TaskbarRequest requested;
  PassActions expected;
};

class WatcherPass : public ::testing::TestWithParam<PassCase> {};

TEST_P(WatcherPass, decides_enforcement_hand_on_and_report) {
  const PassCase& c = GetParam();
  WatcherMemory memory = c.memory;
  const PassActions a = DecidePass(c.probed, c.requested, memory);
  EXPECT_EQ(a.enforce, c.expected.enforce);
  EXPECT_EQ(a.desktopChanged, c.expected.desktopChanged);
  EXPECT_EQ(a.report, c.expected.report);
  // What is remembered is what was probed, once reported.
  if (a.report) {
    EXPECT_TRUE(memory.reported);
    EXPECT_EQ(memory.lastDesktopShown, c.probed.desktopShown);
    EXPECT_EQ(memory.lastTaskbarVisible, c.probed.taskbarVisible);
  } else {
    EXPECT_EQ(memory.lastDesktopShown, c.memory.lastDesktopShown);
    EXPECT_EQ(memory.lastTaskbarVisible, c.memory.lastTaskbarVisible);
  }
}

constexpr WatcherMemory kFresh{false, false, false};
constexpr WatcherMemory kShownNoDesktop{true, false, true};
constexpr WatcherMemory kHiddenNoDesktop{true, false, false};

const PassCase kPasses[] = {
    {"first_pass_reports_even_all_false",
     kFresh,
     {false, false, false},
     kTaskbarRequestNone,
     {false, false, true}},
    {"first_pass_with_desktop_shown_hands_it_on",
     kFresh,
     {true, true, true},
     kTaskbarRequestNone,
     {false, true, true}},
    {"unchanged_is_not_reported",
     kShownNoDesktop,
     {true, true, false},
     kTaskbarRequestNone,
     {false, false, false}},
    {"no_request_never_enforces",
     kShownNoDesktop,
     {false, true, false},
     kTaskbarRequestNone,
     {false, false, true}},
    {"hidden_request_enforced_on_a_visible_taskbar",
     kHiddenNoDesktop,
     {true, true, false},
     kTaskbarRequestHidden,
     {true, false, true}},
    {"shown_request_enforced_on_a_hidden_taskbar",
     kShownNoDesktop,
     {false, false, false},
     kTaskbarRequestShown,
     {true, false, true}},
    {"shown_request_enforced_on_a_hidden_start_button",
     kShownNoDesktop,
     {true, false, false},
     kTaskbarRequestShown,
     {true, false, false}},
    {"hidden_request_enforced_on_a_visible_start_button",
     kHiddenNoDesktop,
     {false, true, false},
     kTaskbarRequestHidden,
     {true, false, false}},
    {"request_met_is_left_alone",
     kHiddenNoDesktop,
     {false, false, false},
     kTaskbarRequestHidden,
     {false, false, false}},
    {"desktop_change_is_handed_on_and_reported",
     kShownNoDesktop,
     {true, true, true},
     kTaskbarRequestShown,
     {false, true, true}},
};

INSTANTIATE_TEST_SUITE_P(Table, WatcherPass, ::testing::ValuesIn(kPasses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WatcherPassSequence, reports_once_per_change_of_either_value) {
  WatcherMemory memory;
  const ProbedState states[] = {{true, true, false},   {true, true, false},  {false, false, false},
                                {false, false, false}, {false, false, true}, {false, false, true}};
  int reports = 0, handedOn = 0;
  for (const ProbedState& s : states) {
    const PassActions a = DecidePass(s, kTaskbarRequestNone, memory);
    reports += a.report ? 1 : 0;
    handedOn += a.desktopChanged ? 1 : 0;
  }
  EXPECT_EQ(reports, 3);
  EXPECT_EQ(handedOn, 1);
}

TEST(SecondaryTaskbars, only_from_6_2_and_with_several_monitors) {
  struct {
    uint16_t version;
    int monitors;
    bool wanted;
  } cases[] = {{0x0601, 2, false}, {0x0602, 1, false}, {0x0602, 2, true},
               {0x0A00, 3, true},  {0x0600, 4, false}, {0x0602, 0, false}};
  for (const auto& c : cases)
    EXPECT_EQ(WantsSecondaryTaskbars(c.version, c.monitors), c.wanted)
        << std::hex << c.version << " " << c.monitors;
}

TEST(TaskbarList, holds_sixty_four_and_refuses_more) {
  FixedList<int, kMaxTaskbars> list;
  for (int i = 0; i < 70; ++i)
    EXPECT_EQ(list.Append(i), i < 64) << i;
  EXPECT_EQ(list.size(), 64u);
  EXPECT_TRUE(list.full());
  EXPECT_EQ(list[0], 0);
  EXPECT_EQ(list[63], 63);
  int sum = 0;
  for (int v : list)
    sum += v;
  EXPECT_EQ(sum, 63 * 64 / 2);
}

TEST(DesktopProbe, looks_at_visible_enabled_ordinary_non_empty_windows_only) {
  constexpr uint32_t kVisible = 0x10000000, kDisabled = 0x08000000, kTopmost = 0x8;
  const ScreenRect full{0, 0, 1920, 1080};
  EXPECT_TRUE(IsDesktopProbeCandidate(kVisible, 0, true, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(0, 0, true, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible | kDisabled, 0, true, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible, kTopmost, true, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible, 0, false, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible, 0, true, {5, 0, 5, 100}));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible, 0, true, {0, 7, 100, 7}));
  EXPECT_TRUE(IsDesktopProbeCandidate(kVisible, 0, true, {10, 10, 11, 11}));
}

}  // namespace
}  // namespace mantlet
