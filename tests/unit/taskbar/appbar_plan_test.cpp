// The appbar decisions: strip rectangles, the pause between changes, the
// walk through the host's list over several monitors, and the hand-over.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>

#include "taskbar/appbar_plan.h"

namespace mantlet {
namespace {

constexpr ScreenRect kMonitor{0, 0, 1920, 1080};

TEST(AppBarRect, pulls_in_the_side_opposite_the_edge) {
  const ScreenRect right{1920, -200, 3200, 824};
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarLeft, 20), (ScreenRect{0, 0, 20, 1080}));
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarTop, 30), (ScreenRect{0, 0, 1920, 30}));
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarRight, 40), (ScreenRect{1880, 0, 1920, 1080}));
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarBottom, 50), (ScreenRect{0, 1030, 1920, 1080}));
  EXPECT_EQ(AppBarRect(right, kAppBarTop, 30), (ScreenRect{1920, -200, 3200, -170}));
  EXPECT_EQ(AppBarRect(right, kAppBarBottom, 24), (ScreenRect{1920, 800, 3200, 824}));
  // The host's odd indents: negative ones invert the strip, huge ones wrap
  // around rather than overflow.
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarLeft, -7), (ScreenRect{0, 0, -7, 1080}));
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarTop, INT_MAX), (ScreenRect{0, 0, 1920, INT_MAX}));
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarRight, INT_MIN),
            (ScreenRect{1920 + INT_MIN, 0, 1920, 1080}));
}

TEST(StepDelay, grows_by_70_ms_per_window_between_500_and_2000) {
  const std::pair<size_t, uint32_t> cases[] = {{0, 500},     {7, 500},        {8, 560},
                                               {10, 700},    {28, 1960},      {29, 2000},
                                               {1000, 2000}, {SIZE_MAX, 2000}};
  for (const auto& [windows, ms] : cases)
    EXPECT_EQ(StepDelayMs(windows), ms) << windows;
}

TEST(FindAppBar, device_name_is_compared_exactly) {
  const std::vector<AppBarRecord> records = {{1, kAppBarTop, u"\\\\.\\DISPLAY1"}};
  EXPECT_EQ(FindAppBar(records, u"\\\\.\\DISPLAY1", kAppBarTop), 0u);
  EXPECT_FALSE(FindAppBar(records, u"\\\\.\\display1", kAppBarTop));
  EXPECT_FALSE(FindAppBar(records, u"\\\\.\\DISPLAY1", kAppBarLeft));
}

// Two monitors side by side ("A" left of "B"); x < 0 lies on none. Each step
// is applied to a bookkeeping of appbars as the working thread keeps it.
struct Desk {
  struct Monitor {
    std::u16string device;
    ScreenRect rect;
  };
  std::vector<AppBarRecord> records;
  std::map<std::pair<std::u16string, uint32_t>, ScreenRect> strips;
  std::vector<std::string> calls;

  bool Step(std::vector<IndentEntry>& working) {
    const auto resolve = [](const IndentEntry& e) -> std::optional<Monitor> {
      if (e.displayX < 0)
        return std::nullopt;
      return e.displayX >= 1920 ? Monitor{u"B", {1920, 0, 3840, 1080}} : Monitor{u"A", kMonitor};
    };
    const auto apply = [this](const Monitor& m, int32_t indent, uint32_t edge) {
      const auto found = FindAppBar(records, m.device, edge);
      const AppBarAction action = DecideAppBar(indent, found.has_value());
      const std::string where(m.device.begin(), m.device.end());
      if (action == AppBarAction::kNothing)
        return false;
      if (action == AppBarAction::kRemove) {
        records.erase(records.begin() + static_cast<ptrdiff_t>(*found));
        strips.erase({m.device, edge});
        calls.push_back("remove " + where + std::to_string(edge));
        return true;
      }
      if (action == AppBarAction::kCreate)
        records.push_back({records.size() + 100, edge, m.device});
      strips[{m.device, edge}] = AppBarRect(m.rect, edge, indent);
      calls.push_back((action == AppBarAction::kCreate ? "create " : "place ") + where +
                      std::to_string(edge) + " " + std::to_string(indent));
      return true;
    };
    return ApplyFirstChange(working, resolve, apply);
  }
  int Run(std::vector<IndentEntry> working) {
    int steps = 0;
    while (Step(working))
      ++steps;
    return steps;
  }
};

TEST(IndentWalk, one_change_per_step_in_edge_order_consuming_each_edge) {
  Desk desk;
  std::vector<IndentEntry> working = {{0, 0, 20, -1, 0, 50}};
  ASSERT_TRUE(desk.Step(working));
  EXPECT_EQ(working[0].left, -1);
  EXPECT_EQ(working[0].bottom, 50);
  // top -1 and right 0 (no strip there) cost no step of their own.
  ASSERT_TRUE(desk.Step(working));
  EXPECT_FALSE(desk.Step(working));
  EXPECT_EQ(desk.calls, (std::vector<std::string>{"create A0 20", "create A3 50"}));
}

TEST(IndentWalk, each_monitor_keeps_its_own_strips) {
  Desk desk;
  EXPECT_EQ(desk.Run({{100, 100, -1, 30, -1, -1}, {2000, 10, -1, 40, -1, -1}}), 2);
  EXPECT_EQ(desk.records.size(), 2u);
  EXPECT_EQ((desk.strips[{u"A", kAppBarTop}]), (ScreenRect{0, 0, 1920, 30}));
  EXPECT_EQ((desk.strips[{u"B", kAppBarTop}]), (ScreenRect{1920, 0, 3840, 40}));
  EXPECT_EQ(desk.Run({{5, 5, -1, 0, -1, -1}}), 1);  // A's strip goes, B's stays
  ASSERT_EQ(desk.records.size(), 1u);
  EXPECT_EQ(desk.records[0].device, u"B");
}

TEST(IndentWalk, repeats_skips_and_empty_asks) {
  Desk desk;
  // Same monitor twice: both act, the later decides; the same list again
  // places again without creating.
  EXPECT_EQ(desk.Run({{0, 0, -1, 30, -1, -1}, {10, 10, -1, 60, -1, -1}}), 2);
  EXPECT_EQ(desk.Run({{0, 0, -1, 60, -1, -1}}), 1);
  EXPECT_EQ(desk.calls, (std::vector<std::string>{"create A1 30", "place A1 60", "place A1 60"}));
  // No monitor: the entry is skipped as it is.
  std::vector<IndentEntry> working = {{-1, -1, 10, 10, 10, 10}};
  EXPECT_FALSE(desk.Step(working));
  EXPECT_EQ(working[0].left, 10);
  EXPECT_EQ(desk.Run({{0, 0, -1, -1, -1, -1}, {0, 0, 0, -1, 0, 0}}), 0);
  EXPECT_EQ(desk.Run({}), 0);
}

TEST(IndentHandOver, the_newest_list_always_ends_in_the_working_list_for_one_wake_up) {
  IndentHandOver handOver;
  std::vector<IndentEntry> working;
  const IndentEntry a[] = {{0, 0, 1, -1, -1, -1}, {0, 0, 2, -1, -1, -1}};
  const IndentEntry b[] = {{0, 0, 3, -1, -1, -1}};
  // Two lists before one hand-over: one wake-up, and the next hand-over
  // brings nothing older.
  EXPECT_TRUE(handOver.Store(a, 2));
  EXPECT_FALSE(handOver.Store(b, 1));
  ASSERT_TRUE(handOver.TakeNewest(working));
  ASSERT_EQ(working.size(), 1u);
  EXPECT_EQ(working[0].left, 3);
  working[0].left = -1;  // consumed by a step
  EXPECT_FALSE(handOver.TakeNewest(working));
  EXPECT_EQ(working[0].left, -1);  // and how far it was consumed is kept
  // A new list replaces a half-consumed one from its first entry; an empty
  // list is a list too. Each hand-over makes way for the next wake-up, and
  // so does a wake-up that could not be sent.
  EXPECT_TRUE(handOver.Store(a, 2));
  ASSERT_TRUE(handOver.TakeNewest(working));
  EXPECT_EQ(working[0].left, 1);
  EXPECT_TRUE(handOver.Store(nullptr, 0));
  handOver.WakeUpFailed();
  EXPECT_TRUE(handOver.Store(nullptr, 0));
  ASSERT_TRUE(handOver.TakeNewest(working));
  EXPECT_TRUE(working.empty());
}

}  // namespace
}  // namespace mantlet
