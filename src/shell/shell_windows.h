// The shell's own windows as the taskbar and Weave look for them: by class,
// and the desktop icon view under "Progman" or a "WorkerW".
#pragma once

#include <windows.h>

namespace mantlet {

inline constexpr wchar_t kPrimaryTaskbarClass[] = L"Shell_TrayWnd";
inline constexpr wchar_t kSecondaryTaskbarClass[] = L"Shell_SecondaryTrayWnd";
inline constexpr wchar_t kDesktopClass[] = L"Progman";
inline constexpr wchar_t kWorkerClass[] = L"WorkerW";
inline constexpr wchar_t kDesktopViewClass[] = L"SHELLDLL_DefView";

bool IsWindowOfClass(HWND window, const wchar_t* name);

// The desktop view among the direct children of `parent`, or null.
HWND FindViewUnder(HWND parent);

// The shell's desktop icon view window, wherever it is, or null.
HWND FindDesktopView();

}  // namespace mantlet
