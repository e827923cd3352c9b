// Threads of the module: how they are started, told to stop and joined, and
// how a thread waits without holding up the windows it owns.
#pragma once

#include <windows.h>

#include <functional>

#include "core/handles.h"

namespace mantlet {

// Waits for any of `handles` like WaitForMultipleObjects (WAIT_OBJECT_0 + i,
// WAIT_TIMEOUT or WAIT_FAILED), answering the messages sent to this thread's
// windows meanwhile. A settings broadcast from one of our threads goes to
// every top-level window, the waiting thread's among them, and would
// otherwise hold that thread (and so the wait) up until the broadcast gives
// up on us. Posted messages stay queued for the thread's own loop.
DWORD WaitAnsweringSentMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs);

inline DWORD WaitAnsweringSentMessages(HANDLE handle, DWORD timeoutMs) {
  return WaitAnsweringSentMessages(1, &handle, timeoutMs);
}

// A thread of the module, told to stop through an event of its own and
// joined, never terminated. The body runs with that event; no exception
// leaves it. Start and Stop are called by the thread that owns the object.
class OwnedThread {
 public:
  using Body = std::function<void(HANDLE stopEvent)>;

  OwnedThread() = default;
  ~OwnedThread();
  OwnedThread(const OwnedThread&) = delete;
  OwnedThread& operator=(const OwnedThread&) = delete;

  // Makes the stop event ahead of Start, for a component that creates it
  // at a step of its own; Start makes it when this was not called. False,
  // with the thread's last error set, when it could not be made.
  bool Prepare();

  // False, with the thread's last error set, when the stop event or the
  // thread could not be made; nothing runs then.
  bool Start(const char* name, Body body);

  // Signals the stop event and waits for the thread to end, answering sent
  // messages meanwhile. False only when the thread could not be told to stop:
  // it then runs on, and whatever it uses must be left alive (the caller
  // logs and keeps it). True when no thread runs (any more).
  bool Stop();

  bool running() const { return m_thread.valid(); }
  // To wait for the thread's end along with something else; Stop joins.
  HANDLE handle() const { return m_thread.get(); }
  HANDLE stopEvent() const { return m_stopEvent.get(); }
  DWORD id() const { return m_id; }

 private:
  struct Launch;
  static DWORD WINAPI Main(void* launch);

  UniqueHandle m_stopEvent;
  UniqueHandle m_thread;
  DWORD m_id = 0;
};

// Runs `work` on a thread of its own and waits for it at most `boundMs`, or
// until `abandon` (when given) is signalled, answering sent messages
// meanwhile. It is for calls into another process that Windows makes without
// a time-out of its own (the shell's appbar messages): such a call must not
// hold a thread of ours for as long as the other process likes. True when the
// work finished in time. Otherwise it runs on by itself: it must own (or
// share) everything it touches, the caller's stack excluded, and the module
// stays loaded until it ends.
bool RunBounded(const char* what, std::function<void()> work, DWORD boundMs,
                HANDLE abandon = nullptr);

// Logs an exception that reached the outermost frame of a thread or an entry
// point; call it from a catch block.
void LogEscapedException(const char* where) noexcept;

// Runs `body` and keeps any exception inside: a thread of ours never ends the
// host. True when the body returned normally.
template <typename Fn>
bool RunGuarded(const char* where, Fn&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    LogEscapedException(where);
    return false;
  }
}

}  // namespace mantlet
