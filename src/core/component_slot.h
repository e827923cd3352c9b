// One process-wide holder per component. The threads that start and stop the
// tool and the command worker use the holders directly; threads that belong
// to other components (the taskbar watcher, the appbar thread) reach a
// component only through With(), which keeps the object alive for the call
// while Take() waits for such calls to end before the stop routine destroys it.
#pragma once

#include <windows.h>

#include <memory>

namespace mantlet {

template <typename T>
class ComponentSlot {
 public:
  ComponentSlot() { InitializeSRWLock(&lock_); }
  ComponentSlot(const ComponentSlot&) = delete;
  ComponentSlot& operator=(const ComponentSlot&) = delete;

  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  T* operator->() const { return object_; }

  void Set(std::unique_ptr<T> object) {
    AcquireSRWLockExclusive(&lock_);
    T* old = object_;
    object_ = object.release();
    ReleaseSRWLockExclusive(&lock_);
    delete old;
  }

  // Empties the holder once no With() call is inside the object. While it
  // waits it answers messages sent to this thread's windows: the call it
  // waits for may itself be waiting on such a message (a settings broadcast
  // sent to every window, the host's among them).
  std::unique_ptr<T> Take() {
    while (!TryAcquireSRWLockExclusive(&lock_)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    T* old = object_;
    object_ = nullptr;
    ReleaseSRWLockExclusive(&lock_);
    return std::unique_ptr<T>(old);
  }

  // Calls fn(T&) if the component exists; returns whether it did.
  template <typename Fn>
  bool With(Fn&& fn) {
    AcquireSRWLockShared(&lock_);
    T* object = object_;
    if (object != nullptr)
      fn(*object);
    ReleaseSRWLockShared(&lock_);
    return object != nullptr;
  }

 private:
  mutable SRWLOCK lock_;
  T* volatile object_ = nullptr;
};

}  // namespace mantlet
