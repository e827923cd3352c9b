// Taskbar, start button and desktop visibility, the monitors' work areas,
// and the taskbar/desktop state reported to the host.
#pragma once

#include <windows.h>

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
};

// The shell's desktop icon view window, or null.
HWND FindDesktopView();

}  // namespace mantlet
