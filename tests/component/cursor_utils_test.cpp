// The cursor refresh component on the test's own thread, so that its window
// can be looked at before the system asks it for a cursor and it goes.
#include <gtest/gtest.h>

#include <windows.h>

#include "taskbar/cursor_utils.h"

namespace mantlet {
namespace {

HWND RefreshWindow() {
  return FindWindowW(L"MouseSyncAux", nullptr);
}

TEST(CursorUtils, update_puts_a_tiny_window_under_the_cursor_and_flips_the_shape) {
  CCursorUtils cursor;
  ASSERT_TRUE(cursor.Start());
  ASSERT_TRUE(SetCursorPos(321, 123));
  const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT), arrow = LoadCursorW(nullptr, IDC_ARROW);
  const std::pair<HCURSOR, HCURSOR> flips[] = {
      {arrow, wait}, {wait, arrow}, {LoadCursorW(nullptr, IDC_IBEAM), wait}};
  HWND previous = nullptr;
  for (const auto& [before, after] : flips) {
    SetCursor(before);
    ASSERT_TRUE(cursor.UpdateCursor());  // two in a row: the first window goes first
    EXPECT_EQ(GetCursor(), after);
    HWND window = RefreshWindow();
    ASSERT_NE(window, nullptr);
    RECT r = {};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, 321);
    EXPECT_EQ(r.top, 123);
    EXPECT_EQ(r.right, 322);
    EXPECT_EQ(r.bottom, 124);
    EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & 0xA8, 0xA8);  // topmost, transparent, tool
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_NE(GetForegroundWindow(), window);
    EXPECT_TRUE(previous == nullptr || !IsWindow(previous));
    previous = window;
    POINT at = {};
    GetCursorPos(&at);
    EXPECT_EQ(at.x, 321);
    EXPECT_EQ(at.y, 123);
  }
  // Asked for a cursor, the window goes by itself.
  SendMessageW(previous, WM_SETCURSOR, reinterpret_cast<WPARAM>(previous), HTCLIENT);
  EXPECT_FALSE(IsWindow(previous));
}

}  // namespace
}  // namespace mantlet
