// Which work-area edge follows a taskbar, where to, and when nothing moves.
#include <gtest/gtest.h>

#include "taskbar/work_area.h"

using namespace mantlet;

TEST(WorkAreaRules, decide_the_edge_and_its_value) {
  constexpr ScreenRect M{0, 0, 1920, 1080};
  using E = DockEdge;
  // A change is asked exactly when the expected work area differs from the
  // current one. The worked examples: bottom (0,1040,1920,1080), left (0,0,62,1080).
  const struct {
    const char* name;
    ScreenRect taskbar, work;
    bool reserve;
    DockEdge edge;
    ScreenRect expected, monitor = M;
  } cases[] = {
      // clang-format off
      {"bottom hide",                   {0, 1040, 1920, 1080}, {0, 0, 1920, 1040},   false, E::kBottom, M},
      {"bottom show",                   {0, 1040, 1920, 1080}, M,                    true,  E::kBottom, {0, 0, 1920, 1040}},
      {"bottom show already right",     {0, 1040, 1920, 1080}, {0, 0, 1920, 1040},   true,  E::kBottom, {0, 0, 1920, 1040}},
      {"bottom farther in left alone",  {0, 1040, 1920, 1080}, {0, 0, 1920, 1000},   false, E::kBottom, {0, 0, 1920, 1000}},
      {"bottom below monitor",          {0, 1080, 1920, 1120}, M,                    true,  E::kBottom, M},
      {"left show",                     {0, 0, 62, 1080},      M,                    true,  E::kLeft,   {62, 0, 1920, 1080}},
      {"left hide",                     {0, 0, 62, 1080},      {62, 0, 1920, 1080},  false, E::kLeft,   M},
      {"left farther in left alone",    {0, 0, 62, 1080},      {100, 0, 1920, 1080}, true,  E::kLeft,   {100, 0, 1920, 1080}},
      {"right show",                    {1858, 0, 1920, 1080}, M,                    true,  E::kRight,  {0, 0, 1858, 1080}},
      {"right hide",                    {1858, 0, 1920, 1080}, {0, 0, 1858, 1080},   false, E::kRight,  M},
      {"right farther in left alone",   {1858, 0, 1920, 1080}, {0, 0, 1800, 1080},   false, E::kRight,  {0, 0, 1800, 1080}},
      {"top show",                      {0, 0, 1920, 40},      M,                    true,  E::kTop,    {0, 40, 1920, 1080}},
      {"top hide",                      {0, 0, 1920, 40},      {0, 40, 1920, 1080},  false, E::kTop,    M},
      {"spanning docks nowhere",        M,                     {0, 0, 1920, 1040},   true,  E::kNone,   {0, 0, 1920, 1040}},
      {"zero size: left, moves nothing", {0, 0, 0, 0},         M,                    true,  E::kLeft,   M},
      {"first test that holds decides", {10, 500, 300, 540},   M,                    true,  E::kBottom, {0, 0, 1920, 500}},
      {"second monitor", {1920, 1040, 3840, 1080}, {1920, 0, 3840, 1080}, true, E::kBottom, {1920, 0, 3840, 1040}, {1920, 0, 3840, 1080}},
      // clang-format on
  };
  for (const auto& c : cases) {
    const WorkAreaDecision d = DecideWorkArea(c.taskbar, c.monitor, c.work, c.reserve);
    EXPECT_EQ(d.edge, c.edge) << c.name;
    EXPECT_EQ(d.change, !(c.expected == c.work)) << c.name;
    EXPECT_EQ(d.work, c.expected) << c.name;
  }
}
