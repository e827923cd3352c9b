// Taskbar, start button and desktop visibility, the monitors' work areas,
// and the taskbar/desktop state reported to the host.
#pragma once

#include <windows.h>

#include "core/handles.h"
#include "taskbar/taskbar_watch.h"

namespace mantlet {

class ShowHideTaskBarAndDesktop {
 public:
  ShowHideTaskBarAndDesktop();
  ~ShowHideTaskBarAndDesktop();
  ShowHideTaskBarAndDesktop(const ShowHideTaskBarAndDesktop&) = delete;
  ShowHideTaskBarAndDesktop& operator=(const ShowHideTaskBarAndDesktop&) = delete;

  bool Start();
  void Stop();
  void SetTaskbarVisible(bool bVisible);
  void ToggleDesktop();
  void ReapplyWorkAreas();

 private:
  static DWORD WINAPI HandlerThreadMain(void* self);
  void Watch();
  TaskbarRequest RequestedState();
  // Applies `applied` and then whatever the host asked for meanwhile, until
  // the request read after applying is the one applied.
  void ApplyLatest(TaskbarRequest applied, bool workAreasOnly);
  void SendStateReport(HANDLE completion, bool desktopShown, bool taskbarVisible);

  UniqueHandle m_handlerThread;
  UniqueHandle m_terminationEvent;
  UniqueFile m_device;
  WatcherMemory m_watch;  // the handler thread's alone
  // Written whole by the command worker and the stopping thread, read whole
  // by every thread that applies it.
  volatile LONG m_requested = kTaskbarRequestNone;
};

// The shell's desktop icon view window, or null.
HWND FindDesktopView();

}  // namespace mantlet
