// Makes the guest re-evaluate its mouse cursor on the host's request.
#pragma once

#include <windows.h>

#include "core/component.h"
#include "core/threads.h"

namespace mantlet {

class CCursorUtils final : public Component {
 public:
  CCursorUtils();
  ~CCursorUtils() override;

  bool Start() override;
  // True when nothing of the component runs any more; false when its thread
  // could not be told to stop, and the object must then stay alive.
  bool Stop() override;
  bool UpdateCursor();  // command worker thread

 private:
  static void Pump(HANDLE stop);
  static LRESULT CALLBACK MouseSyncAuxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Destroys the recorded window if it is still ours, and forgets it.
  void DestroyAuxWindow();

  OwnedThread m_workingThread;
  HWND m_auxWnd = nullptr;   // the last window UpdateCursor made
  DWORD m_auxWndThread = 0;  // the thread that made it
};

}  // namespace mantlet
