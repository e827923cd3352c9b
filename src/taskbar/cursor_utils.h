// Makes the guest re-evaluate its mouse cursor on the host's request.
#pragma once

namespace mantlet {

class CCursorUtils {
 public:
  CCursorUtils();
  ~CCursorUtils();
  CCursorUtils(const CCursorUtils&) = delete;
  CCursorUtils& operator=(const CCursorUtils&) = delete;

  bool Start();
  void Stop();
  bool UpdateCursor();  // command worker thread
};

}  // namespace mantlet
