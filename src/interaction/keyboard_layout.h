// The input-language and keyboard-layout hotkeys, reported to the host.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/handles.h"

namespace mantlet {

class CKeyboardLayout {
 public:
  CKeyboardLayout();
  ~CKeyboardLayout();
  CKeyboardLayout(const CKeyboardLayout&) = delete;
  CKeyboardLayout& operator=(const CKeyboardLayout&) = delete;

  bool Start();
  void Stop();
  // Runs on the starting thread, the command worker, the host's notifying
  // thread and the watcher; one check at a time.
  bool CheckCurrentHotkey(bool resetHotkeys, bool currentUserKey);
  void OnNotify(uint32_t code);

 private:
  static DWORD WINAPI WatchLayoutKey(void* self);
  void WatchLayoutKeyLoop();
  bool SendHotkeysToHost(uint32_t languageHotkey, uint32_t layoutHotkey);
  bool FailStart();

  bool m_started = false;
  UniqueHandle m_terminationEvent;
  UniqueHandle m_watcherThread;
  UniqueRegKey m_currentUserLayoutKey;
  UniqueRegKey m_defaultUserLayoutKey;
  UniqueFile m_device;
  // The last-sent pair and the session flag are guarded by m_checkLock; the
  // handles are set by Start and closed by Stop, after the watcher has ended.
  uint32_t m_languageHotkey = 0;
  uint32_t m_layoutHotkey = 0;
  bool m_currentSessionIsActive = true;
  CRITICAL_SECTION m_checkLock;
};

}  // namespace mantlet
