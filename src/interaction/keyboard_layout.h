// The input-language and keyboard-layout hotkeys, reported to the host.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/component.h"
#include "core/handles.h"
#include "core/threads.h"

namespace mantlet {

// What a check compares the hotkeys it reads with: the pair it sent last, or
// none, so that any pair but 0 and 0 goes to the host.
enum class LastSentPair { kKeep, kForget };
// Whose "Keyboard Layout" key a check reads.
enum class LayoutKey { kCurrentUser, kDefaultUser };

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
  bool CheckCurrentHotkey(LastSentPair lastSent, LayoutKey layoutKey) {
    return Check(lastSent, layoutKey, nullptr);
  }
  void OnNotify(HostNotification code) override;

 private:
  // `abandon`, when given, ends the wait for the device's answer early.
  bool Check(LastSentPair lastSent, LayoutKey layoutKey, HANDLE abandon);
  void WatchLayoutKey(HANDLE stop);
  bool SendHotkeysToHost(uint32_t languageHotkey, uint32_t layoutHotkey, HANDLE abandon);
  bool FailStart();

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
