// Which work-area edge follows a taskbar, where to, and when nothing moves.
#include <gtest/gtest.h>

#include "taskbar/work_area.h"

namespace mantlet {
namespace {

constexpr ScreenRect M{0, 0, 1920, 1080};
constexpr ScreenRect kFull = M;
using E = DockEdge;

// A change is asked exactly when the expected work area differs from W.
struct Case {
  const char* name;
  ScreenRect taskbar, work;
  bool reserve;
  DockEdge edge;
  ScreenRect expected;
  ScreenRect monitor = M;
};

class WorkAreaRules : public ::testing::TestWithParam<Case> {};

TEST_P(WorkAreaRules, decide_the_edge_and_its_value) {
  const Case& c = GetParam();
  const WorkAreaDecision d = DecideWorkArea(c.taskbar, c.monitor, c.work, c.reserve);
  EXPECT_EQ(d.edge, c.edge);
  EXPECT_EQ(d.change, !(c.expected == c.work));
  EXPECT_EQ(d.work, c.expected);
}

const Case kCases[] = {
    // clang-format off
    // The worked examples: bottom (0,1040,1920,1080) and left (0,0,62,1080).
    {"bottom_hide",                      {0, 1040, 1920, 1080}, {0, 0, 1920, 1040},  false, E::kBottom, kFull},
    {"bottom_show",                      {0, 1040, 1920, 1080}, kFull,               true,  E::kBottom, {0, 0, 1920, 1040}},
    {"bottom_show_already_right",        {0, 1040, 1920, 1080}, {0, 0, 1920, 1040},  true,  E::kBottom, {0, 0, 1920, 1040}},
    {"bottom_hide_already_right",        {0, 1040, 1920, 1080}, kFull,               false, E::kBottom, kFull},
    {"bottom_farther_in_left_alone",     {0, 1040, 1920, 1080}, {0, 0, 1920, 1000},  false, E::kBottom, {0, 0, 1920, 1000}},
    {"bottom_below_monitor_reserves_nothing", {0, 1080, 1920, 1120}, kFull,          true,  E::kBottom, kFull},
    {"left_show",                        {0, 0, 62, 1080},      kFull,               true,  E::kLeft,   {62, 0, 1920, 1080}},
    {"left_hide",                        {0, 0, 62, 1080},      {62, 0, 1920, 1080}, false, E::kLeft,   kFull},
    {"left_farther_in_left_alone",       {0, 0, 62, 1080},      {100, 0, 1920, 1080}, true, E::kLeft,   {100, 0, 1920, 1080}},
    {"right_show",                       {1858, 0, 1920, 1080}, kFull,               true,  E::kRight,  {0, 0, 1858, 1080}},
    {"right_hide",                       {1858, 0, 1920, 1080}, {0, 0, 1858, 1080},  false, E::kRight,  kFull},
    {"right_farther_in_left_alone",      {1858, 0, 1920, 1080}, {0, 0, 1800, 1080},  false, E::kRight,  {0, 0, 1800, 1080}},
    {"top_show",                         {0, 0, 1920, 40},      kFull,               true,  E::kTop,    {0, 40, 1920, 1080}},
    {"top_hide",                         {0, 0, 1920, 40},      {0, 40, 1920, 1080}, false, E::kTop,    kFull},
    {"spanning_docks_nowhere",           M,                     {0, 0, 1920, 1040},  true,  E::kNone,   {0, 0, 1920, 1040}},
    {"zero_size_tests_as_left_and_moves_nothing", {0, 0, 0, 0}, kFull,               true,  E::kLeft,   kFull},
    {"first_test_that_holds_decides",    {10, 500, 300, 540},   kFull,               true,  E::kBottom, {0, 0, 1920, 500}},
    {"second_monitor", {1920, 1040, 3840, 1080}, {1920, 0, 3840, 1080}, true, E::kBottom, {1920, 0, 3840, 1040}, {1920, 0, 3840, 1080}},
    // clang-format on
};

INSTANTIATE_TEST_SUITE_P(Table, WorkAreaRules, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mantlet
