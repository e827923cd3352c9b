#include "taskbar/show_hide_taskbar.h"

#include <shellapi.h>

#include <cwchar>
#include <optional>
#include <vector>

#include "core/com.h"
#include "core/device.h"
#include "core/device_request.h"
#include "core/log.h"
#include "core/windows_version.h"
#include "shell/shell_windows.h"
#include "taskbar/appbar_message.h"
#include "taskbar/work_area.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "SHOWHIDETOOL";
constexpr char kNoTag[] = "";
constexpr wchar_t kStartButtonClass[] = L"Button";
constexpr WPARAM kToggleDesktopCommandId = 407;
constexpr DWORD kPassIntervalMs = 1000;
// A request that keeps changing while it is applied is left to the next pass.
constexpr int kMaxApplyRounds = 16;

using TaskbarList = FixedList<HWND, kMaxTaskbars>;

BOOL CALLBACK CollectSecondary(HWND window, LPARAM param) {
  auto& list = *reinterpret_cast<TaskbarList*>(param);
  if (IsWindowOfClass(window, kSecondaryTaskbarClass))
    list.Append(window);
  return list.full() ? FALSE : TRUE;
}

// The primary taskbar first, then (6.2 and later, several monitors) the
// secondary ones of the primary's thread.
void CollectTaskbars(TaskbarList& list) {
  HWND primary = FindWindowW(kPrimaryTaskbarClass, nullptr);
  if (primary == nullptr)
    return;
  list.Append(primary);
  if (WantsSecondaryTaskbars(g_windowsVersion, GetSystemMetrics(SM_CMONITORS))) {
    const DWORD thread = GetWindowThreadProcessId(primary, nullptr);
    EnumThreadWindows(thread, &CollectSecondary, reinterpret_cast<LPARAM>(&list));
  }
}

// The start button is a top-level "Button" owned by the primary taskbar.
HWND FindStartButton(HWND primary) {
  HWND button = nullptr;
  while ((button = FindWindowExW(nullptr, button, kStartButtonClass, nullptr)) != nullptr) {
    if (GetWindow(button, GW_OWNER) == primary)
      return button;
  }
  return nullptr;
}

bool ProbeTaskbar(ProbedState& state) {
  TaskbarList list;
  CollectTaskbars(list);
  if (list.empty())
    return false;
  state.taskbarVisible = false;
  for (HWND taskbar : list) {
    if (IsWindowVisible(taskbar)) {
      state.taskbarVisible = true;
      break;
    }
  }
  state.startButtonVisible = state.taskbarVisible;
  if (g_windowsVersion >= kWindowsVista) {
    if (HWND button = FindStartButton(list[0]))
      state.startButtonVisible = IsWindowVisible(button) != FALSE;
  }
  return true;
}

// The shell's show-desktop state: the view has left "Progman" for a
// "WorkerW" that lies above every ordinary window.
bool ProbeDesktop(bool& desktopShown) {
  HWND progman = FindWindowW(kDesktopClass, nullptr);
  if (progman == nullptr)
    return false;
  if (FindViewUnder(progman) != nullptr) {
    desktopShown = false;
    return true;
  }
  if (g_windowsVersion < kWindowsVista) {
    desktopShown = true;
    return true;
  }
  HWND window = GetTopWindow(nullptr);
  for (; window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
    RECT rect = {};
    const bool known = GetWindowRect(window, &rect) != FALSE;
    if (IsDesktopProbeCandidate(static_cast<uint32_t>(GetWindowLongW(window, GWL_STYLE)),
                                static_cast<uint32_t>(GetWindowLongW(window, GWL_EXSTYLE)), known,
                                FromRect(rect))) {
      break;
    }
  }
  desktopShown = window != nullptr && IsWindowOfClass(window, kWorkerClass) &&
                 FindViewUnder(window) != nullptr;
  return true;
}

void AdjustWorkArea(HWND taskbar, bool reserve) {
  RECT taskbarRect = {};
  if (!GetWindowRect(taskbar, &taskbarRect))
    return;
  HMONITOR monitor = MonitorFromRect(&taskbarRect, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(monitor, &info))
    return;
  const WorkAreaDecision decision = DecideWorkArea(FromRect(taskbarRect), FromRect(info.rcMonitor),
                                                   FromRect(info.rcWork), reserve);
  if (!decision.change)
    return;
  RECT work = {decision.work.left, decision.work.top, decision.work.right, decision.work.bottom};
  if (!SystemParametersInfoW(SPI_SETWORKAREA, 1, &work, SPIF_SENDCHANGE)) {
    MLOG_FAILURE(kLogError, kNoTag, GetLastError(), "failed to set workarea to (%ld,%ld,%ld,%ld)",
                 work.left, work.top, work.right, work.bottom);
  } else {
    MLOG(kLogInfo, kNoTag, "Workarea set to (%ld,%ld,%ld,%ld)", work.left, work.top, work.right,
         work.bottom);
  }
}

void UpdateWorkAreas(bool show, HANDLE abandon) {
  // A shell that does not answer in time is taken for one whose taskbar does
  // not auto-hide, as a taskbar is until its user says otherwise: a shown
  // taskbar then keeps its strip and no window goes under it. The next
  // reapply with an answer corrects an auto-hiding one.
  const std::optional<UINT_PTR> state =
      CallShellAppBar("Asking the shell for the taskbar state", ABM_GETSTATE, AppBarData(),
                      kTaskbarStateBoundMs, abandon);
  const bool autoHide = state && (*state & ABS_AUTOHIDE) != 0;
  const bool reserve = show && !autoHide;
  TaskbarList list;
  CollectTaskbars(list);
  for (HWND taskbar : list)
    AdjustWorkArea(taskbar, reserve);
}

// The taskbars belong to the shell's thread: they are shown and hidden
// without waiting for it to get round to them.
void ApplyTaskbarVisibility(bool show, HANDLE abandon) {
  TaskbarList list;
  CollectTaskbars(list);
  if (list.empty()) {
    MLOG(kLogWarning, kNoTag, "Can't find Shell_TrayWnd window");
    return;
  }
  const int command = show ? SW_SHOW : SW_HIDE;
  for (HWND taskbar : list)
    ShowWindowAsync(taskbar, command);
  if (g_windowsVersion >= kWindowsVista) {
    if (HWND button = FindStartButton(list[0]))
      ShowWindowAsync(button, command);
  }
  UpdateWorkAreas(show, abandon);
}

}  // namespace

ShowHideTaskBarAndDesktop::ShowHideTaskBarAndDesktop(DesktopStateListener onDesktopStateChanged)
    : m_onDesktopStateChanged(std::move(onDesktopStateChanged)) {
  MLOG(kLogInfo, kTag, "ShowHideTaskBarAndDesktop has been constructed");
}

ShowHideTaskBarAndDesktop::~ShowHideTaskBarAndDesktop() {
  MLOG(kLogInfo, kTag, "ShowHideTaskBarAndDesktop has been destructed");
}

bool ShowHideTaskBarAndDesktop::Start() {
  MLOG(kLogInfo, kTag, "ShowHideTaskBarAndDesktop::Start");
  // Overlapped: a report is waited for with a bound, and the stop ends the
  // wait.
  m_device = OpenToolsDevice();
  if (!m_device) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Error in opening of cvn_tg driver");
    return false;
  }
  if (!m_handlerThread.Prepare()) {
    LogWrite(kTag, kModuleName, kLogError, "Can't create termination event");
    Stop();
    return false;
  }
  if (!m_handlerThread.Start("taskbar watcher", [this](HANDLE stop) {
        ComScope com;
        Watch(stop);
      })) {
    LogWrite(kTag, kModuleName, kLogError, "Can't create handler thread");
    Stop();
    return false;
  }
  return true;
}

bool ShowHideTaskBarAndDesktop::Stop() {
  MLOG(kLogInfo, kTag, "ShowHideTaskBarAndDesktop::Stop");
  if (m_handlerThread.running()) {
    if (!m_handlerThread.Stop()) {
      // The watcher runs on with the device handle: both stay.
      LogWrite(kTag, kModuleName, kLogError, "Can't set termination event");
      return false;
    }
  } else {
    LogWrite(kTag, kModuleName, kLogError, "Handler thread isn't running");
  }
  m_device.reset();
  return true;
}

void ShowHideTaskBarAndDesktop::SetTaskbarVisible(bool visible) {
  m_requested = visible ? kTaskbarRequestShown : kTaskbarRequestHidden;
  ApplyTaskbarVisibility(visible, nullptr);
}

// The host's latest request must win over the watcher and the appbar thread,
// which apply a request they read earlier while the command worker may
// record and apply a newer one. Those threads never record a request (only
// the host's callers do), so they cannot put an older one back; and since
// their apply may reach the shell after the worker's and undo it on screen,
// they read the request again once done and apply it anew if it changed
// meanwhile. The shell takes the shows and hides in the order they were
// made, so the last it takes is always one of the latest request.
void ShowHideTaskBarAndDesktop::ApplyLatest(TaskbarRequest applied, ApplyScope scope,
                                            HANDLE abandon) {
  for (int round = 0; round < kMaxApplyRounds; ++round) {
    const bool show = applied == kTaskbarRequestShown;
    if (scope == ApplyScope::kWorkAreas) {
      UpdateWorkAreas(show, abandon);
    } else {
      ApplyTaskbarVisibility(show, abandon);
    }
    const TaskbarRequest latest = m_requested;
    if (latest == applied)
      return;
    applied = latest;
  }
}

void ShowHideTaskBarAndDesktop::ReapplyWorkAreas(HANDLE abandon) {
  const TaskbarRequest requested = m_requested;
  if (requested != kTaskbarRequestNone)
    ApplyLatest(requested, ApplyScope::kWorkAreas, abandon);
}

void ShowHideTaskBarAndDesktop::ToggleDesktop() {
  HWND taskbar = FindWindowW(kPrimaryTaskbarClass, nullptr);
  if (taskbar == nullptr) {
    MLOG(kLogWarning, kTag, "Can't find Shell_TrayWnd window");
    return;
  }
  HWND foreground = GetForegroundWindow();
  if (foreground != nullptr && foreground != taskbar) {
    const DWORD self = GetCurrentThreadId();
    const DWORD other = GetWindowThreadProcessId(foreground, nullptr);
    if (AttachThreadInput(self, other, TRUE)) {
      // What BringWindowToTop does, left to the shell's thread instead of
      // waiting for it.
      SetWindowPos(taskbar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_ASYNCWINDOWPOS);
      AttachThreadInput(self, other, FALSE);
    }
  }
  PostMessageW(taskbar, WM_COMMAND, kToggleDesktopCommandId, 0);
}

void ShowHideTaskBarAndDesktop::Watch(HANDLE stop) {
  for (;;) {
    ProbedState probed;
    if (ProbeTaskbar(probed) && ProbeDesktop(probed.desktopShown)) {
      const TaskbarRequest requested = m_requested;
      const PassActions actions = DecidePass(probed, requested, m_watch);
      if (actions.enforce)
        ApplyLatest(requested, ApplyScope::kTaskbarsAndWorkAreas, stop);
      if (actions.desktopChanged && m_onDesktopStateChanged)
        m_onDesktopStateChanged(probed.desktopShown);
      // Its outcome is not looked at: a lost report is not repeated until a
      // value changes. A device that does not answer is given up after a
      // bound, or at once by the stop.
      if (actions.report) {
        SendTwoWordReport(m_device.get(), kTaskbarStateReport, probed.desktopShown ? 1 : 0,
                          probed.taskbarVisible ? 1 : 0, stop);
      }
    }
    if (WaitAnsweringSentMessages(stop, kPassIntervalMs) != WAIT_TIMEOUT)
      return;
  }
}

}  // namespace mantlet
