// The taskbar component linked in, with a shell that does not answer the
// taskbar state.
#include <gtest/gtest.h>

#include <windows.h>

#include "shell_control.h"
#include "taskbar/appbar_message.h"
#include "taskbar/show_hide_taskbar.h"
#include "unanswering_shell.h"

namespace mantlet {
namespace {

using testsupport::TimedCall;
using testsupport::UnansweringAppBarService;

// Given up after its bound, an unanswered state counts as a taskbar that
// does not auto-hide: showing it reserves its strip. (Wine keeps the work
// area per process, so this process reads what the component set.)
TEST(ShowHideTaskbarComponent, unanswered_taskbar_state_is_given_up_and_the_strip_reserved) {
  testenv::ShellStandIn desktop;
  ASSERT_TRUE(desktop.Launch());  // the taskbar along the bottom 40 pixels
  UnansweringAppBarService shell;
  RECT full = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &full, 0));

  ShowHideTaskBarAndDesktop component;
  const auto took =
      TimedCall([&] { component.SetTaskbarVisible(true); }, 20000, [&] { shell.Release(); });
  ASSERT_TRUE(took) << "showing the taskbar waited for the shell";
  EXPECT_LT(*took, kTaskbarStateBoundMs + 1500);
  EXPECT_EQ(shell.received(), 1);
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(work.bottom, full.bottom - 40);
  SystemParametersInfoW(SPI_SETWORKAREA, 0, &full, 0);
}

}  // namespace
}  // namespace mantlet
