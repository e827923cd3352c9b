// Makes the guest re-evaluate its mouse cursor on the host's request.
#pragma once

#include <windows.h>

#include "core/handles.h"

namespace mantlet {

class CCursorUtils {
 public:
  CCursorUtils();
  ~CCursorUtils();
  CCursorUtils(const CCursorUtils&) = delete;
  CCursorUtils& operator=(const CCursorUtils&) = delete;

  bool Start();
  void Stop();
  bool UpdateCursor();  // command worker thread

 private:
  static DWORD WINAPI WorkingThreadMain(void* self);
  static LRESULT CALLBACK MouseSyncAuxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Destroys the recorded window if it is still ours, and forgets it.
  void DestroyAuxWindow();

  UniqueHandle m_terminationEvent;
  UniqueHandle m_workingThread;
  HWND m_auxWnd = nullptr;   // the last window UpdateCursor made
  DWORD m_auxWndThread = 0;  // the thread that made it
};

}  // namespace mantlet
