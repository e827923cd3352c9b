#include "core/lifecycle.h"

#include <objbase.h>

#include <memory>
#include <new>

#include "core/commands.h"
#include "core/education.h"
#include "core/handles.h"
#include "core/host_announce.h"
#include "core/hypercall.h"
#include "core/log.h"
#include "core/new_component.h"
#include "core/windows_version.h"
#include "interaction/keyboard_layout.h"
#include "interaction/message_box_handler.h"
#include "settings/browser_search_info.h"
#include "settings/notifications.h"
#include "settings/program_configuration.h"
#include "sharemapping/guest_share_mapping.h"
#include "taskbar/cursor_utils.h"
#include "taskbar/relocate_taskbar.h"
#include "taskbar/show_hide_taskbar.h"
#include "weave/weave_state_controller.h"

namespace mantlet {

ToolState g_tool;
ComponentHolders g_components;
uint16_t g_windowsVersion = 0;

uint16_t CacheWindowsVersion() {
  g_windowsVersion = VersionFromGetVersion(GetVersion());
  return g_windowsVersion;
}

namespace {

// Resolution state of the host's option getter.
using VConfigGetOptionFn = uint32_t(WINAPI*)(uint32_t, void*, uint32_t);
VConfigGetOptionFn g_getOption = nullptr;
bool g_decoratedNameLooked = false;
bool g_errorCaptured = false;
DWORD g_capturedError = 0;

template <typename T>
void StopAndDestroy(ComponentSlot<T>& slot) {
  if (std::unique_ptr<T> component = slot.Take())
    component->Stop();
}

void CloseChannelHandle(HANDLE& handle) {
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
}

int FailStart(const char* message) {
  // The error code is read before anything else can change it.
  const DWORD error = GetLastError();
  MLOG(kLogWarning, kToolTag, message, static_cast<int>(error));
  StopToolInternal(false);
  return -1;
}

void CreateComponents() {
  g_components.shareMapping.Set(NewComponent<GuestShareMapping>());

  if (std::unique_ptr<ShowHideTaskBarAndDesktop> showHide =
          NewComponent<ShowHideTaskBarAndDesktop>()) {
    // Kept only when its watcher runs; without the device it has nothing to do.
    if (showHide->Start())
      g_components.showHide.Set(std::move(showHide));
  }

  g_components.weave.Set(NewComponent<WeaveStateController>());
  if (g_components.weave)
    g_components.weave->Start();

  g_components.relocate.Set(NewComponent<RelocateTaskbar>());
  if (g_components.relocate)
    g_components.relocate->Start();

  g_components.messageBoxes.Set(NewComponent<MessageBoxHandler>());
  if (g_components.messageBoxes)
    g_components.messageBoxes->Start();

  g_components.keyboard.Set(NewComponent<CKeyboardLayout>());
  if (g_components.keyboard)
    g_components.keyboard->Start();

  g_components.cursor.Set(NewComponent<CCursorUtils>());
  if (g_components.cursor)
    g_components.cursor->Start();

  g_components.browsers.Set(NewComponent<BrowserSearchInfo>());
}

}  // namespace

uint32_t GetHostOption(uint32_t optionId, void* buffer, uint32_t bufferSize) {
  HMODULE host = GetModuleHandleW(nullptr);
  if (!g_decoratedNameLooked) {
    g_decoratedNameLooked = true;
    g_getOption = LookUpProc<VConfigGetOptionFn>(host, "_VConfigGetOption@12");
  }
  if (g_getOption == nullptr) {
    g_getOption = LookUpProc<VConfigGetOptionFn>(host, "VConfigGetOption");
  }
  if (g_getOption == nullptr) {
    if (!g_errorCaptured) {
      g_errorCaptured = true;
      g_capturedError = GetLastError();
    }
    SetLastError(g_capturedError);
    return 0;
  }
  return g_getOption(optionId, buffer, bufferSize);
}

bool OnProcessAttach(HMODULE instance) {
  g_tool.instance = instance;
  CacheWindowsVersion();

  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    if (mutex != nullptr)
      CloseHandle(mutex);
    return false;
  }
  g_tool.singleInstanceMutex = mutex;
  DisableThreadLibraryCalls(instance);
  // Without the guard the forwarder's probe would fault on every line where
  // there is no hypervisor; lines then go to the file only.
  if (InstallHostCallGuard())
    InstallHostLogForwarder();
  return true;
}

void OnProcessDetach() {
  // The guard lives in this module's code: it must not outlive the module.
  RemoveHostCallGuard();
  if (g_tool.singleInstanceMutex != nullptr) {
    CloseHandle(g_tool.singleInstanceMutex);
    g_tool.singleInstanceMutex = nullptr;
  }
}

int StartTool() {
  MLOG(kLogInfo, kToolTag, "Start desktop utilities tool");
  if (g_tool.started)
    return 0;

  VConfigChanged(0);
  ApplyProgramConfiguration();

  const HRESULT com = CoInitialize(nullptr);
  if (SUCCEEDED(com)) {
    g_tool.comInitialized = true;
    g_tool.comThreadId = GetCurrentThreadId();
  }

  g_tool.mailslot = CreateMailslotW(kMailslotName, 0, 500, nullptr);
  if (g_tool.mailslot == INVALID_HANDLE_VALUE)
    return FailStart("Can't create mailslot. err=%d");

  HANDLE commandEvent = CreateEventW(nullptr, FALSE, FALSE, kCommandEventName);
  if (commandEvent == nullptr)
    return FailStart("Can't create command event. err=%d");
  g_tool.commandEvent = commandEvent;

  CreateComponents();

  g_tool.terminateEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (g_tool.terminateEvent == nullptr) {
    return FailStart("Can't create terminate thread event. err=%d");
  }

  g_tool.workerThread = CreateThread(nullptr, 0, &CommandWorkerMain, nullptr, 0, nullptr);
  if (g_tool.workerThread == nullptr)
    return FailStart("Can't create working thread. err=%d");

  RegisterTool();
  g_tool.started = true;
  if (g_components.browsers)
    g_components.browsers->SendStartNotice();
  return 0;
}

void StopToolInternal(bool restoreTaskbar) {
  MLOG(kLogInfo, kToolTag, "Stop desktop utilities tool");
  if (g_tool.started)
    UnregisterTool();

  if (g_tool.workerThread != nullptr) {
    SetEvent(g_tool.terminateEvent);
    WaitForSingleObject(g_tool.workerThread, INFINITE);
    CloseHandle(g_tool.workerThread);
    g_tool.workerThread = nullptr;
  }
  if (g_tool.terminateEvent != nullptr) {
    CloseHandle(g_tool.terminateEvent);
    g_tool.terminateEvent = nullptr;
  }

  EndEducationApp();

  StopAndDestroy(g_components.cursor);
  StopAndDestroy(g_components.keyboard);
  StopAndDestroy(g_components.messageBoxes);
  StopAndDestroy(g_components.weave);
  if (std::unique_ptr<ShowHideTaskBarAndDesktop> showHide = g_components.showHide.Take()) {
    if (restoreTaskbar)
      showHide->SetTaskbarVisible(true);
    showHide->Stop();
  }
  g_components.shareMapping.Take();  // its destructor unmaps the drives
  StopAndDestroy(g_components.relocate);
  // A stopped tool keeps no device handle: the next start makes a new one.
  g_components.browsers.Take();

  CloseChannelHandle(g_tool.commandEvent);
  CloseChannelHandle(g_tool.mailslot);

  if (g_tool.comInitialized) {
    // A stop on another thread than the start cannot undo the starting
    // thread's apartment; that thread keeps it until it ends.
    if (g_tool.comThreadId == GetCurrentThreadId())
      CoUninitialize();
    g_tool.comInitialized = false;
    g_tool.comThreadId = 0;
  }
  g_tool.started = false;
}

int StopTool() {
  StopToolInternal(true);
  return 0;
}

int NotifyTool(uint32_t code, uint32_t /*arg*/) {
  if (code == kSessionBecameActive) {
    MLOG(kLogDebug, kToolTag, "Current session became active. Start the tool.");
    StartTool();
  } else if (code == kSessionBecameInactive) {
    MLOG(kLogDebug, kToolTag, "Current session became inactive. Stop the tool.");
    StopToolInternal(false);
  } else if (code == kAnnounceAgain) {
    RegisterTool();
  }
  if (g_components.keyboard)
    g_components.keyboard->OnNotify(code);
  if (g_components.shareMapping)
    g_components.shareMapping->NotifyTool(code);
  if (g_components.relocate)
    g_components.relocate->NotifyTool(code);
  return 0;
}

int VConfigChanged(uint32_t /*arg*/) {
  if (g_windowsVersion < kWindows8)
    return 0;
  uint32_t value = 0;
  if (GetHostOption(kNotificationsOptionId, &value, sizeof(value)) != sizeof(value))
    return 1;
  if (value == g_tool.lastNotificationsOption)
    return 0;
  g_tool.lastNotificationsOption = value;
  OnNotificationsOption(value);
  return 0;
}

}  // namespace mantlet
