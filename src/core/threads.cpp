#include "core/threads.h"

#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "core/log.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "MANTLETDLL";

// A bounded call's work, owned by the thread that runs it.
struct BoundedWork {
  const char* what;
  std::function<void()> work;
  HMODULE pin;
};

DWORD WINAPI BoundedWorkMain(void* param) {
  BoundedWork* bounded = static_cast<BoundedWork*>(param);
  RunGuarded(bounded->what, bounded->work);
  const HMODULE pin = bounded->pin;
  delete bounded;
  if (pin != nullptr)
    FreeLibraryAndExitThread(pin, 0);
  return 0;
}

}  // namespace

DWORD WaitAnsweringSentMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD remaining = timeoutMs;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    }
    const DWORD woken = MsgWaitForMultipleObjects(count, handles, FALSE, remaining, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + count)
      return woken;
    // Peeking is what delivers the sent messages; nothing posted is taken.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

bool RunBounded(const char* what, std::function<void()> work, DWORD boundMs, HANDLE abandon) {
  auto bounded = std::unique_ptr<BoundedWork>(new (std::nothrow) BoundedWork{what, {}, nullptr});
  if (!bounded)
    return false;
  bounded->work = std::move(work);
  // The work may outlive this call and the tool: it holds the module loaded
  // until it returns.
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCWSTR>(&BoundedWorkMain), &bounded->pin);
  const HMODULE pin = bounded->pin;
  UniqueHandle thread(CreateThread(nullptr, 0, &BoundedWorkMain, bounded.get(), 0, nullptr));
  if (!thread) {
    if (pin != nullptr)
      FreeLibrary(pin);
    return false;
  }
  bounded.release();  // the thread owns it now
  const HANDLE waits[] = {thread.get(), abandon};
  if (WaitAnsweringSentMessages(abandon != nullptr ? 2 : 1, waits, boundMs) == WAIT_OBJECT_0)
    return true;
  MLOG(kLogWarning, kTag, "%s did not finish within %u ms; it is left to finish alone", what,
       static_cast<unsigned>(boundMs));
  return false;
}

void LogEscapedException(const char* where) noexcept {
  const char* what = "unknown exception";
  try {
    throw;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  LogWrite(kTag, kModuleName, kLogError, "%s: unexpected exception (%s)", where, what);
}

struct OwnedThread::Launch {
  const char* name;
  Body body;
  HANDLE stopEvent;
};

OwnedThread::~OwnedThread() {
  Stop();
}

bool OwnedThread::Prepare() {
  if (!m_stopEvent)
    m_stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return m_stopEvent.valid();
}

bool OwnedThread::Start(const char* name, Body body) {
  if (running())
    return true;
  if (!Prepare())
    return false;
  std::unique_ptr<Launch> launch(new (std::nothrow)
                                     Launch{name, std::move(body), m_stopEvent.get()});
  if (!launch) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &Main, launch.get(), 0, &id);
  if (thread == nullptr)
    return false;
  launch.release();  // the thread owns it now
  m_thread.reset(thread);
  m_id = id;
  return true;
}

bool OwnedThread::Stop() {
  if (!m_thread)
    return true;
  if (!SetEvent(m_stopEvent.get())) {
    MLOG_FAILURE(kLogError, kTag, GetLastError(), "Can't signal a thread to stop");
    // The thread still waits on the event and may read it through
    // stopEvent(): both handles stay as they are, and the caller keeps alive
    // whatever the thread uses. A later Stop tries again.
    return false;
  }
  WaitAnsweringSentMessages(m_thread.get(), INFINITE);
  m_thread.reset();
  m_stopEvent.reset();
  m_id = 0;
  return true;
}

DWORD WINAPI OwnedThread::Main(void* param) {
  std::unique_ptr<Launch> launch(static_cast<Launch*>(param));
  RunGuarded(launch->name, [&] { launch->body(launch->stopEvent); });
  return 0;
}

}  // namespace mantlet
