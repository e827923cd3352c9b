// What changes in the guest while its windows are shown on the host's
// desktop, and how the user's own values come back.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/component.h"
#include "core/registry.h"

namespace mantlet {

inline constexpr char kWeaveTag[] = "WEAVESTATECTL";
inline constexpr COLORREF kWeaveDesktopColor = 0xCCCCCC;

// Threads: Start and Stop run on the thread that starts and stops the tool,
// OnWeaveStateChanged and SetVmColor on the command worker, and
// OnDesktopStateChanged on the taskbar watcher (which reaches the object only
// through its component holder, so the stop routine's Take() has waited for
// it before Stop runs and the object is destroyed). The operations themselves
// are serialised by m_lock: the worker and the watcher can both change the
// desktop at once otherwise. The border work runs on a process-wide thread of
// its own that touches no member (see borders.h).
class WeaveStateController final : public Component {
 public:
  WeaveStateController();
  ~WeaveStateController() override;

  bool Start() override;
  // Puts back every value of the user's it changed; waits for the border
  // thread (its own bound, then without one) before it returns true.
  bool Stop() override;
  void OnWeaveStateChanged(bool weaveMode);
  void OnDesktopStateChanged(bool desktopShown);
  void SetVmColor(uint32_t color);

 private:
  // What of a colour and a wallpaper was put in force.
  struct DesktopApplied {
    bool color = false;
    bool wallpaper = false;
  };

  // Save the user's value and put the Weave look in its place, or put the
  // saved value back and forget it (restore = true). A saved value is
  // forgotten only once it is back in force. Called with m_lock held.
  void ChangeDesktopState(bool restore);
  // A null colour or wallpaper is left as it is.
  DesktopApplied ApplyDesktopAppearance(const COLORREF* desktopColor, const wchar_t* wallpaper,
                                        bool iconsEnabled);
  void ChangeScreenSaverTimeout(bool restore);
  void ChangeTaskbarAnimations(bool restore);
  void RestoreDesktop();
  void ApplyWeaveLook();

  static bool GetAutoColorization(DWORD* value);
  static LSTATUS SetAutoColorization(DWORD value);

  // Guarded by m_lock.
  bool m_started = false;
  bool m_weaveMode = false;
  UniqueRegKey m_key;
  bool m_desktopEnabled = false;
  bool m_desktopShown = false;
  HWND m_hiddenDesktopView = nullptr;
  COLORREF m_vmColor = kWeaveDesktopColor;  // set once; command 14 leaves it alone

  CRITICAL_SECTION m_lock;
};

}  // namespace mantlet
