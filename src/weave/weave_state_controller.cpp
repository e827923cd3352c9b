#include "weave/weave_state_controller.h"

#include "core/handles.h"
#include "core/log.h"
#include "core/windows_version.h"
#include "weave/borders.h"

namespace mantlet {
WeaveStateController::WeaveStateController() {
  InitializeCriticalSection(&m_lock);
  MLOG(kLogDebug, kWeaveTag, "WeaveStateController has been contructed");
}

WeaveStateController::~WeaveStateController() {
  MLOG(kLogDebug, kWeaveTag, "WeaveStateController has been destructed");
  DeleteCriticalSection(&m_lock);
}

bool WeaveStateController::Start() {
  CriticalSectionLock hold(m_lock);
  if (CreateKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_ALL_ACCESS, &m_key) != ERROR_SUCCESS) {
    LogWrite(kWeaveTag, kModuleName, kLogError,
             "Error in opening of TOOL_GUEST_UTILS_REGISTRY_PATH occured. Start is failed.");
    return false;
  }
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
  CriticalSectionLock hold(m_lock);
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
  m_key.reset();
  return true;
}

void WeaveStateController::OnWeaveStateChanged(bool weaveMode) {
  CriticalSectionLock hold(m_lock);
  MLOG(kLogDebug, kWeaveTag, "Weave state changed. bWeaveMode=%d", weaveMode ? 1 : 0);
  if (weaveMode == m_weaveMode)
    return;
  const bool restore = !weaveMode;
  ChangeDesktopState(restore);
  ChangeScreenSaverTimeout(restore);
  ChangeTaskbarAnimations(restore);
  StartAdjustingBordersThread(restore);
  m_weaveMode = weaveMode;
}

void WeaveStateController::OnDesktopStateChanged(bool desktopShown) {
  CriticalSectionLock hold(m_lock);
  MLOG(kLogDebug, kWeaveTag, "Desktop state changed. bDesktopShown=%d", desktopShown ? 1 : 0);
  m_desktopShown = desktopShown;
  if (m_weaveMode)
    ChangeDesktopState(desktopShown);
}

void WeaveStateController::SetVmColor(uint32_t /*color*/) {
  // The host's colour is accepted and ignored: the Weave desktop keeps
  // kWeaveDesktopColor for the controller's life.
}

}  // namespace mantlet
