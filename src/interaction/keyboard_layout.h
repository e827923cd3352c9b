// The input-language and keyboard-layout hotkeys, reported to the host.
#pragma once

#include <cstdint>

namespace mantlet {

class CKeyboardLayout {
 public:
  CKeyboardLayout();
  ~CKeyboardLayout();
  CKeyboardLayout(const CKeyboardLayout&) = delete;
  CKeyboardLayout& operator=(const CKeyboardLayout&) = delete;

  bool Start();
  void Stop();
  bool CheckCurrentHotkey(bool resetHotkeys, bool currentUserKey);
  void OnNotify(uint32_t code);
};

}  // namespace mantlet
