// A shell that takes the appbar messages and answers none of them until it
// is released, while its thread answers every other sent message at once;
// and a call made with a deadline, for code that may wait on it for good.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>
#include <thread>

namespace testsupport {

class UnansweringAppBarService {
 public:
  // Its window is the newest top-level "WineAppBar", so SHAppBarMessage
  // finds it before the shell stand-in's and Wine's own.
  UnansweringAppBarService() {
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] { Run(ready); });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
  ~UnansweringAppBarService() {
    Release();
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
    CloseHandle(release_);
  }
  UnansweringAppBarService(const UnansweringAppBarService&) = delete;
  UnansweringAppBarService& operator=(const UnansweringAppBarService&) = delete;

  // Every held message and every later one is answered with 0.
  void Release() { SetEvent(release_); }
  int received() const { return received_.load(); }

 private:
  void Run(HANDLE ready) {
    threadId_ = GetCurrentThreadId();
    WNDCLASSEXW c = {};
    c.cbSize = sizeof(c);
    c.lpfnWndProc = &Proc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"WineAppBar";
    RegisterClassExW(&c);  // already there from an earlier instance is as good
    HWND window = CreateWindowExW(0, L"WineAppBar", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  c.hInstance, this);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts
    SetEvent(ready);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
      DispatchMessageW(&msg);
    DestroyWindow(window);
  }

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrW(
          window, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    } else if (message == WM_COPYDATA) {
      auto* self =
          reinterpret_cast<UnansweringAppBarService*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      ++self->received_;
      // Held here, still answering whatever else is sent meanwhile (another
      // appbar message nests and is held as well).
      while (MsgWaitForMultipleObjects(1, &self->release_, FALSE, INFINITE, QS_SENDMESSAGE) !=
             WAIT_OBJECT_0) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      }
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  HANDLE release_ = nullptr;
  std::thread thread_;
  DWORD threadId_ = 0;
  std::atomic<int> received_{0};
};

// Runs `call` on a thread of its own: how long it took, or nothing when it
// had not returned within `deadlineMs`. `unblock` then lets it finish, and
// it is joined all the same.
template <typename Call, typename Unblock>
std::optional<ULONGLONG> TimedCall(Call&& call, DWORD deadlineMs, Unblock&& unblock) {
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const ULONGLONG began = GetTickCount64();
  std::thread caller([&] {
    call();
    SetEvent(done);
  });
  const bool inTime = WaitForSingleObject(done, deadlineMs) == WAIT_OBJECT_0;
  const ULONGLONG took = GetTickCount64() - began;
  if (!inTime)
    unblock();
  caller.join();
  CloseHandle(done);
  return inTime ? std::optional<ULONGLONG>(took) : std::nullopt;
}

}  // namespace testsupport
