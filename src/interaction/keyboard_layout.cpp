#include "interaction/keyboard_layout.h"

#include <vector>

#include "core/device.h"
#include "core/device_request.h"
#include "core/log.h"
#include "core/registry.h"
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
  const ValueRead read = ReadRawValue(toggle, name, data, sizeof(data));
  if (!read.found())
    return false;
  *hotkey = ParseHotkeyValue(std::span<const uint8_t>(data, read.bytes));
  return true;
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
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create termination event");
    return FailStart();
  }
  if (OpenKey(HKEY_CURRENT_USER, L"Keyboard Layout", KEY_READ, &m_currentUserLayoutKey) !=
      ERROR_SUCCESS) {
    LogWrite(kTag, kModuleName, kLogError, "Can't open 'Keyboard Layout' key in the registry.");
    return FailStart();
  }
  if (OpenKey(HKEY_USERS, L".DEFAULT\\Keyboard Layout", KEY_READ, &m_defaultUserLayoutKey) !=
      ERROR_SUCCESS) {
    LogWrite(kTag, kModuleName, kLogError,
             "Can't open '.DEFAULT\\Keyboard Layout' key in the registry");
    return FailStart();
  }
  // Overlapped: a report is waited for with a bound, and the watcher's stop
  // ends the wait.
  m_device = OpenToolsDevice();
  if (!m_device) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't open cvntg device");
    return FailStart();
  }
  CheckCurrentHotkey(LastSentPair::kForget, LayoutKey::kCurrentUser);
  if (!m_watcherThread.Start("keyboard layout watcher",
                             [this](HANDLE stop) { WatchLayoutKey(stop); })) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create working thread");
    return FailStart();
  }
  return true;
}

bool CKeyboardLayout::Stop() {
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

bool CKeyboardLayout::Check(LastSentPair lastSent, LayoutKey layoutKey, HANDLE abandon) {
  CriticalSectionLock hold(m_checkLock);
  const bool resetHotkeys = lastSent == LastSentPair::kForget;
  const bool currentUserKey = layoutKey == LayoutKey::kCurrentUser;
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

  const HKEY parent = currentUserKey ? m_currentUserLayoutKey.get() : m_defaultUserLayoutKey.get();
  UniqueRegKey toggle;
  if (parent != nullptr)
    OpenKey(parent, L"Toggle", KEY_READ, &toggle);
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
      CheckCurrentHotkey(LastSentPair::kForget, LayoutKey::kCurrentUser);
      break;
    case HostNotification::kSessionBecameInactive:
    case HostNotification::kSessionDisconnected:
      CheckCurrentHotkey(LastSentPair::kKeep, LayoutKey::kDefaultUser);
      m_currentSessionIsActive = false;
      break;
    case HostNotification::kAnnounceAgain:
      CheckCurrentHotkey(LastSentPair::kForget, LayoutKey::kCurrentUser);
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
    if (WatchKeyChanges(m_currentUserLayoutKey.get(), changed.get()) != ERROR_SUCCESS)
      return;
    const HANDLE waits[] = {changed.get(), stop};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
      return;
    MLOG(kLogDebug, kTag, "Keyboard layout key for current user is changed. Check current layout");
    // The stop ends a wait for a device that does not answer.
    Check(LastSentPair::kKeep, LayoutKey::kCurrentUser, stop);
  }
}

}  // namespace mantlet
