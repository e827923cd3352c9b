#include "tool/lifecycle.h"

#include <objbase.h>

#include <memory>
#include <new>
#include <utility>

#include "tool/commands.h"
#include "tool/education.h"
#include "core/handles.h"
#include "core/host_announce.h"
#include "core/hypercall.h"
#include "core/log.h"
#include "tool/new_component.h"
#include "core/device.h"
#include "core/threads.h"
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

// Stops a component and destroys it. A component whose thread could not be
// told to stop is left alive rather than destroyed under that thread.
template <typename T>
void StopAndDestroy(ComponentSlot<T>& slot, const char* name) {
  std::unique_ptr<T> component = slot.Take();
  if (!component)
    return;
  bool stopped = true;
  RunGuarded(name, [&] { stopped = component->Stop(); });
  if (!stopped) {
    LogWrite(kToolTag, kModuleName, kLogError, "%s could not stop its thread; it is kept alive",
             name);
    component.release();
  }
}

// Creates a component; one that cannot be made (no memory, or its
// constructor failing half way) is absent and the tool runs without it.
template <typename T, typename... Args>
std::unique_ptr<T> MakeComponent(const char* name, Args&&... args) {
  std::unique_ptr<T> component;
  RunGuarded(name, [&] { component = NewComponent<T>(std::forward<Args>(args)...); });
  return component;
}

// Runs a component's start; one that fails by an exception counts as failed.
bool StartComponent(Component& component, const char* name) {
  bool started = false;
  RunGuarded(name, [&] { started = component.Start(); });
  return started;
}

int FailStart(const char* message) {
  // The error code is read before anything else can change it.
  MLOG_FAILURE(kLogWarning, kToolTag, GetLastError(), "%s", message);
  StopToolInternal(false);
  return -1;
}

// Creates a component, puts it in its holder and starts it (a failed start
// keeps it, as the tool expects of all but the taskbar component).
template <typename T, typename... Args>
void CreateAndStart(ComponentSlot<T>& slot, const char* name, Args&&... args) {
  slot.Set(MakeComponent<T>(name, std::forward<Args>(args)...));
  if (slot)
    StartComponent(*slot.get(), name);
}

// The components' threads reach one another only through the holders, which
// keep an object alive for the call while the stop routine waits to destroy it.
void TellWeaveDesktopState(bool desktopShown) {
  g_components.weave.With(
      [&](WeaveStateController& weave) { weave.OnDesktopStateChanged(desktopShown); });
}

void ReapplyTaskbarWorkAreas(HANDLE abandon) {
  g_components.showHide.With([&](ShowHideTaskBarAndDesktop& c) { c.ReapplyWorkAreas(abandon); });
}

void CreateComponents() {
  CreateAndStart(g_components.shareMapping, "GuestShareMapping");

  if (std::unique_ptr<ShowHideTaskBarAndDesktop> showHide =
          MakeComponent<ShowHideTaskBarAndDesktop>("ShowHideTaskBarAndDesktop",
                                                   DesktopStateListener(&TellWeaveDesktopState))) {
    // Kept only when its watcher runs; without the device it has nothing to do.
    if (StartComponent(*showHide, "ShowHideTaskBarAndDesktop"))
      g_components.showHide.Set(std::move(showHide));
    else
      RunGuarded("ShowHideTaskBarAndDesktop", [&] { showHide.reset(); });
  }

  CreateAndStart(g_components.weave, "WeaveStateController");
  CreateAndStart(g_components.relocate, "RelocateTaskbar",
                 WorkAreaReapplier(&ReapplyTaskbarWorkAreas));
  CreateAndStart(g_components.messageBoxes, "MessageBoxHandler");
  CreateAndStart(g_components.keyboard, "CKeyboardLayout");
  CreateAndStart(g_components.cursor, "CCursorUtils");
  g_components.browsers.Set(MakeComponent<BrowserSearchInfo>("BrowserSearchInfo"));
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

  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS)
    return false;
  g_tool.singleInstanceMutex = std::move(mutex);
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
  g_tool.singleInstanceMutex.reset();
}

namespace {

int StartToolSteps() {
  SetDeviceRequestsStopping(false);

  VConfigChanged(0);
  ApplyProgramConfiguration();

  const HRESULT com = CoInitialize(nullptr);
  if (SUCCEEDED(com)) {
    g_tool.comInitialized = true;
    g_tool.comThreadId = GetCurrentThreadId();
  }

  g_tool.mailslot.reset(CreateMailslotW(kMailslotName, 0, 500, nullptr));
  if (!g_tool.mailslot)
    return FailStart("Can't create mailslot");

  g_tool.commandEvent.reset(CreateEventW(nullptr, FALSE, FALSE, kCommandEventName));
  if (!g_tool.commandEvent)
    return FailStart("Can't create command event");

  CreateComponents();

  if (!g_tool.worker.Prepare())
    return FailStart("Can't create terminate thread event");
  if (!g_tool.worker.Start("The command worker", &RunCommandWorker))
    return FailStart("Can't create working thread");

  RegisterTool();
  g_tool.started = true;
  if (g_components.browsers)
    StartComponent(*g_components.browsers.get(), "BrowserSearchInfo");
  return 0;
}

}  // namespace

int StartTool() {
  MLOG(kLogInfo, kToolTag, "Start desktop utilities tool");
  if (g_tool.started)
    return 0;
  // A start that fails half way, by an error or an exception, is undone
  // whole: the host never sees a tool that is half started.
  int result = -1;
  if (!RunGuarded("StartTool", [&] { result = StartToolSteps(); }))
    StopToolInternal(false);
  return result;
}

void StopToolInternal(bool restoreTaskbar) {
  MLOG(kLogInfo, kToolTag, "Stop desktop utilities tool");
  // From here on no thread of ours waits for the device.
  SetDeviceRequestsStopping(true);
  if (g_tool.started)
    RunGuarded("UnregisterTool", &UnregisterTool);

  // The worker ends on its terminate event. The WM_QUIT besides ends a
  // modal loop it may be in (the shell's question before it empties the
  // recycle bin waits for a person). One that cannot be told keeps the
  // channel and the components it uses: the stop goes no further rather
  // than destroy them under it. The join answers the settings broadcasts the
  // worker may be sending to this thread's windows meanwhile.
  if (g_tool.worker.running())
    PostThreadMessageW(g_tool.worker.id(), WM_QUIT, 0, 0);
  if (!g_tool.worker.Stop()) {
    LogWrite(kToolTag, kModuleName, kLogError,
             "Can't tell the working thread to end; the tool is left as it is");
    return;
  }

  EndEducationApp();

  StopAndDestroy(g_components.cursor, "CCursorUtils");
  StopAndDestroy(g_components.keyboard, "CKeyboardLayout");
  StopAndDestroy(g_components.messageBoxes, "MessageBoxHandler");
  StopAndDestroy(g_components.weave, "WeaveStateController");
  if (restoreTaskbar && g_components.showHide) {
    RunGuarded("ShowHideTaskBarAndDesktop", [] { g_components.showHide->SetTaskbarVisible(true); });
  }
  StopAndDestroy(g_components.showHide, "ShowHideTaskBarAndDesktop");
  StopAndDestroy(g_components.shareMapping, "GuestShareMapping");  // unmaps the drives
  StopAndDestroy(g_components.relocate, "RelocateTaskbar");
  // A stopped tool keeps no device handle: the next start makes a new one.
  RunGuarded("BrowserSearchInfo", [] { g_components.browsers.Take(); });

  g_tool.commandEvent.reset();
  g_tool.mailslot.reset();

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
  if (code == static_cast<uint32_t>(HostNotification::kSessionBecameActive)) {
    MLOG(kLogDebug, kToolTag, "Current session became active. Start the tool.");
    StartTool();
  } else if (code == static_cast<uint32_t>(HostNotification::kSessionBecameInactive)) {
    MLOG(kLogDebug, kToolTag, "Current session became inactive. Stop the tool.");
    StopToolInternal(false);
  } else if (code == static_cast<uint32_t>(HostNotification::kAnnounceAgain)) {
    RegisterTool();
  }
  // Each component on its own: one that fails does not keep the code from
  // the others.
  const auto notify = [code](Component* component, const char* name) {
    if (component != nullptr)
      RunGuarded(name, [&] { component->OnNotify(static_cast<HostNotification>(code)); });
  };
  notify(g_components.keyboard.get(), "CKeyboardLayout::OnNotify");
  notify(g_components.shareMapping.get(), "GuestShareMapping::OnNotify");
  notify(g_components.relocate.get(), "RelocateTaskbar::OnNotify");
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
  // Recorded only once done: a switch that failed (a restore the platform
  // refused keeps the user's choice saved) is tried again at the next call,
  // the next start's among them.
  if (OnNotificationsOption(value))
    g_tool.lastNotificationsOption = value;
  return 0;
}

}  // namespace mantlet
