#include "shell/shell_windows.h"

#include <cwchar>

namespace mantlet {
namespace {

// EnumWindows callback: stops at the first "WorkerW" or "Progman" that
// carries the desktop view.
BOOL CALLBACK FindViewInShellWindow(HWND window, LPARAM param) {
  if (!IsWindowOfClass(window, kWorkerClass) && !IsWindowOfClass(window, kDesktopClass))
    return TRUE;
  HWND view = FindViewUnder(window);
  if (view == nullptr)
    return TRUE;
  *reinterpret_cast<HWND*>(param) = view;
  return FALSE;
}

}  // namespace

bool IsWindowOfClass(HWND window, const wchar_t* name) {
  wchar_t buffer[64] = {};
  if (GetClassNameW(window, buffer, 64) == 0)
    return false;
  return wcscmp(buffer, name) == 0;
}

HWND FindViewUnder(HWND parent) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowOfClass(child, kDesktopViewClass))
      return child;
  }
  return nullptr;
}

HWND FindDesktopView() {
  HWND view = nullptr;
  EnumWindows(&FindViewInShellWindow, reinterpret_cast<LPARAM>(&view));
  return view;
}

}  // namespace mantlet
