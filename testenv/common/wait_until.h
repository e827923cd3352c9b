// Polling with a deadline: threaded tests wait for a condition, never a
// fixed time.
#pragma once

#include <windows.h>

namespace testenv {

template <typename Pred>
bool WaitUntil(Pred&& pred, DWORD timeoutMs, DWORD stepMs = 20) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (pred())
      return true;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(stepMs);
  }
}

}  // namespace testenv
