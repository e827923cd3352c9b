// What a watcher pass enforces, hands on and reports; which taskbars are
// handled; which window the show-desktop probe looks at.
#include <gtest/gtest.h>

#include "taskbar/taskbar_watch.h"

using namespace mantlet;

TEST(WatcherPass, decides_from_the_probe_and_the_request) {
  constexpr WatcherMemory kFresh{false, false, false}, kShown{true, false, true},
      kHidden{true, false, false};
  constexpr TaskbarRequest kNone = kTaskbarRequestNone, kAskShown = kTaskbarRequestShown,
                           kAskHidden = kTaskbarRequestHidden;
  const struct {
    const char* name;
    WatcherMemory memory;
    ProbedState probed;  // taskbar visible, start button visible, desktop shown
    TaskbarRequest requested;
    PassActions expected;  // enforce, hand desktop on, report
  } cases[] = {
      // clang-format off
      {"first pass reports even all false",   kFresh,  {false, false, false}, kNone,      {false, false, true}},
      {"first pass hands on a shown desktop", kFresh,  {true, true, true},    kNone,      {false, true, true}},
      {"unchanged is not reported",           kShown,  {true, true, false},   kNone,      {false, false, false}},
      {"no request never enforces",           kShown,  {false, true, false},  kNone,      {false, false, true}},
      {"hidden asked, visible found",         kHidden, {true, true, false},   kAskHidden, {true, false, true}},
      {"start button hidden alone",           kShown,  {true, false, false},  kAskShown,  {true, false, false}},
      {"request met",                         kHidden, {false, false, false}, kAskHidden, {false, false, false}},
      {"desktop change",                      kShown,  {true, true, true},    kAskShown,  {false, true, true}},
      // clang-format on
  };
  for (const auto& c : cases) {
    WatcherMemory memory = c.memory;
    const PassActions a = DecidePass(c.probed, c.requested, memory);
    EXPECT_EQ(std::tie(a.enforce, a.desktopChanged, a.report),
              std::tie(c.expected.enforce, c.expected.desktopChanged, c.expected.report))
        << c.name;
    // What was probed is remembered (rows that report nothing probe what is).
    EXPECT_EQ(std::tie(memory.reported, memory.lastDesktopShown, memory.lastTaskbarVisible),
              std::make_tuple(true, c.probed.desktopShown, c.probed.taskbarVisible));
  }
}

TEST(TaskbarList, secondaries_from_6_2_with_several_monitors) {
  EXPECT_FALSE(WantsSecondaryTaskbars(0x0601, 2) || WantsSecondaryTaskbars(0x0602, 1));
  EXPECT_TRUE(WantsSecondaryTaskbars(0x0602, 2) && WantsSecondaryTaskbars(0x0A00, 3));
}

TEST(DesktopProbe, looks_at_visible_enabled_ordinary_non_empty_windows_only) {
  constexpr uint32_t kVisible = 0x10000000, kDisabled = 0x08000000, kTopmost = 0x8;
  const std::tuple<uint32_t, uint32_t, bool, ScreenRect, bool> cases[] = {
      // clang-format off
      {kVisible, 0, true, {0, 0, 1920, 1080}, true}, {kVisible, 0, true, {10, 10, 11, 11}, true},
      {0, 0, true, {0, 0, 1920, 1080}, false},       {kVisible | kDisabled, 0, true, {0, 0, 1920, 1080}, false},
      {kVisible, kTopmost, true, {0, 0, 1920, 1080}, false}, {kVisible, 0, false, {0, 0, 1920, 1080}, false},
      {kVisible, 0, true, {5, 0, 5, 100}, false},    {kVisible, 0, true, {0, 7, 100, 7}, false},
      // clang-format on
  };
  for (const auto& [style, exStyle, known, rect, candidate] : cases)
    EXPECT_EQ(IsDesktopProbeCandidate(style, exStyle, known, rect), candidate)
        << style << " " << rect.left;
}
