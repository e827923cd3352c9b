// Appbar messages to the shell, made so that a shell that answers late or
// never holds none of our threads for longer than a bound.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <optional>

#include "taskbar/work_area.h"

namespace mantlet {

// A shell that keeps the appbar thread waiting this long is busy; the thread
// answers sent messages meanwhile and its stop abandons the wait at once, so
// the bound only keeps a shell that has hung from holding the thread for good.
inline constexpr DWORD kAppBarCallBoundMs = 5000;

// The taskbar state is asked on the way to a work area, also by the threads
// that start and stop the tool: an answer later than this counts as none.
inline constexpr DWORD kTaskbarStateBoundMs = 1000;

// At stop every strip is given back to the shell, all of them within this
// much time together.
inline constexpr DWORD kAppBarRemovalBudgetMs = 1000;

// SHAppBarMessage(message, data) on a thread of its own, waited for at most
// `boundMs` or until `abandon` is signalled. The shell's answer, or nothing
// when none came in time (the message then goes on to the shell alone).
std::optional<UINT_PTR> CallShellAppBar(const char* what, DWORD message, const APPBARDATA& data,
                                        DWORD boundMs, HANDLE abandon = nullptr);

// An APPBARDATA of the build's own size (the shell refuses a smaller one)
// for `window`, everything else zero.
APPBARDATA AppBarData(HWND window = nullptr);

inline ScreenRect FromRect(const RECT& r) {
  return ScreenRect{r.left, r.top, r.right, r.bottom};
}

}  // namespace mantlet
