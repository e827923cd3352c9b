#include "taskbar/cursor_utils.h"

#include "core/log.h"
#include "shell/shell_windows.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "CURSORUTILS";
constexpr wchar_t kAuxClass[] = L"MouseSyncAux";

// Loaded the first time an update needs them; kept for the process's life.
HCURSOR g_waitCursor = nullptr;
HCURSOR g_arrowCursor = nullptr;

// The component of this process (one at most): its window procedure forgets
// the window when the window goes. Set and cleared on the thread that
// creates and destroys the component, while no window of it exists.
CCursorUtils* g_cursorUtils = nullptr;

}  // namespace

CCursorUtils::CCursorUtils() {
  g_cursorUtils = this;
}

CCursorUtils::~CCursorUtils() {
  if (g_cursorUtils == this)
    g_cursorUtils = nullptr;
}

bool CCursorUtils::Start() {
  MLOG(kLogInfo, kTag, "CCursorUtils::Start");
  if (!m_workingThread.Prepare()) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create termination event");
    Stop();
    return false;
  }
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &MouseSyncAuxProc;
  windowClass.lpszClassName = kAuxClass;
  if (!RegisterClassExW(&windowClass)) {
    LogWrite(kTag, kModuleName, kLogError, "Can't register MousSyncAux class");
    Stop();
    return false;
  }
  if (!m_workingThread.Start("cursor pump", &Pump)) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create working thread");
    Stop();
    return false;
  }
  return true;
}

bool CCursorUtils::Stop() {
  MLOG(kLogInfo, kTag, "CCursorUtils::Stop");
  DestroyAuxWindow();
  if (!m_workingThread.Stop())
    return false;
  UnregisterClassW(kAuxClass, nullptr);
  return true;
}

// The window destroys itself without a word when the system asks it for a
// cursor, and a thread's windows go with the thread; a window handle may
// then name another window. So the window procedure forgets the window as
// it goes, and a recorded handle is destroyed only while it still names a
// live "MouseSyncAux" window of the calling thread, the one that made it.
void CCursorUtils::DestroyAuxWindow() {
  HWND window = m_auxWnd;
  m_auxWnd = nullptr;
  if (window == nullptr || m_auxWndThread != GetCurrentThreadId())
    return;
  if (IsWindow(window) && GetWindowThreadProcessId(window, nullptr) == m_auxWndThread &&
      IsWindowOfClass(window, kAuxClass)) {
    DestroyWindow(window);
  }
}

bool CCursorUtils::UpdateCursor() {
  DestroyAuxWindow();
  CURSORINFO cursor = {};
  cursor.cbSize = sizeof(cursor);
  if (!GetCursorInfo(&cursor)) {
    LogWrite(kTag, kModuleName, kLogError, "Can't get guest cursor position");
    return false;
  }
  HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW, kAuxClass,
                                L"", WS_POPUP, cursor.ptScreenPos.x, cursor.ptScreenPos.y, 1, 1,
                                nullptr, nullptr, nullptr, nullptr);
  if (window == nullptr) {
    LogWrite(kTag, kModuleName, kLogError, "Can't create auxilarity window");
    return false;
  }
  m_auxWnd = window;
  m_auxWndThread = GetCurrentThreadId();
  ShowWindow(window, SW_SHOWNOACTIVATE);
  if (g_waitCursor == nullptr)
    g_waitCursor = LoadCursorW(nullptr, IDC_WAIT);
  if (g_arrowCursor == nullptr)
    g_arrowCursor = LoadCursorW(nullptr, IDC_ARROW);
  SetCursor(GetCursor() == g_waitCursor ? g_arrowCursor : g_waitCursor);
  SetCursorPos(cursor.ptScreenPos.x, cursor.ptScreenPos.y);
  return true;
}

LRESULT CALLBACK CCursorUtils::MouseSyncAuxProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  switch (message) {
    case WM_SETCURSOR:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      return 0;
    case WM_NCDESTROY:
      if (g_cursorUtils != nullptr && g_cursorUtils->m_auxWnd == window)
        g_cursorUtils->m_auxWnd = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void CCursorUtils::Pump(HANDLE stop) {
  for (;;) {
    if (MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0 + 1)
      return;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
}

}  // namespace mantlet
