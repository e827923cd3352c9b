// The appbar decisions: strip rectangles, the pause between changes, the
// walk through the host's list over several monitors, and the hand-over.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

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
  EXPECT_FALSE(FindAppBar(records, u"\\\\.\\display1", kAppBarTop) ||
               FindAppBar(records, u"\\\\.\\DISPLAY1", kAppBarLeft));
}

// Two monitors side by side ("A" left of "B"); x < 0 lies on none. Each step
// is applied to a bookkeeping of appbars as the working thread keeps it and
// logged as "<action> <monitor><edge>[ <indent>]".
struct Desk {
  std::vector<AppBarRecord> records;
  std::vector<std::string> calls;

  bool Step(std::vector<IndentEntry>& working) {
    const auto resolve = [](const IndentEntry& e) -> std::optional<std::u16string> {
      if (e.displayX < 0)
        return std::nullopt;
      return e.displayX >= 1920 ? u"B" : u"A";
    };
    const auto apply = [this](const std::u16string& device, int32_t indent, uint32_t edge) {
      const auto found = FindAppBar(records, device, edge);
      const AppBarAction action = DecideAppBar(indent, found.has_value());
      const std::string where = std::string(1, static_cast<char>(device[0])) + std::to_string(edge);
      if (action == AppBarAction::kRemove) {
        records.erase(records.begin() + static_cast<ptrdiff_t>(*found));
        calls.push_back("remove " + where);
      } else if (action != AppBarAction::kNothing) {
        if (action == AppBarAction::kCreate)
          records.push_back({records.size() + 100, edge, device});
        calls.push_back((action == AppBarAction::kCreate ? "create " : "place ") + where + " " +
                        std::to_string(indent));
      }
      return action != AppBarAction::kNothing;
    };
    return ApplyFirstChange(working, resolve, apply);
  }
};

TEST(IndentWalk, one_change_per_step_in_edge_order_per_monitor_skipping_what_needs_nothing) {
  using List = std::vector<IndentEntry>;
  const struct {
    const char* what;
    std::vector<List> lists;  // run one after the other to their end
    std::vector<std::string> calls;
  } cases[] = {
      // clang-format off
      // top -1 and right 0 (no strip there) cost no step of their own.
      {"edges in order", {{{0, 0, 20, -1, 0, 50}}}, {"create A0 20", "create A3 50"}},
      {"each monitor its own", {{{100, 100, -1, 30, -1, -1}, {2000, 10, -1, 40, -1, -1}}, {{5, 5, -1, 0, -1, -1}}},
       {"create A1 30", "create B1 40", "remove A1"}},
      // Same monitor twice: both act, the later decides; the same list again places again.
      {"repeats", {{{0, 0, -1, 30, -1, -1}, {10, 10, -1, 60, -1, -1}}, {{0, 0, -1, 60, -1, -1}}},
       {"create A1 30", "place A1 60", "place A1 60"}},
      {"nothing to do", {{{-1, -1, 10, 10, 10, 10}}, {{0, 0, -1, -1, -1, -1}, {0, 0, 0, -1, 0, 0}}, {}}, {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    Desk desk;
    size_t steps = 0;
    for (List working : c.lists) {
      while (desk.Step(working))
        ++steps;
    }
    EXPECT_EQ(desk.calls, c.calls) << c.what;
    EXPECT_EQ(steps, c.calls.size()) << c.what;
  }
  // A step clears each edge it tried; an entry on no monitor is left as it is.
  Desk desk;
  std::vector<IndentEntry> working = {{0, 0, 20, -1, 0, 50}, {-1, -1, 10, 10, 10, 10}};
  ASSERT_TRUE(desk.Step(working));
  EXPECT_EQ(std::tie(working[0].left, working[0].bottom), std::make_tuple(-1, 50));
  ASSERT_TRUE(desk.Step(working));
  EXPECT_FALSE(desk.Step(working));
  EXPECT_EQ(working[1].left, 10);
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
