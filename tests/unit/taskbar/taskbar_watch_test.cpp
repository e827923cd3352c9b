// What a watcher pass enforces, hands on and reports; which taskbars are
// handled; which window the show-desktop probe looks at.
#include <gtest/gtest.h>

#include "taskbar/taskbar_watch.h"

namespace mantlet {
namespace {

struct PassCase {
  const char* name;
  WatcherMemory memory;
  ProbedState probed;  // taskbar visible, start button visible, desktop shown
  TaskbarRequest requested;
  PassActions expected;  // enforce, hand desktop on, report
};

class WatcherPass : public ::testing::TestWithParam<PassCase> {};

TEST_P(WatcherPass, decides_from_the_probe_and_the_request) {
  const PassCase& c = GetParam();
  WatcherMemory memory = c.memory;
  const PassActions a = DecidePass(c.probed, c.requested, memory);
  EXPECT_EQ(a.enforce, c.expected.enforce);
  EXPECT_EQ(a.desktopChanged, c.expected.desktopChanged);
  EXPECT_EQ(a.report, c.expected.report);
  // What is remembered is what was probed, and only when reported.
  const WatcherMemory kept =
      a.report ? WatcherMemory{true, c.probed.desktopShown, c.probed.taskbarVisible} : c.memory;
  EXPECT_EQ(memory.lastDesktopShown, kept.lastDesktopShown);
  EXPECT_EQ(memory.lastTaskbarVisible, kept.lastTaskbarVisible);
}

constexpr WatcherMemory kFresh{false, false, false};
constexpr WatcherMemory kShown{true, false, true};
constexpr WatcherMemory kHidden{true, false, false};
constexpr TaskbarRequest kNone = kTaskbarRequestNone;
constexpr TaskbarRequest kAskShown = kTaskbarRequestShown;
constexpr TaskbarRequest kAskHidden = kTaskbarRequestHidden;

const PassCase kPasses[] = {
    // clang-format off
    {"first_pass_reports_even_all_false",   kFresh,  {false, false, false}, kNone,      {false, false, true}},
    {"first_pass_hands_on_a_shown_desktop", kFresh,  {true, true, true},    kNone,      {false, true, true}},
    {"unchanged_is_not_reported",           kShown,  {true, true, false},   kNone,      {false, false, false}},
    {"no_request_never_enforces",           kShown,  {false, true, false},  kNone,      {false, false, true}},
    {"hidden_asked_visible_found",          kHidden, {true, true, false},   kAskHidden, {true, false, true}},
    {"shown_asked_hidden_found",            kShown,  {false, false, false}, kAskShown,  {true, false, true}},
    {"start_button_hidden_alone",           kShown,  {true, false, false},  kAskShown,  {true, false, false}},
    {"start_button_shown_alone",            kHidden, {false, true, false},  kAskHidden, {true, false, false}},
    {"request_met",                         kHidden, {false, false, false}, kAskHidden, {false, false, false}},
    {"desktop_change",                      kShown,  {true, true, true},    kAskShown,  {false, true, true}},
    // clang-format on
};

INSTANTIATE_TEST_SUITE_P(Table, WatcherPass, ::testing::ValuesIn(kPasses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TaskbarList, secondaries_from_6_2_with_several_monitors) {
  EXPECT_FALSE(WantsSecondaryTaskbars(0x0601, 2) || WantsSecondaryTaskbars(0x0602, 1));
  EXPECT_TRUE(WantsSecondaryTaskbars(0x0602, 2) && WantsSecondaryTaskbars(0x0A00, 3));
}

TEST(FixedList, a_full_list_refuses_and_keeps_what_it_has) {
  FixedList<int, 2> list;
  EXPECT_TRUE(list.Append(1) && list.Append(2));
  EXPECT_FALSE(list.Append(3));
  EXPECT_TRUE(list.full());
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1], 2);
}

TEST(DesktopProbe, looks_at_visible_enabled_ordinary_non_empty_windows_only) {
  constexpr uint32_t kVisible = 0x10000000, kDisabled = 0x08000000, kTopmost = 0x8;
  const ScreenRect full{0, 0, 1920, 1080};
  EXPECT_TRUE(IsDesktopProbeCandidate(kVisible, 0, true, full));
  EXPECT_TRUE(IsDesktopProbeCandidate(kVisible, 0, true, {10, 10, 11, 11}));
  EXPECT_FALSE(IsDesktopProbeCandidate(0, 0, true, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible | kDisabled, 0, true, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible, kTopmost, true, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible, 0, false, full));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible, 0, true, {5, 0, 5, 100}));
  EXPECT_FALSE(IsDesktopProbeCandidate(kVisible, 0, true, {0, 7, 100, 7}));
}

}  // namespace
}  // namespace mantlet
