// One process-wide holder per component. The threads that start and stop the
// tool and the command worker use the holders directly; threads that belong
// to other components (the taskbar watcher, the appbar thread) reach a
// component only through With(), which keeps the object alive for the call
// while Take() waits for such calls to end before the stop routine destroys it.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "core/threads.h"

namespace mantlet {

template <typename T>
class ComponentSlot {
 public:
  ComponentSlot() { InitializeSRWLock(&m_lock); }
  ComponentSlot(const ComponentSlot&) = delete;
  ComponentSlot& operator=(const ComponentSlot&) = delete;

  // For the threads that start and stop the tool and the command worker,
  // which the stop routine joins before it empties a holder.
  T* get() const { return m_object.load(); }
  explicit operator bool() const { return get() != nullptr; }
  T* operator->() const { return get(); }

  void Set(std::unique_ptr<T> object) {
    AcquireSRWLockExclusive(&m_lock);
    T* old = m_object.exchange(object.release());
    ReleaseSRWLockExclusive(&m_lock);
    delete old;
  }

  // Empties the holder once no With() call is inside the object. While it
  // waits it answers messages sent to this thread's windows: the call it
  // waits for may itself be waiting on such a message (a settings broadcast
  // sent to every window, the host's among them).
  std::unique_ptr<T> Take() {
    while (!TryAcquireSRWLockExclusive(&m_lock))
      WaitAnsweringSentMessages(0, nullptr, 5);
    T* old = m_object.exchange(nullptr);
    ReleaseSRWLockExclusive(&m_lock);
    return std::unique_ptr<T>(old);
  }

  // Calls fn(T&) if the component exists; returns whether it did.
  template <typename Fn>
  bool With(Fn&& fn) {
    AcquireSRWLockShared(&m_lock);
    T* object = m_object.load();
    if (object != nullptr)
      fn(*object);
    ReleaseSRWLockShared(&m_lock);
    return object != nullptr;
  }

 private:
  mutable SRWLOCK m_lock;
  std::atomic<T*> m_object{nullptr};
};

}  // namespace mantlet
