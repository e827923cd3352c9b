// The appbar decisions: strip rectangles, the pause between changes, what an
// indent asks, the walk through the host's list, and the hand-over.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <tuple>

#include "taskbar/appbar_plan.h"

namespace mantlet {
namespace {

constexpr ScreenRect kMonitor{0, 0, 1920, 1080};
constexpr ScreenRect kRightMonitor{1920, -200, 3200, 824};

TEST(AppBarRect, pulls_in_the_side_opposite_the_edge) {
  struct {
    ScreenRect monitor;
    uint32_t edge;
    int32_t indent;
    ScreenRect expected;
  } cases[] = {
      {kMonitor, kAppBarLeft, 20, {0, 0, 20, 1080}},
      {kMonitor, kAppBarTop, 30, {0, 0, 1920, 30}},
      {kMonitor, kAppBarRight, 40, {1880, 0, 1920, 1080}},
      {kMonitor, kAppBarBottom, 50, {0, 1030, 1920, 1080}},
      {kRightMonitor, kAppBarLeft, 20, {1920, -200, 1940, 824}},
      {kRightMonitor, kAppBarTop, 30, {1920, -200, 3200, -170}},
      {kRightMonitor, kAppBarBottom, 24, {1920, 800, 3200, 824}},
      // Indents are the host's: negative ones invert the strip, huge ones
      // wrap around instead of overflowing.
      {kMonitor, kAppBarLeft, -7, {0, 0, -7, 1080}},
      {kMonitor, kAppBarTop, INT_MAX, {0, 0, 1920, INT_MAX}},
      {kMonitor, kAppBarRight, INT_MIN, {1920 + INT_MIN, 0, 1920, 1080}},
      {kMonitor, kAppBarBottom, INT_MIN, {0, 1080 + INT_MIN, 1920, 1080}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AppBarRect(c.monitor, c.edge, c.indent), c.expected)
        << "edge " << c.edge << " indent " << c.indent;
  }
}

TEST(StepDelay, grows_by_70_ms_per_window_between_500_and_2000) {
  const std::pair<size_t, uint32_t> cases[] = {{0, 500},   {1, 500},     {7, 500},
                                               {8, 560},   {10, 700},    {28, 1960},
                                               {29, 2000}, {1000, 2000}, {SIZE_MAX, 2000}};
  for (const auto& [windows, ms] : cases)
    EXPECT_EQ(StepDelayMs(windows), ms) << windows;
}

TEST(DecideAppBar, maps_indent_and_existing_appbar_to_one_action) {
  EXPECT_EQ(DecideAppBar(-1, false), AppBarAction::kNothing);
  EXPECT_EQ(DecideAppBar(-1, true), AppBarAction::kNothing);
  EXPECT_EQ(DecideAppBar(0, false), AppBarAction::kNothing);
  EXPECT_EQ(DecideAppBar(0, true), AppBarAction::kRemove);
  EXPECT_EQ(DecideAppBar(30, false), AppBarAction::kCreate);
  EXPECT_EQ(DecideAppBar(30, true), AppBarAction::kPlace);
  EXPECT_EQ(DecideAppBar(-2, false), AppBarAction::kCreate);
}

TEST(FindAppBar, matches_device_exactly_and_edge) {
  const std::vector<AppBarRecord> records = {
      {1, kAppBarTop, u"\\\\.\\DISPLAY1"},
      {2, kAppBarTop, u"\\\\.\\DISPLAY2"},
      {3, kAppBarLeft, u"\\\\.\\DISPLAY1"},
  };
  EXPECT_EQ(FindAppBar(records, u"\\\\.\\DISPLAY1", kAppBarTop), 0u);
  EXPECT_EQ(FindAppBar(records, u"\\\\.\\DISPLAY2", kAppBarTop), 1u);
  EXPECT_EQ(FindAppBar(records, u"\\\\.\\DISPLAY1", kAppBarLeft), 2u);
  EXPECT_FALSE(FindAppBar(records, u"\\\\.\\display1", kAppBarTop));
  EXPECT_FALSE(FindAppBar(records, u"\\\\.\\DISPLAY2", kAppBarLeft));
  EXPECT_FALSE(FindAppBar({}, u"\\\\.\\DISPLAY1", kAppBarTop));
}

// Two monitors side by side; points resolve to the one they lie on, the
// point (-1, -1) to none. Changes are made on a bookkeeping of appbars as
// the working thread keeps it, each step doing at most one.
struct Desk {
  struct Monitor {
    std::u16string device;
    ScreenRect rect;
  };
  std::vector<AppBarRecord> records;
  std::map<std::pair<std::u16string, uint32_t>, ScreenRect> placed;
  std::vector<std::string> calls;
  uintptr_t nextWindow = 100;

  std::optional<Monitor> Resolve(const IndentEntry& e) const {
    if (e.displayX < 0)
      return std::nullopt;
    if (e.displayX >= 1920)
      return Monitor{u"B", {1920, 0, 3840, 1080}};
    return Monitor{u"A", kMonitor};
  }

  bool Apply(const Monitor& m, int32_t indent, uint32_t edge) {
    const auto found = FindAppBar(records, m.device, edge);
    const AppBarAction action = DecideAppBar(indent, found.has_value());
    if (action == AppBarAction::kNothing)
      return false;
    const std::string where = std::string(m.device.begin(), m.device.end()) + std::to_string(edge);
    if (action == AppBarAction::kRemove) {
      records.erase(records.begin() + static_cast<ptrdiff_t>(*found));
      placed.erase({m.device, edge});
      calls.push_back("remove " + where);
      return true;
    }
    if (action == AppBarAction::kCreate) {
      records.push_back({nextWindow++, edge, m.device});
      calls.push_back("create " + where);
    }
    placed[{m.device, edge}] = AppBarRect(m.rect, edge, indent);
    calls.push_back("place " + where + " " + std::to_string(indent));
    return true;
  }

  // Runs steps until one finds nothing; returns the number of changes.
  int RunSequence(std::vector<IndentEntry>& working) {
    int steps = 0;
    while (Step(working))
      ++steps;
    return steps;
  }
  bool Step(std::vector<IndentEntry>& working) {
    return ApplyFirstChange(
        working, [this](const IndentEntry& e) { return Resolve(e); },
        [this](const Monitor& m, int32_t indent, uint32_t edge) { return Apply(m, indent, edge); });
  }
};

TEST(IndentWalk, one_change_per_step_in_edge_order_and_consumed_edges_become_minus_one) {
  Desk desk;
  std::vector<IndentEntry> working = {{0, 0, 20, -1, 0, 50}};
  ASSERT_TRUE(desk.Step(working));
  EXPECT_EQ(desk.calls, (std::vector<std::string>{"create A0", "place A0 20"}));
  EXPECT_EQ(working[0].left, -1);
  EXPECT_EQ(working[0].bottom, 50);
  // top is -1, right is 0 on an edge without a strip: no pause for either.
  ASSERT_TRUE(desk.Step(working));
  EXPECT_EQ(desk.calls.back(), "place A3 50");
  EXPECT_FALSE(desk.Step(working));
  EXPECT_EQ(working[0].right, -1);
  EXPECT_EQ(desk.placed.at({u"A", kAppBarBottom}), (ScreenRect{0, 1030, 1920, 1080}));
}

TEST(IndentWalk, each_monitor_keeps_its_own_strips) {
  Desk desk;
  std::vector<IndentEntry> working = {{100, 100, -1, 30, -1, -1}, {2000, 10, -1, 40, -1, -1}};
  EXPECT_EQ(desk.RunSequence(working), 2);
  ASSERT_EQ(desk.records.size(), 2u);
  EXPECT_EQ(desk.placed.at({u"A", kAppBarTop}), (ScreenRect{0, 0, 1920, 30}));
  EXPECT_EQ(desk.placed.at({u"B", kAppBarTop}), (ScreenRect{1920, 0, 3840, 40}));

  // Removing the first monitor's strip leaves the second's.
  working = {{5, 5, -1, 0, -1, -1}};
  EXPECT_EQ(desk.RunSequence(working), 1);
  ASSERT_EQ(desk.records.size(), 1u);
  EXPECT_EQ(desk.records[0].device, u"B");
}

TEST(IndentWalk, two_entries_on_one_monitor_act_in_order_and_the_later_decides) {
  Desk desk;
  std::vector<IndentEntry> working = {{0, 0, -1, 30, -1, -1}, {10, 10, -1, 60, -1, -1}};
  EXPECT_EQ(desk.RunSequence(working), 2);
  EXPECT_EQ(desk.records.size(), 1u);
  EXPECT_EQ(desk.placed.at({u"A", kAppBarTop}), (ScreenRect{0, 0, 1920, 60}));
}

TEST(IndentWalk, entry_without_a_monitor_is_skipped_as_it_is) {
  Desk desk;
  std::vector<IndentEntry> working = {{-1, -1, 10, 10, 10, 10}, {0, 0, 5, -1, -1, -1}};
  EXPECT_EQ(desk.RunSequence(working), 1);
  EXPECT_EQ(working[0].left, 10);
  EXPECT_EQ(desk.calls, (std::vector<std::string>{"create A0", "place A0 5"}));
}

TEST(IndentWalk, same_list_again_places_again_without_creating) {
  Desk desk;
  std::vector<IndentEntry> working = {{0, 0, 20, 30, -1, -1}};
  desk.RunSequence(working);
  desk.calls.clear();
  working = {{0, 0, 20, 30, -1, -1}};
  EXPECT_EQ(desk.RunSequence(working), 2);
  EXPECT_EQ(desk.calls, (std::vector<std::string>{"place A0 20", "place A1 30"}));
}

TEST(IndentWalk, nothing_asked_is_no_step) {
  Desk desk;
  std::vector<IndentEntry> working = {{0, 0, -1, -1, -1, -1}, {0, 0, 0, 0, 0, 0}};
  EXPECT_FALSE(desk.Step(working));
  std::vector<IndentEntry> empty;
  EXPECT_FALSE(desk.Step(empty));
  EXPECT_TRUE(desk.calls.empty());
}

TEST(IndentHandOver, the_newest_list_always_ends_in_the_working_list) {
  IndentHandOver handOver;
  std::vector<IndentEntry> working;
  const IndentEntry a[] = {{0, 0, 1, -1, -1, -1}, {0, 0, 2, -1, -1, -1}};
  const IndentEntry b[] = {{0, 0, 3, -1, -1, -1}};

  // Two lists before one hand-over: the first hand-over takes the second,
  // the second hand-over brings back nothing older.
  handOver.Store(a, 2);
  handOver.Store(b, 1);
  ASSERT_TRUE(handOver.TakeNewest(working));
  ASSERT_EQ(working.size(), 1u);
  EXPECT_EQ(working[0].left, 3);
  working[0].left = -1;  // consumed by a step
  EXPECT_FALSE(handOver.TakeNewest(working));
  ASSERT_EQ(working.size(), 1u);
  EXPECT_EQ(working[0].left, -1);  // how far it was consumed is kept

  // A new list replaces a half-consumed one from its first entry.
  handOver.Store(a, 2);
  ASSERT_TRUE(handOver.TakeNewest(working));
  ASSERT_EQ(working.size(), 2u);
  EXPECT_EQ(working[0].left, 1);

  // An empty list is a list: it ends in the working list too.
  handOver.Store(nullptr, 0);
  ASSERT_TRUE(handOver.TakeNewest(working));
  EXPECT_TRUE(working.empty());
}

}  // namespace
}  // namespace mantlet
