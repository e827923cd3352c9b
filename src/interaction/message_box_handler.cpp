#include "interaction/message_box_handler.h"

#include <new>

#include "core/log.h"
#include "core/utf.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "MSGBOXHANDLER";

// Either flag makes a box that is no window of the showing thread (on
// Windows another process shows it), which Stop could neither find nor end,
// so the stop would wait for a person. The module already runs in the
// interactive user's session on its default desktop, where those boxes
// would appear anyway, so both are taken out; every other bit is the host's.
constexpr uint32_t kShownElsewhere = MB_SERVICE_NOTIFICATION | MB_DEFAULT_DESKTOP_ONLY;

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
  DeleteCriticalSection(&m_lock);
  MLOG(kLogInfo, kTag, "MessageBoxHandler has been destructed");
}

bool MessageBoxHandler::Start() {
  MLOG(kLogInfo, kTag, "MessageBoxHandler::Start");
  m_wakeUpEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!m_wakeUpEvent) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create wake up event");
    return false;
  }
  m_keepRunning = true;
  if (!m_workingThread.Start("message box thread",
                             [this](HANDLE stop) { RunWorkingThread(stop); })) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't create working thread");
    m_keepRunning = false;
    m_wakeUpEvent.reset();
    return false;
  }
  return true;
}

bool MessageBoxHandler::Stop() {
  if (m_workingThread.running()) {
    m_keepRunning = false;
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
    const std::string text8 = Utf16ToUtf8(text), caption8 = Utf16ToUtf8(caption);
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
  while (m_keepRunning) {
    const HANDLE waits[] = {m_wakeUpEvent.get(), stop};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 || !m_keepRunning)
      return;
    while (std::unique_ptr<MessageBoxRequest> request = TakeNewest()) {
      MessageBoxW(nullptr, AsWide(request->text.c_str()), AsWide(request->caption.c_str()),
                  request->type);
      request.reset();
      if (!m_keepRunning)
        return;
    }
  }
}

}  // namespace mantlet
