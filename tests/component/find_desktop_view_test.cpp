// FindDesktopView against the shell stand-in's windows, wherever the view is.
#include <gtest/gtest.h>

#include <windows.h>

#include "shell_control.h"
#include "shell/shell_windows.h"

namespace mantlet {
namespace {

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

TEST(FindDesktopView, finds_the_view_under_progman_or_the_worker_that_carries_it) {
  EXPECT_EQ(FindDesktopView(), nullptr);  // Wine alone has no desktop view

  testenv::ShellStandIn shell;
  ASSERT_TRUE(shell.Launch());
  HWND view = FindDesktopView();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(ClassOf(view), L"SHELLDLL_DefView");
  EXPECT_EQ(ClassOf(GetParent(view)), L"Progman");

  ASSERT_EQ(shell.Call("toggle"), "toggle=ok");
  EXPECT_EQ(FindDesktopView(), view);
  EXPECT_EQ(ClassOf(GetParent(view)), L"WorkerW");

  shell.Close();
  EXPECT_EQ(FindDesktopView(), nullptr);
}

}  // namespace
}  // namespace mantlet
