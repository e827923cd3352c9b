#include "interaction/keyboard_layout.h"

#include <vector>

#include "core/device.h"
#include "core/device_request.h"
#include "core/log.h"
#include "interaction/hotkey_value.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "KBDLAYOUT";
constexpr DWORD kHotkeyValueBytes = 20;

constexpr uint32_t kDefaultLanguageHotkey = 1;
constexpr uint32_t kDefaultLayoutHotkey = 2;

// A value that does not fit the 20-byte buffer counts as absent.
bool ReadHotkey(HKEY toggle, const wchar_t* name, uint32_t* hotkey) {
  uint8_t data[kHotkeyValueBytes] = {};
  DWORD size = sizeof(data);
  if (RegQueryValueExW(toggle, name, nullptr, nullptr, data, &size) != ERROR_SUCCESS)
    return false;
  *hotkey = ParseHotkeyValue(std::span<const uint8_t>(data, size));
  return true;
}

HKEY OpenKey(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  return RegOpenKeyExW(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

CKeyboardLayout::CKeyboardLayout() {
  InitializeCriticalSection(&m_checkLock);
  MLOG(kLogInfo, kTag, "KeyboardLayout has been constructed");
}

CKeyboardLayout::~CKeyboardLayout() {
  MLOG(kLogInfo, kTag, "KeyboardLayout has been destructed");
  // The stop routine always stops first; a watcher left running would use
  // the lock deleted below.
  m_watcherThread.Stop();
  DeleteCriticalSection(&m_checkLock);
}

bool CKeyboardLayout::FailStart() {
  Stop();
  return false;
}

bool CKeyboardLayout::Start() {
  MLOG(kLogInfo, kTag, "CKeyboardLayout::Start");
  if (!m_watcherThread.Prepare()) {
    LogWrite(kTag, kModuleName, kLogError, "Can't create termination event. err=%d",
             static_cast<int>(GetLastError()));
    return FailStart();
  }
  m_currentUserLayoutKey.reset(OpenKey(HKEY_CURRENT_USER, L"Keyboard Layout"));
  if (!m_currentUserLayoutKey) {
    LogWrite(kTag, kModuleName, kLogError, "Can't open 'Keyboard Layout' key in the registry.");
    return FailStart();
  }
  m_defaultUserLayoutKey.reset(OpenKey(HKEY_USERS, L".DEFAULT\\Keyboard Layout"));
  if (!m_defaultUserLayoutKey) {
    LogWrite(kTag, kModuleName, kLogError,
             "Can't open '.DEFAULT\\Keyboard Layout' key in the registry");
    return FailStart();
  }
  // Overlapped: a report is waited for with a bound, and the watcher's stop
  // ends the wait.
  m_device = OpenToolsDevice();
  if (!m_device) {
    LogWrite(kTag, kModuleName, kLogError, "Can't open cvntg device. err=%d",
             static_cast<int>(GetLastError()));
    return FailStart();
  }
  CheckCurrentHotkey(true, true);
  if (!m_watcherThread.Start("keyboard layout watcher",
                             [this](HANDLE stop) { WatchLayoutKey(stop); })) {
    LogWrite(kTag, kModuleName, kLogError, "Can't create working thread. err=%d",
             static_cast<int>(GetLastError()));
    return FailStart();
  }
  m_started = true;
  return true;
}

bool CKeyboardLayout::Stop() {
  m_started = false;
  if (!m_watcherThread.Stop()) {
    // The watcher runs on with the key and the device: they stay open.
    MLOG(kLogInfo, kTag, "CKeyboardLayout::Stop");
    return false;
  }
  m_device.reset();
  m_defaultUserLayoutKey.reset();
  m_currentUserLayoutKey.reset();
  MLOG(kLogInfo, kTag, "CKeyboardLayout::Stop");
  return true;
}

bool CKeyboardLayout::Check(bool resetHotkeys, bool currentUserKey, HANDLE abandon) {
  CriticalSectionLock hold(m_checkLock);
  MLOG(kLogInfo, kTag,
       "Check current layout resetHotkeys=%d currentUserKey=%d m_currentSessionIsActive=%d",
       resetHotkeys ? 1 : 0, currentUserKey ? 1 : 0, m_currentSessionIsActive ? 1 : 0);
  if (!m_currentSessionIsActive)
    return false;

  uint32_t language = kDefaultLanguageHotkey;
  uint32_t layout = kDefaultLayoutHotkey;
  bool result = false;
  if (resetHotkeys) {
    m_languageHotkey = 0;
    m_layoutHotkey = 0;
  }

  HKEY layoutKey = currentUserKey ? m_currentUserLayoutKey.get() : m_defaultUserLayoutKey.get();
  UniqueRegKey toggle(layoutKey != nullptr ? OpenKey(layoutKey, L"Toggle") : nullptr);
  if (!toggle) {
    // The host gets the defaults, but they are not what was last sent.
    SendHotkeysToHost(kDefaultLanguageHotkey, kDefaultLayoutHotkey, abandon);
    MLOG(kLogWarning, kTag, "Can't open layout key. currentUserKey=%d", currentUserKey ? 1 : 0);
    return false;
  }

  if (!ReadHotkey(toggle.get(), L"Language Hotkey", &language) &&
      !ReadHotkey(toggle.get(), L"Hotkey", &language)) {
    MLOG(kLogInfo, kTag, "Can't query language hotkey");
  }
  if (!ReadHotkey(toggle.get(), L"Layout Hotkey", &layout))
    MLOG(kLogInfo, kTag, "Can't query layout hotkey");

  if (language != m_languageHotkey || layout != m_layoutHotkey) {
    // Recorded before sending: a failed report is not retried until the
    // pair changes or a check resets it.
    m_languageHotkey = language;
    m_layoutHotkey = layout;
    result = SendHotkeysToHost(language, layout, abandon);
  }
  toggle.reset();
  if (!result)
    MLOG(kLogWarning, kTag, "CheckCurrentHotkey failed");
  return result;
}

void CKeyboardLayout::OnNotify(HostNotification code) {
  // Held across the check and the flag change, so that no other thread's
  // check runs between the last check of a session and its deactivation.
  CriticalSectionLock hold(m_checkLock);
  switch (code) {
    case HostNotification::kSessionBecameActive:
    case HostNotification::kSessionReconnected:
      m_currentSessionIsActive = true;
      CheckCurrentHotkey(true, true);
      break;
    case HostNotification::kSessionBecameInactive:
    case HostNotification::kSessionDisconnected:
      CheckCurrentHotkey(false, false);
      m_currentSessionIsActive = false;
      break;
    case HostNotification::kAnnounceAgain:
      CheckCurrentHotkey(true, true);
      break;
    default:
      break;
  }
}

bool CKeyboardLayout::SendHotkeysToHost(uint32_t languageHotkey, uint32_t layoutHotkey,
                                        HANDLE abandon) {
  return SendTwoWordReport(m_device.get(), kKeyboardHotkeysReport, languageHotkey, layoutHotkey,
                           abandon);
}

void CKeyboardLayout::WatchLayoutKey(HANDLE stop) {
  UniqueHandle changed(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!changed)
    return;
  for (;;) {
    // The notification is one-shot: it is asked for again after each change.
    if (RegNotifyChangeKeyValue(m_currentUserLayoutKey.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET,
                                changed.get(), TRUE) != ERROR_SUCCESS) {
      return;
    }
    const HANDLE waits[] = {changed.get(), stop};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
      return;
    MLOG(kLogDebug, kTag, "Keyboard layout key for current user is changed. Check current layout");
    // The stop ends a wait for a device that does not answer.
    Check(false, true, stop);
  }
}

}  // namespace mantlet
