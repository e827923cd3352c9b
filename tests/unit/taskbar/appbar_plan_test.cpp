// The appbar decisions: strip rectangles, the pause between changes, the
// walk through the host's list over several monitors, and the hand-over.
#include <gtest/gtest.h>

#include <climits>

#include "taskbar/appbar_plan.h"

using namespace mantlet;
namespace {

using List = std::vector<IndentEntry>;

// Two monitors side by side ("A" left of "B"); x < 0 lies on none. Each step
// is applied to a bookkeeping of appbars as the working thread keeps it and
// logged as "<action><monitor><edge> <indent>", actions numbered as declared
// (1 remove, 2 create, 3 place).
struct Desk {
  std::vector<AppBarRecord> records;
  std::vector<std::string> calls;

  bool Step(List& working) {
    const auto resolve = [](const IndentEntry& e) -> std::optional<std::u16string> {
      return e.displayX < 0 ? std::nullopt : std::optional(e.displayX >= 1920 ? u"B" : u"A");
    };
    const auto apply = [this](const std::u16string& device, int32_t indent, uint32_t edge) {
      const auto found = FindAppBar(records, device, edge);
      const AppBarAction action = DecideAppBar(indent, found.has_value());
      if (action == AppBarAction::kRemove)
        records.erase(records.begin() + static_cast<ptrdiff_t>(*found));
      if (action == AppBarAction::kCreate)
        records.push_back({0, edge, device});
      if (action != AppBarAction::kNothing)
        calls.push_back(std::to_string(static_cast<int>(action)) + static_cast<char>(device[0]) +
                        std::to_string(edge) + " " + std::to_string(indent));
      return action != AppBarAction::kNothing;
    };
    return ApplyFirstChange(working, resolve, apply);
  }
};

}  // namespace

TEST(AppBarRect, pulls_in_the_side_opposite_the_edge) {
  constexpr ScreenRect kMonitor{0, 0, 1920, 1080}, kRight{1920, -200, 3200, 824};
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarLeft, 20), (ScreenRect{0, 0, 20, 1080}));
  EXPECT_EQ(AppBarRect(kRight, kAppBarTop, 30), (ScreenRect{1920, -200, 3200, -170}));
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarRight, 40), (ScreenRect{1880, 0, 1920, 1080}));
  EXPECT_EQ(AppBarRect(kRight, kAppBarBottom, 24), (ScreenRect{1920, 800, 3200, 824}));
  // A host's huge indent wraps around rather than overflow.
  EXPECT_EQ(AppBarRect(kMonitor, kAppBarRight, INT_MIN),
            (ScreenRect{1920 + INT_MIN, 0, 1920, 1080}));
}

TEST(StepDelay, grows_by_70_ms_per_window_between_500_and_2000) {
  const std::pair<size_t, uint32_t> cases[] = {
      {0, 500}, {7, 500}, {8, 560}, {28, 1960}, {29, 2000}, {1000, 2000}, {SIZE_MAX, 2000}};
  for (const auto& [windows, ms] : cases)
    EXPECT_EQ(StepDelayMs(windows), ms) << windows;
}

TEST(IndentWalk, one_change_per_step_in_edge_order_per_monitor_skipping_what_needs_nothing) {
  const std::pair<std::vector<List>, std::vector<std::string>> cases[] = {
      // clang-format off
      // Lists run one after the other to their end, a step at a time.
      // top -1 and right 0 (no strip there) cost no step of their own.
      {{{{0, 0, 20, -1, 0, 50}}}, {"2A0 20", "2A3 50"}},
      {{{{100, 100, -1, 30, -1, -1}, {2000, 10, -1, 40, -1, -1}}, {{5, 5, -1, 0, -1, -1}}}, {"2A1 30", "2B1 40", "1A1 0"}},
      // Same monitor twice: both act, the later decides; the same list again places again.
      {{{{0, 0, -1, 30, -1, -1}, {10, 10, -1, 60, -1, -1}}, {{0, 0, -1, 60, -1, -1}}}, {"2A1 30", "3A1 60", "3A1 60"}},
      {{{{-1, -1, 10, 10, 10, 10}}, {{0, 0, -1, -1, -1, -1}, {0, 0, 0, -1, 0, 0}}, {}}, {}},
      // clang-format on
  };
  for (const auto& [lists, calls] : cases) {
    Desk desk;
    for (List working : lists) {
      while (desk.Step(working)) {
      }
    }
    EXPECT_EQ(desk.calls, calls);
  }
}

TEST(IndentHandOver, the_newest_list_always_ends_in_the_working_list_for_one_wake_up) {
  IndentHandOver handOver;
  List working;
  const IndentEntry a[] = {{0, 0, 1, -1, -1, -1}, {0, 0, 2, -1, -1, -1}},
                    b[] = {{0, 0, 3, -1, -1, -1}};
  // Two lists before one hand-over: one wake-up, and the hand-over brings
  // the newer only, once, however far a step has consumed it since.
  EXPECT_TRUE(handOver.Store(a, 2));
  EXPECT_FALSE(handOver.Store(b, 1));
  ASSERT_TRUE(handOver.TakeNewest(working));
  EXPECT_EQ(working.size(), 1u);
  working[0].left = -1;
  EXPECT_FALSE(handOver.TakeNewest(working));
  EXPECT_EQ(working[0].left, -1);
  // Each hand-over makes way for the next wake-up, and so does a wake-up
  // that could not be sent; an empty list is a list too.
  EXPECT_TRUE(handOver.Store(a, 2));
  handOver.WakeUpFailed();
  EXPECT_TRUE(handOver.Store(nullptr, 0));
  ASSERT_TRUE(handOver.TakeNewest(working));
  EXPECT_TRUE(working.empty());
}
