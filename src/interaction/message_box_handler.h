// Message boxes shown on the host's behalf, one at a time, newest first.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/component.h"
#include "core/handles.h"
#include "core/threads.h"

namespace mantlet {

struct MessageBoxRequest {
  std::u16string text;
  std::u16string caption;
  uint32_t type = 0;  // the uType of MessageBoxW: the host's, less the flags that show it elsewhere
};

class MessageBoxHandler final : public Component {
 public:
  MessageBoxHandler();
  ~MessageBoxHandler() override;

  bool Start() override;
  // Closes an open box, shows none of the stored ones and returns without
  // waiting for anyone to press a button. True when nothing of the component
  // runs any more; false when its thread could not be told to stop, and the
  // object must then stay alive.
  bool Stop() override;
  // Command worker thread: stores the request and wakes the working thread.
  void ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t type);

 private:
  void RunWorkingThread(HANDLE stop);
  std::unique_ptr<MessageBoxRequest> TakeNewest();

  // Appended at the back and taken from the back: the newest is shown first.
  std::vector<std::unique_ptr<MessageBoxRequest>> m_requests;  // guarded by m_lock
  UniqueHandle m_wakeUpEvent;  // auto-reset; one signal per request, and Stop's
  std::atomic<bool> m_keepRunning = false;
  CRITICAL_SECTION m_lock;
  OwnedThread m_workingThread;  // after all it uses, so that it goes first
};

}  // namespace mantlet
