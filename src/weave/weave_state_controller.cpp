#include "weave/weave_state_controller.h"

#include "settings/settings_key.h"
#include "core/log.h"
#include "core/windows_version.h"
#include "weave/borders.h"

namespace mantlet {
namespace {

// m_lock for a scope.
class Serialized {
 public:
  explicit Serialized(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  ~Serialized() { LeaveCriticalSection(&lock_); }
  Serialized(const Serialized&) = delete;
  Serialized& operator=(const Serialized&) = delete;

 private:
  CRITICAL_SECTION& lock_;
};

}  // namespace

WeaveStateController::WeaveStateController() {
  InitializeCriticalSection(&m_lock);
  MLOG(kLogDebug, kWeaveTag, "WeaveStateController has been contructed");
}

WeaveStateController::~WeaveStateController() {
  MLOG(kLogDebug, kWeaveTag, "WeaveStateController has been destructed");
  DeleteCriticalSection(&m_lock);
}

bool WeaveStateController::Start() {
  Serialized hold(m_lock);
  if (m_key != nullptr) {
    RegCloseKey(m_key);
    m_key = nullptr;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kGuestUtilsKeyPathA, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    LogWrite(kWeaveTag, kModuleName, kLogError,
             "Error in opening of TOOL_GUEST_UTILS_REGISTRY_PATH occured. Start is failed.");
    return false;
  }
  m_key = key;
  m_desktopEnabled = false;
  // Whatever an earlier run left saved (a crash, a lost stop) comes back now.
  ChangeDesktopState(true);
  ChangeScreenSaverTimeout(true);
  ChangeTaskbarAnimations(true);
  StartAdjustingBordersThread(true);
  m_started = true;
  return true;
}

bool WeaveStateController::Stop() {
  Serialized hold(m_lock);
  m_started = false;
  m_desktopEnabled = false;
  ChangeDesktopState(true);
  ChangeScreenSaverTimeout(true);
  ChangeTaskbarAnimations(true);
  // The border thread uses no member, so waiting under the lock cannot
  // deadlock with it; no other caller can be waiting for the lock by now.
  if (!WaitAdjustingBordersThread(kBorderThreadBudgetMs)) {
    MLOG(kLogWarning, kWeaveTag, "AdjustingBordersThread is running for %d secs",
         static_cast<int>(AdjustingBordersThreadSeconds()));
    WaitAdjustingBordersThread(INFINITE);
  }
  RestoreBorders();
  if (m_key != nullptr) {
    RegCloseKey(m_key);
    m_key = nullptr;
  }
  return true;
}

void WeaveStateController::OnWeaveStateChanged(bool bWeaveMode) {
  Serialized hold(m_lock);
  MLOG(kLogDebug, kWeaveTag, "Weave state changed. bWeaveMode=%d", bWeaveMode ? 1 : 0);
  if (bWeaveMode == m_weaveMode)
    return;
  const bool restore = !bWeaveMode;
  ChangeDesktopState(restore);
  ChangeScreenSaverTimeout(restore);
  ChangeTaskbarAnimations(restore);
  StartAdjustingBordersThread(restore);
  m_weaveMode = bWeaveMode;
}

void WeaveStateController::OnDesktopStateChanged(bool bDesktopShown) {
  Serialized hold(m_lock);
  MLOG(kLogDebug, kWeaveTag, "Desktop state changed. bDesktopShown=%d", bDesktopShown ? 1 : 0);
  m_desktopShown = bDesktopShown;
  if (m_weaveMode)
    ChangeDesktopState(bDesktopShown);
}

void WeaveStateController::SetVmColor(uint32_t /*color*/) {
  // The host's colour is accepted and ignored: the Weave desktop keeps
  // kWeaveDesktopColor for the controller's life.
}

}  // namespace mantlet
