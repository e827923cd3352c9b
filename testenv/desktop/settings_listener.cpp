#include "settings_listener.h"

#include "wait_until.h"

namespace testenv {
namespace {

constexpr wchar_t kClassName[] = L"MantletTestSettingsListener";
constexpr DWORD kLongestStallMs = 20000;

struct WindowStart {
  SettingsListener* owner;
};

}  // namespace

SettingsListener::SettingsListener(int stallingWindows) {
  release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  stall_ = stallingWindows > 0;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassW(&windowClass);  // fails harmlessly when an earlier listener registered it
  const int windows = stall_ ? stallingWindows : 1;
  for (int i = 0; i < windows; ++i) {
    auto* start = new WindowStart{this};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WindowThread, start, 0, &id);
    threads_.push_back(thread);
    threadIds_.push_back(id);
  }
  WaitUntil([&] { return created_ == windows; }, 10000);
}

SettingsListener::~SettingsListener() {
  Release();
  for (DWORD id : threadIds_)
    PostThreadMessageW(id, WM_QUIT, 0, 0);
  for (HANDLE thread : threads_) {
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
  }
  CloseHandle(release_);
}

void SettingsListener::Release() {
  SetEvent(release_);
}

bool SettingsListener::WaitForMetricsBroadcasts(long atLeast, DWORD timeoutMs) const {
  return WaitUntil([&] { return metrics_ >= atLeast; }, timeoutMs);
}

DWORD WINAPI SettingsListener::WindowThread(void* param) {
  auto* start = static_cast<WindowStart*>(param);
  HWND window = CreateWindowExW(0, kClassName, L"settings listener", WS_OVERLAPPED, 0, 0, 10, 10,
                                nullptr, nullptr, GetModuleHandleW(nullptr), start);
  SettingsListener* owner = start->owner;
  InterlockedIncrement(&owner->created_);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0)
    DispatchMessageW(&message);
  DestroyWindow(window);
  delete start;
  return 0;
}

LRESULT CALLBACK SettingsListener::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* start = reinterpret_cast<WindowStart*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (start != nullptr) {
    if (message == WM_SETTINGCHANGE)
      start->owner->OnSettingChange(w);
  }
  return DefWindowProcW(window, message, w, l);
}

void SettingsListener::OnSettingChange(WPARAM w) {
  if (w != SPI_SETNONCLIENTMETRICS)
    return;
  InterlockedIncrement(&metrics_);
  if (stall_)
    WaitForSingleObject(release_, kLongestStallMs);
}

}  // namespace testenv
