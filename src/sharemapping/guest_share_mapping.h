// Host shared folders and host volumes mapped to drive letters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mantlet {

class GuestShareMapping {
 public:
  GuestShareMapping();
  ~GuestShareMapping();
  GuestShareMapping(const GuestShareMapping&) = delete;
  GuestShareMapping& operator=(const GuestShareMapping&) = delete;

  void ChangeShareMapping(bool bEnabled);
  void ToggleMountedVolumes(const std::vector<std::u16string>& names);
  void NotifyTool(uint32_t code);
};

}  // namespace mantlet
