// Message boxes shown on the host's behalf, one at a time, newest first.
#pragma once

#include <cstdint>
#include <string>

namespace mantlet {

class MessageBoxHandler {
 public:
  MessageBoxHandler();
  ~MessageBoxHandler();
  MessageBoxHandler(const MessageBoxHandler&) = delete;
  MessageBoxHandler& operator=(const MessageBoxHandler&) = delete;

  bool Start();
  void Stop();
  void ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t type);
};

}  // namespace mantlet
