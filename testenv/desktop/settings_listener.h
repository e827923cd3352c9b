// Top-level windows in the test process that see the broadcast a program
// sends when it changes the non-client metrics. Optionally they stall on it
// until released, as a hung program would: the
// sender of that broadcast (the module's border thread) is held up for as
// long as it waits for them, up to the system's time-out per window.
#pragma once

#include <windows.h>

#include <vector>

namespace testenv {

class SettingsListener {
 public:
  // One window that never stalls, or `stallingWindows` windows (one thread
  // each) that all stall until Release().
  explicit SettingsListener(int stallingWindows = 0);
  ~SettingsListener();
  SettingsListener(const SettingsListener&) = delete;
  SettingsListener& operator=(const SettingsListener&) = delete;

  void Release();

  // Deliveries to any of the windows.
  long MetricsBroadcasts() const { return metrics_; }
  bool WaitForMetricsBroadcasts(long atLeast, DWORD timeoutMs) const;

 private:
  static DWORD WINAPI WindowThread(void* param);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  void OnSettingChange(WPARAM w);

  HANDLE release_ = nullptr;
  bool stall_ = false;
  std::vector<HANDLE> threads_;
  std::vector<DWORD> threadIds_;
  volatile long metrics_ = 0;
  volatile long created_ = 0;
};

}  // namespace testenv
