// Strips reserved along monitor edges with invisible application bars.
#pragma once

#include <cstddef>
#include <cstdint>

#include "taskbar/indent_entry.h"

namespace mantlet {

class RelocateTaskbar {
 public:
  RelocateTaskbar();
  ~RelocateTaskbar();
  RelocateTaskbar(const RelocateTaskbar&) = delete;
  RelocateTaskbar& operator=(const RelocateTaskbar&) = delete;

  bool Start();
  void Stop();
  void SetIndents(const IndentEntry* entries, size_t count);
  void NotifyTool(uint32_t code);
};

}  // namespace mantlet
