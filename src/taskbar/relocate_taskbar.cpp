#include "taskbar/relocate_taskbar.h"

#include <shellapi.h>

#include <new>
#include <optional>
#include <string>

#include "core/log.h"
#include "core/this_module.h"
#include "taskbar/appbar_message.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "TASKBARSETTINGS";
constexpr wchar_t kAuxClass[] = L"MantletAuxAppBar";
constexpr wchar_t kAuxTitle[] = L"cvn.tools.auxwnd";
constexpr wchar_t kAppBarClass[] = L"MantletAppBar";
constexpr wchar_t kAppBarTitle[] = L"cvn.tools.appbar";
constexpr UINT_PTR kStepTimer = 1;

// The component whose auxiliary window this process runs; one per process.
// Set when that window is created, cleared when its thread ends.
RelocateTaskbar* g_auxOwner = nullptr;

BOOL CALLBACK CountMaximised(HWND window, LPARAM param) {
  if (IsZoomed(window) && IsWindowVisible(window))
    ++*reinterpret_cast<size_t*>(param);
  return TRUE;
}

uint32_t StepDelay() {
  size_t count = 0;
  EnumWindows(&CountMaximised, reinterpret_cast<LPARAM>(&count));
  return StepDelayMs(count);
}

void ArmStepTimer(HWND aux) {
  SetTimer(aux, kStepTimer, StepDelay(), nullptr);
}

}  // namespace

struct RelocateTaskbar::ThreadStart {
  HANDLE ready;
  HWND aux;
};

RelocateTaskbar::RelocateTaskbar(WorkAreaReapplier reapplyWorkAreas)
    : m_reapplyWorkAreas(std::move(reapplyWorkAreas)) {
  InitializeCriticalSection(&m_lock);
  MLOG(kLogInfo, kTag, "RelocateTaskbar has been constructed");
}

RelocateTaskbar::~RelocateTaskbar() {
  // The thread uses the lock deleted below; the stop routine has joined it
  // already, this is for an object destroyed without a stop.
  m_workingThread.Stop();
  MLOG(kLogInfo, kTag, "RelocateTaskbar has been destructed");
  DeleteCriticalSection(&m_lock);
}

bool RelocateTaskbar::Start() {
  MLOG(kLogInfo, kTag, "RelocateTaskbar::Start");
  UniqueHandle ready(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!ready) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create thread ready event");
    return false;
  }
  WNDCLASSEXW appBarClass = {};
  appBarClass.cbSize = sizeof(appBarClass);
  appBarClass.lpfnWndProc = &DefWindowProcW;
  appBarClass.hInstance = ThisModule();
  appBarClass.lpszClassName = kAppBarClass;
  if (!RegisterClassExW(&appBarClass)) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't register window class");
    return false;
  }
  // Lives on this stack: the wait below lasts until the thread is done with it.
  ThreadStart start{ready.get(), nullptr};
  if (!m_workingThread.Start("appbar thread",
                             [this, &start](HANDLE stop) { RunWorkingThread(&start, stop); })) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create working thread");
    UnregisterClassW(kAppBarClass, ThisModule());
    return false;
  }
  const HANDLE waits[] = {ready.get(), m_workingThread.handle()};
  if (WaitAnsweringSentMessages(2, waits, INFINITE) == WAIT_OBJECT_0) {
    m_auxWnd = start.aux;
    return true;
  }
  LogWrite(kTag, kModuleName, kLogError, "Working thread stopped immediately after start");
  UnregisterClassW(kAppBarClass, ThisModule());
  return false;
}

bool RelocateTaskbar::Stop() {
  MLOG(kLogInfo, kTag, "RelocateTaskbar::Stop");
  if (m_workingThread.running()) {
    // Without an auxiliary window the thread ended by itself right after its
    // start; it is only joined, and the log keeps the line it has always had
    // for this case.
    if (m_auxWnd == nullptr)
      LogWrite(kTag, kModuleName, kLogError, "thread forcibly terminated");
    if (!m_workingThread.Stop())
      return false;  // it still creates appbar windows of the class below
    m_auxWnd = nullptr;
  }
  UnregisterClassW(kAppBarClass, ThisModule());
  return true;
}

void RelocateTaskbar::SetIndents(const IndentEntry* entries, size_t count) {
  bool wake = false;
  {
    CriticalSectionLock hold(m_lock);
    try {
      wake = m_requestedIndents.Store(entries, count);
    } catch (const std::bad_alloc&) {
      return;  // the previous request stands
    }
  }
  if (!m_workingThread.running()) {
    MLOG(kLogWarning, kTag, "Unable to set indents: there is no working thread");
  } else if (m_auxWnd == nullptr) {
    MLOG(kLogWarning, kTag, "Unable to post message to working thread. m_auxWnd is NULL");
  } else if (wake && !PostMessageW(m_auxWnd, WM_USER, 0, 0)) {
    const DWORD error = GetLastError();
    {
      CriticalSectionLock hold(m_lock);
      m_requestedIndents.WakeUpFailed();
    }
    MLOG_FAILURE(kLogWarning, kTag, error, "Unable to post message to working thread");
  }
}

void RelocateTaskbar::OnNotify(HostNotification code) {
  // The host's request to apply the work areas again.
  if (code == HostNotification::kSessionReconnected && m_reapplyWorkAreas)
    m_reapplyWorkAreas(nullptr);
}

void RelocateTaskbar::RunWorkingThread(ThreadStart* start, HANDLE stop) {
  const HINSTANCE instance = ThisModule();
  WNDCLASSEXW auxClass = {};
  auxClass.cbSize = sizeof(auxClass);
  auxClass.lpfnWndProc = &AuxWndProc;
  auxClass.hInstance = instance;
  auxClass.lpszClassName = kAuxClass;
  if (!RegisterClassExW(&auxClass)) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't register aux window class");
    return;
  }
  HWND aux = CreateWindowExW(0, kAuxClass, kAuxTitle, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr,
                             nullptr, instance, this);
  if (aux == nullptr) {
    MLOG_FAILURE(kLogWarning, kTag, GetLastError(),
                 "Unable to create auxilary window. Appbars logic will not work");
    UnregisterClassW(kAuxClass, instance);
    return;
  }
  start->aux = aux;
  SetEvent(start->ready);  // `start` is gone from here on

  RunMessageLoop(stop);
  // A stopped tool leaves no strip reserved, and the windows go while their
  // thread still exists to destroy them.
  RemoveEveryAppBar();
  if (IsWindow(aux))
    DestroyWindow(aux);
  g_auxOwner = nullptr;
  UnregisterClassW(kAuxClass, instance);
}

// Ends on the stop event, whatever waits in the queue, and also on WM_QUIT
// (the auxiliary window closed) or a failed wait.
void RelocateTaskbar::RunMessageLoop(HANDLE stop) {
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0)
      return;
    if (woken != WAIT_OBJECT_0 + 1) {
      MLOG_FAILURE(kLogError, kTag, GetLastError(), "GetMessage failed");
      return;
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT || Stopping())
        return;
      DispatchMessageW(&msg);
    }
  }
}

bool RelocateTaskbar::Stopping() const {
  return WaitForSingleObject(m_workingThread.stopEvent(), 0) == WAIT_OBJECT_0;
}

// Once the stop has come no new message goes to the shell: one made then
// could reach it after the removals at the end of the thread.
std::optional<UINT_PTR> RelocateTaskbar::CallShell(const char* what, DWORD message,
                                                   const APPBARDATA& data) {
  if (Stopping())
    return std::nullopt;
  return CallShellAppBar(what, message, data, kAppBarCallBoundMs, m_workingThread.stopEvent());
}

LRESULT CALLBACK RelocateTaskbar::AuxWndProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_CREATE) {
    g_auxOwner =
        static_cast<RelocateTaskbar*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
  } else if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  } else if (g_auxOwner != nullptr) {
    g_auxOwner->OnAuxMessage(window, message);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RelocateTaskbar::OnAuxMessage(HWND aux, UINT message) {
  switch (message) {
    case WM_USER:
      HandOver(aux);
      break;
    case WM_TIMER:
      KillTimer(aux, kStepTimer);
      if (!m_busy || ApplyNextIndent(aux))
        break;
      m_busy = false;  // the sequence is done: it reapplies, as below
      [[fallthrough]];
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
      // A sequence under way reapplies at its end. Setting a work area
      // broadcasts WM_SETTINGCHANGE, which reaches this window at once, inside
      // the reapply that set it: that one is ours and needs nothing, and
      // entering the taskbar component's holder again from inside it could
      // block behind a stop that waits for the holder.
      if (m_reapplying || (message == WM_SETTINGCHANGE && m_busy))
        break;
      m_reapplying = true;
      if (m_reapplyWorkAreas)
        m_reapplyWorkAreas(m_workingThread.stopEvent());
      m_reapplying = false;
      break;
    default:
      break;
  }
}

void RelocateTaskbar::HandOver(HWND aux) {
  {
    CriticalSectionLock hold(m_lock);
    if (!m_requestedIndents.TakeNewest(m_workingIndents))
      return;  // nothing newer than the list under way
  }
  m_removeAll = m_workingIndents.empty();
  // A running sequence goes on with the new list at its next tick.
  if (!m_busy)
    m_busy = ApplyNextIndent(aux);
}

bool RelocateTaskbar::ApplyNextIndent(HWND aux) {
  if (m_removeAll)
    return RemoveAllIndents(aux);
  MLOG(kLogInfo, kTag, "Set indents:");
  if (m_workingIndents.empty())
    return false;
  const auto resolve = [](const IndentEntry& e) -> std::optional<MONITORINFOEXW> {
    MLOG(kLogInfo, kTag, " displayX=%d; displayY=%d [%d;%d;%d;%d]", e.displayX, e.displayY, e.left,
         e.top, e.right, e.bottom);
    const POINT point = {e.displayX, e.displayY};
    HMONITOR monitor = MonitorFromPoint(point, MONITOR_DEFAULTTONEAREST);
    if (monitor == nullptr) {
      MLOG(kLogWarning, kTag, "Unable get monitor for (displayX = %d; displayY = %d)", e.displayX,
           e.displayY);
      return std::nullopt;
    }
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(monitor, &info)) {
      MLOG(kLogWarning, kTag, "Unable to get monitor info (displayX = %d; displayY = %d)",
           e.displayX, e.displayY);
      return std::nullopt;
    }
    return info;
  };
  const auto apply = [this](const MONITORINFOEXW& monitor, int32_t indent, uint32_t edge) {
    return SetAppBar(monitor, indent, edge);
  };
  if (!ApplyFirstChange(m_workingIndents, resolve, apply))
    return false;
  ArmStepTimer(aux);
  return true;
}

bool RelocateTaskbar::SetAppBar(const MONITORINFOEXW& monitor, int32_t indent, uint32_t edge) {
  const std::u16string device = AsU16(monitor.szDevice);
  const std::optional<size_t> found = FindAppBar(m_appBars, device, edge);
  HWND window = found ? reinterpret_cast<HWND>(m_appBars[*found].window) : nullptr;
  switch (DecideAppBar(indent, found.has_value())) {
    case AppBarAction::kNothing:
      return false;
    case AppBarAction::kRemove:
      RemoveAppBar(window);
      m_appBars.erase(m_appBars.begin() + static_cast<ptrdiff_t>(*found));
      return true;
    case AppBarAction::kCreate: {
      window = CreateWindowExW(0, kAppBarClass, kAppBarTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                               CW_USEDEFAULT, 0, nullptr, nullptr, ThisModule(), this);
      if (window == nullptr) {
        MLOG_FAILURE(kLogWarning, kTag, GetLastError(), "Unable to create appbar window");
        return false;
      }
      APPBARDATA data = AppBarData(window);
      data.uCallbackMessage = WM_APP;
      data.uEdge = edge;
      CallShell("ABM_NEW", ABM_NEW, data);
      data = AppBarData(window);
      data.lParam = ABS_ALWAYSONTOP;
      CallShell("ABM_SETSTATE", ABM_SETSTATE, data);
      try {
        m_appBars.push_back(AppBarRecord{reinterpret_cast<uintptr_t>(window), edge, device});
      } catch (const std::bad_alloc&) {
        RemoveAppBar(window);
        return false;
      }
      break;
    }
    case AppBarAction::kPlace:
      break;
  }
  const ScreenRect strip = AppBarRect(FromRect(monitor.rcMonitor), edge, indent);
  APPBARDATA data = AppBarData(window);
  data.uEdge = edge;
  data.rc = RECT{strip.left, strip.top, strip.right, strip.bottom};
  CallShell("ABM_SETPOS", ABM_SETPOS, data);
  return true;
}

void RelocateTaskbar::RemoveAppBar(HWND window) {
  CallShell("ABM_REMOVE", ABM_REMOVE, AppBarData(window));
  DestroyWindow(window);
}

// One removal per call, so that the shell gets its pause between removals.
bool RelocateTaskbar::RemoveAllIndents(HWND aux) {
  MLOG(kLogInfo, kTag, "Remove all indents");
  if (m_appBars.empty())
    return false;
  RemoveAppBar(reinterpret_cast<HWND>(m_appBars.front().window));
  m_appBars.erase(m_appBars.begin());
  ArmStepTimer(aux);
  return true;
}

// At the end of the thread every strip goes at once, without pauses: the
// removals run together on a thread of their own and the stop waits for a
// slow shell only so long. The windows are destroyed either way; a removal
// that reaches the shell later needs nothing of them but their handles.
void RelocateTaskbar::RemoveEveryAppBar() {
  MLOG(kLogInfo, kTag, "Remove all indents");
  if (m_appBars.empty())
    return;
  try {
    std::vector<HWND> windows;
    for (const AppBarRecord& record : m_appBars)
      windows.push_back(reinterpret_cast<HWND>(record.window));
    RunBounded(
        "Removing the appbars",
        [windows] {
          for (HWND window : windows) {
            APPBARDATA data = AppBarData(window);
            SHAppBarMessage(ABM_REMOVE, &data);
          }
        },
        kAppBarRemovalBudgetMs);
  } catch (const std::bad_alloc&) {
    // Not even a list of them: the strips stay with the shell.
  }
  for (const AppBarRecord& record : m_appBars)
    DestroyWindow(reinterpret_cast<HWND>(record.window));
  m_appBars.clear();
}

}  // namespace mantlet
