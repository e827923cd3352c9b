// The input-language and keyboard-layout hotkeys, reported to the host.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/component.h"
#include "core/handles.h"
#include "core/threads.h"

namespace mantlet {

class CKeyboardLayout final : public Component {
 public:
  CKeyboardLayout();
  ~CKeyboardLayout() override;

  bool Start() override;
  // True when nothing of the component runs any more; false when its
  // watcher could not be told to stop, and the object must then stay alive.
  bool Stop() override;
  // Runs on the starting thread, the command worker, the host's notifying
  // thread and the watcher; one check at a time.
  bool CheckCurrentHotkey(bool resetHotkeys, bool currentUserKey) {
    return Check(resetHotkeys, currentUserKey, nullptr);
  }
  void OnNotify(HostNotification code) override;

 private:
  // `abandon`, when given, ends the wait for the device's answer early.
  bool Check(bool resetHotkeys, bool currentUserKey, HANDLE abandon);
  void WatchLayoutKey(HANDLE stop);
  bool SendHotkeysToHost(uint32_t languageHotkey, uint32_t layoutHotkey, HANDLE abandon);
  bool FailStart();

  bool m_started = false;
  UniqueRegKey m_currentUserLayoutKey;
  UniqueRegKey m_defaultUserLayoutKey;
  UniqueFile m_device;
  // The last-sent pair and the session flag are guarded by m_checkLock; the
  // handles are set by Start and closed by Stop, after the watcher has ended.
  uint32_t m_languageHotkey = 0;
  uint32_t m_layoutHotkey = 0;
  bool m_currentSessionIsActive = true;
  CRITICAL_SECTION m_checkLock;
  OwnedThread m_watcherThread;  // after all it uses, so that it goes first
};

}  // namespace mantlet
