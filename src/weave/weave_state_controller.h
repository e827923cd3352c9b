// What changes in the guest while its windows are shown on the host's
// desktop, and how the user's own values come back.
#pragma once

#include <cstdint>

namespace mantlet {

class WeaveStateController {
 public:
  WeaveStateController();
  ~WeaveStateController();
  WeaveStateController(const WeaveStateController&) = delete;
  WeaveStateController& operator=(const WeaveStateController&) = delete;

  bool Start();
  void Stop();
  void OnWeaveStateChanged(bool bWeaveMode);
  void OnDesktopStateChanged(bool bDesktopShown);
  void SetVmColor(uint32_t color);
};

}  // namespace mantlet
