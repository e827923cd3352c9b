// Which work-area edge follows a taskbar, where to, and when nothing moves.
#include <gtest/gtest.h>

#include "taskbar/work_area.h"

namespace mantlet {
namespace {

constexpr ScreenRect kMonitor{0, 0, 1920, 1080};
constexpr ScreenRect kSecondMonitor{1920, 0, 3840, 1080};

struct WorkAreaCase {
  const char* name;
  ScreenRect taskbar;
  ScreenRect monitor;
  ScreenRect work;
  bool reserve;
  DockEdge edge;
  bool change;
  ScreenRect expected;  // the work area after the decision
};

class WorkAreaRules : public ::testing::TestWithParam<WorkAreaCase> {};

TEST_P(WorkAreaRules, decides_the_edge_and_its_value) {
  const WorkAreaCase& c = GetParam();
  const WorkAreaDecision d = DecideWorkArea(c.taskbar, c.monitor, c.work, c.reserve);
  EXPECT_EQ(d.edge, c.edge);
  EXPECT_EQ(d.change, c.change);
  EXPECT_EQ(d.work, c.change ? c.expected : c.work);
}

const WorkAreaCase kCases[] = {
    // Bottom taskbar, the worked example.
    {"bottom_hidden_gives_the_strip_back",
     {0, 1040, 1920, 1080},
     kMonitor,
     {0, 0, 1920, 1040},
     false,
     DockEdge::kBottom,
     true,
     {0, 0, 1920, 1080}},
    {"bottom_shown_reserves_the_strip",
     {0, 1040, 1920, 1080},
     kMonitor,
     {0, 0, 1920, 1080},
     true,
     DockEdge::kBottom,
     true,
     {0, 0, 1920, 1040}},
    {"bottom_already_right_when_shown",
     {0, 1040, 1920, 1080},
     kMonitor,
     {0, 0, 1920, 1040},
     true,
     DockEdge::kBottom,
     false,
     {}},
    {"bottom_already_right_when_hidden",
     {0, 1040, 1920, 1080},
     kMonitor,
     {0, 0, 1920, 1080},
     false,
     DockEdge::kBottom,
     false,
     {}},
    {"bottom_work_area_farther_in_is_left_alone",
     {0, 1040, 1920, 1080},
     kMonitor,
     {0, 0, 1920, 1000},
     false,
     DockEdge::kBottom,
     false,
     {}},
    {"bottom_work_area_at_the_taskbar_top_is_still_ours",
     {0, 1040, 1920, 1080},
     kMonitor,
     {0, 0, 1920, 1040},
     false,
     DockEdge::kBottom,
     true,
     {0, 0, 1920, 1080}},
    {"bottom_taskbar_below_the_monitor_reserves_nothing",
     {0, 1080, 1920, 1120},
     kMonitor,
     {0, 0, 1920, 1080},
     true,
     DockEdge::kBottom,
     false,
     {}},
    // Left, the other worked example.
    {"left_shown_moves_the_left_edge_in",
     {0, 0, 62, 1080},
     kMonitor,
     {0, 0, 1920, 1080},
     true,
     DockEdge::kLeft,
     true,
     {62, 0, 1920, 1080}},
    {"left_hidden_moves_it_back",
     {0, 0, 62, 1080},
     kMonitor,
     {62, 0, 1920, 1080},
     false,
     DockEdge::kLeft,
     true,
     {0, 0, 1920, 1080}},
    {"left_work_area_farther_in_is_left_alone",
     {0, 0, 62, 1080},
     kMonitor,
     {100, 0, 1920, 1080},
     true,
     DockEdge::kLeft,
     false,
     {}},
    // Right.
    {"right_shown",
     {1858, 0, 1920, 1080},
     kMonitor,
     {0, 0, 1920, 1080},
     true,
     DockEdge::kRight,
     true,
     {0, 0, 1858, 1080}},
    {"right_hidden",
     {1858, 0, 1920, 1080},
     kMonitor,
     {0, 0, 1858, 1080},
     false,
     DockEdge::kRight,
     true,
     {0, 0, 1920, 1080}},
    {"right_work_area_farther_in_is_left_alone",
     {1858, 0, 1920, 1080},
     kMonitor,
     {0, 0, 1800, 1080},
     false,
     DockEdge::kRight,
     false,
     {}},
    // Top.
    {"top_shown",
     {0, 0, 1920, 40},
     kMonitor,
     {0, 0, 1920, 1080},
     true,
     DockEdge::kTop,
     true,
     {0, 40, 1920, 1080}},
    {"top_hidden",
     {0, 0, 1920, 40},
     kMonitor,
     {0, 40, 1920, 1080},
     false,
     DockEdge::kTop,
     true,
     {0, 0, 1920, 1080}},
    {"top_work_area_farther_in_is_left_alone",
     {0, 0, 1920, 40},
     kMonitor,
     {0, 100, 1920, 1080},
     true,
     DockEdge::kTop,
     false,
     {}},
    // No dock edge.
    {"spanning_taskbar_docks_nowhere",
     kMonitor,
     kMonitor,
     {0, 0, 1920, 1040},
     true,
     DockEdge::kNone,
     false,
     {}},
    {"spanning_taskbar_docks_nowhere_when_hidden",
     kMonitor,
     kMonitor,
     {0, 0, 1920, 1040},
     false,
     DockEdge::kNone,
     false,
     {}},
    // A zero-size taskbar at the origin tests as left-docked and reserves nothing.
    {"zero_size_taskbar_moves_nothing",
     {0, 0, 0, 0},
     kMonitor,
     {0, 0, 1920, 1080},
     true,
     DockEdge::kLeft,
     false,
     {}},
    // A floating taskbar: the first test that holds decides.
    {"bottom_test_comes_before_left",
     {10, 500, 300, 540},
     kMonitor,
     {0, 0, 1920, 1080},
     true,
     DockEdge::kBottom,
     true,
     {0, 0, 1920, 500}},
    // Another monitor: its own rectangle, in virtual-screen coordinates.
    {"second_monitor_bottom_shown",
     {1920, 1040, 3840, 1080},
     kSecondMonitor,
     {1920, 0, 3840, 1080},
     true,
     DockEdge::kBottom,
     true,
     {1920, 0, 3840, 1040}},
    {"second_monitor_left_hidden",
     {1920, 0, 1982, 1080},
     kSecondMonitor,
     {1982, 0, 3840, 1080},
     false,
     DockEdge::kLeft,
     true,
     {1920, 0, 3840, 1080}},
};

INSTANTIATE_TEST_SUITE_P(Table, WorkAreaRules, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mantlet
