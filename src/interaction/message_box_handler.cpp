#include "interaction/message_box_handler.h"

#include <new>

#include "core/log.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "MSGBOXHANDLER";

// Either flag makes a box that is no window of the showing thread (on
// Windows another process shows it), which Stop could neither find nor end,
// so the stop would wait for a person. The module already runs in the
// interactive user's session on its default desktop, where those boxes
// would appear anyway, so both are taken out; every other bit is the host's.
constexpr uint32_t kShownElsewhere = MB_SERVICE_NOTIFICATION | MB_DEFAULT_DESKTOP_ONLY;

std::string ToUtf8(const std::u16string& text) {
  if (text.empty())
    return {};
  const wchar_t* wide = AsWide(text.c_str());
  const int length = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? bytes : 0, '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

BOOL CALLBACK PostCloseToWindow(HWND window, LPARAM) {
  PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

MessageBoxHandler::MessageBoxHandler() {
  InitializeCriticalSection(&m_lock);
  MLOG(kLogInfo, kTag, "MessageBoxHandler has been constructed");
}

MessageBoxHandler::~MessageBoxHandler() {
  // The stop routine has stopped the thread already; this is for an object
  // destroyed without a stop, whose thread uses the lock deleted below.
  if (m_workingThread.running())
    Stop();
  while (!m_requests.empty())
    m_requests.pop_back();
  DeleteCriticalSection(&m_lock);
  MLOG(kLogInfo, kTag, "MessageBoxHandler has been destructed");
}

bool MessageBoxHandler::Start() {
  MLOG(kLogInfo, kTag, "MessageBoxHandler::Start");
  m_wakeUpEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!m_wakeUpEvent) {
    LogWrite(kTag, kModuleName, kLogError, "Can't create wake up event. err=%d",
             static_cast<int>(GetLastError()));
    return false;
  }
  InterlockedExchange(&m_keepRunning, 1);
  if (!m_workingThread.Start("message box thread",
                             [this](HANDLE stop) { RunWorkingThread(stop); })) {
    LogWrite(kTag, kModuleName, kLogError, "Can't create working thread. err=%d",
             static_cast<int>(GetLastError()));
    InterlockedExchange(&m_keepRunning, 0);
    m_wakeUpEvent.reset();
    return false;
  }
  return true;
}

bool MessageBoxHandler::Stop() {
  if (m_workingThread.running()) {
    InterlockedExchange(&m_keepRunning, 0);
    SetEvent(m_wakeUpEvent.get());
    EnumThreadWindows(m_workingThread.id(), &PostCloseToWindow, 0);
    // The thread may have taken a request out just before keep running was
    // cleared and open its box only after the enumeration above, or show a
    // box without a cancel button, which ignores WM_CLOSE on Windows. A
    // WM_QUIT waits in the thread's queue and ends the modal loop of any box,
    // open now or opened later, so the join below never depends on a person.
    PostThreadMessageW(m_workingThread.id(), WM_QUIT, 0, 0);
    if (!m_workingThread.Stop())
      return false;  // it still waits on the wake-up event
  }
  m_wakeUpEvent.reset();
  MLOG(kLogInfo, kTag, "MessageBoxHandler::Stop");
  return true;
}

void MessageBoxHandler::ShowMessageBox(const std::u16string& text, const std::u16string& caption,
                                       uint32_t type) {
  if (g_logLevel >= kLogInfo) {
    LastErrorKeeper keep;
    const std::string text8 = ToUtf8(text), caption8 = ToUtf8(caption);
    LogWrite(kTag, kModuleName, kLogInfo, "Show message box text='%s' caption='%s' type=%d",
             text8.c_str(), caption8.c_str(), static_cast<int>(type));
  }
  if ((type & kShownElsewhere) != 0) {
    MLOG(kLogInfo, kTag, "Message box type=0x%x shown without flags 0x%x", type,
         type & kShownElsewhere);
    type &= ~kShownElsewhere;
  }
  // The command worker must not die on a request it cannot copy: such a
  // request is dropped.
  try {
    auto request = std::make_unique<MessageBoxRequest>(MessageBoxRequest{text, caption, type});
    CriticalSectionLock hold(m_lock);
    m_requests.push_back(std::move(request));
  } catch (const std::bad_alloc&) {
    return;
  }
  SetEvent(m_wakeUpEvent.get());
}

bool MessageBoxHandler::KeepRunning() {
  return InterlockedCompareExchange(&m_keepRunning, 0, 0) != 0;
}

std::unique_ptr<MessageBoxRequest> MessageBoxHandler::TakeNewest() {
  CriticalSectionLock hold(m_lock);
  if (m_requests.empty())
    return nullptr;
  std::unique_ptr<MessageBoxRequest> newest = std::move(m_requests.back());
  m_requests.pop_back();
  return newest;
}

void MessageBoxHandler::RunWorkingThread(HANDLE stop) {
  // The queue exists before keep running is first read: a WM_QUIT that Stop
  // posts after clearing the flag either lands here or finds no queue, and
  // then this thread is still to read the flag and sees it cleared.
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  if (!KeepRunning())
    return;
  while (KeepRunning()) {
    const HANDLE waits[] = {m_wakeUpEvent.get(), stop};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 || !KeepRunning())
      return;
    while (std::unique_ptr<MessageBoxRequest> request = TakeNewest()) {
      MessageBoxW(nullptr, AsWide(request->text.c_str()), AsWide(request->caption.c_str()),
                  request->type);
      request.reset();
      if (!KeepRunning())
        return;
    }
  }
}

}  // namespace mantlet
