// The decisions of the taskbar watcher and of the taskbar list, free of
// Win32: what a pass enforces, reports and hands on, which taskbars are
// handled, and which window the show-desktop probe looks at.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "taskbar/work_area.h"

namespace mantlet {

// What the host last asked of the taskbar. None until the first request;
// afterwards only Shown or Hidden.
enum TaskbarRequest : int32_t {
  kTaskbarRequestNone = 0,
  kTaskbarRequestShown = 1,
  kTaskbarRequestHidden = 2,
};

// Window lists of the taskbar code are fixed arrays: no allocation in a pass.
inline constexpr size_t kMaxTaskbars = 64;

template <typename T, size_t N>
class FixedList {
 public:
  // False (and nothing stored) when the list is full.
  bool Append(const T& item) {
    if (m_size == N)
      return false;
    m_items[m_size++] = item;
    return true;
  }
  bool full() const { return m_size == N; }
  bool empty() const { return m_size == 0; }
  size_t size() const { return m_size; }
  const T& operator[](size_t i) const { return m_items[i]; }
  const T* begin() const { return m_items.data(); }
  const T* end() const { return m_items.data() + m_size; }

 private:
  std::array<T, N> m_items{};
  size_t m_size = 0;
};

// Secondary taskbars exist from Windows 6.2 on, and only matter with more
// than one monitor.
bool WantsSecondaryTaskbars(uint16_t windowsVersion, int monitorCount);

// The show-desktop probe looks at the first top-level window, from the top
// of the z-order, that is visible, enabled, not topmost and not empty.
bool IsDesktopProbeCandidate(uint32_t style, uint32_t exStyle, bool rectKnown,
                             const ScreenRect& rect);

struct ProbedState {
  bool taskbarVisible = false;
  bool startButtonVisible = false;
  bool desktopShown = false;
};

// What the watcher remembers between passes; its thread alone touches it.
struct WatcherMemory {
  bool reported = false;
  bool lastDesktopShown = false;
  bool lastTaskbarVisible = false;
};

struct PassActions {
  bool enforce = false;         // apply the request again
  bool desktopChanged = false;  // hand the desktop state to the integration mode
  bool report = false;          // send the state to the host
};

// One successful pass: decides from the probed state and the request, and
// records what was probed (before any enforcement) when it reports.
PassActions DecidePass(const ProbedState& probed, TaskbarRequest requested, WatcherMemory& memory);

}  // namespace mantlet
