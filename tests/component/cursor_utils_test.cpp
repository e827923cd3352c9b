// The cursor refresh component on the test's own thread, so that its window
// can be looked at before the system asks it for a cursor and it goes.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "taskbar/cursor_utils.h"

namespace mantlet {
namespace {

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageW(&msg);
}

HWND MakeDecoy() {
  return CreateWindowExW(0, L"STATIC", L"decoy", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                         nullptr);
}

TEST(CursorUtils, update_puts_a_tiny_window_under_the_cursor_and_flips_the_shape) {
  CCursorUtils cursor;
  ASSERT_TRUE(cursor.Start());
  ASSERT_TRUE(SetCursorPos(321, 123));
  Pump();
  const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);

  struct Step {
    HCURSOR before, after;
  } steps[] = {{arrow, wait}, {wait, arrow}, {LoadCursorW(nullptr, IDC_IBEAM), wait}};
  HWND previous = nullptr;
  for (const Step& step : steps) {
    SetCursor(step.before);
    ASSERT_TRUE(cursor.UpdateCursor());
    EXPECT_EQ(GetCursor(), step.after);
    HWND window = FindWindowW(L"MouseSyncAux", nullptr);
    ASSERT_NE(window, nullptr);
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    EXPECT_EQ(thread, GetCurrentThreadId());
    RECT r = {};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, 321);
    EXPECT_EQ(r.top, 123);
    EXPECT_EQ(r.right - r.left, 1);
    EXPECT_EQ(r.bottom - r.top, 1);
    EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & 0xA8, 0xA8);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_NE(GetForegroundWindow(), window);
    // The window of the update before went first.
    if (previous != nullptr) {
      EXPECT_FALSE(IsWindow(previous));
    }
    previous = window;
    POINT at = {};
    GetCursorPos(&at);
    EXPECT_EQ(at.x, 321);
    EXPECT_EQ(at.y, 123);
  }
  // Asked for a cursor, the window goes by itself.
  SendMessageW(previous, WM_SETCURSOR, reinterpret_cast<WPARAM>(previous), HTCLIENT);
  EXPECT_FALSE(IsWindow(previous));
  cursor.Stop();
}

// The window may go without the component's doing: with its thread, or by
// itself when asked for a cursor. Later updates and the stop then leave the
// windows of the calling thread alone. (Wine gives every new window a handle
// value of its own, so a reused handle value cannot be staged here; the
// component checks before it destroys that the handle still names a live
// refresh window of the calling thread.)
TEST(CursorUtils, window_gone_with_its_thread_leaves_later_windows_alone) {
  CCursorUtils cursor;
  ASSERT_TRUE(cursor.Start());
  HWND gone = nullptr;
  std::thread([&] {
    cursor.UpdateCursor();
    gone = FindWindowW(L"MouseSyncAux", nullptr);
  }).join();
  ASSERT_NE(gone, nullptr);
  ASSERT_FALSE(IsWindow(gone));
  HWND decoy = MakeDecoy();
  ASSERT_TRUE(cursor.UpdateCursor());
  EXPECT_TRUE(IsWindow(decoy));
  cursor.Stop();
  EXPECT_TRUE(IsWindow(decoy));
  DestroyWindow(decoy);
}

TEST(CursorUtils, self_destroyed_window_is_forgotten) {
  CCursorUtils cursor;
  ASSERT_TRUE(cursor.Start());
  ASSERT_TRUE(cursor.UpdateCursor());
  HWND window = FindWindowW(L"MouseSyncAux", nullptr);
  ASSERT_NE(window, nullptr);
  SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), HTCLIENT);
  ASSERT_FALSE(IsWindow(window));
  HWND decoy = MakeDecoy();
  ASSERT_TRUE(cursor.UpdateCursor());
  cursor.Stop();
  EXPECT_TRUE(IsWindow(decoy));
  DestroyWindow(decoy);
}

}  // namespace
}  // namespace mantlet
