#include "taskbar/taskbar_watch.h"

namespace mantlet {
namespace {

constexpr uint16_t kWindows8Version = 0x0602;
constexpr uint32_t kStyleVisible = 0x10000000;    // WS_VISIBLE
constexpr uint32_t kStyleDisabled = 0x08000000;   // WS_DISABLED
constexpr uint32_t kExStyleTopmost = 0x00000008;  // WS_EX_TOPMOST

}  // namespace

bool WantsSecondaryTaskbars(uint16_t windowsVersion, int monitorCount) {
  return windowsVersion >= kWindows8Version && monitorCount > 1;
}

bool IsDesktopProbeCandidate(uint32_t style, uint32_t exStyle, bool rectKnown,
                             const ScreenRect& rect) {
  return (style & kStyleVisible) != 0 && (style & kStyleDisabled) == 0 &&
         (exStyle & kExStyleTopmost) == 0 && rectKnown && rect.left != rect.right &&
         rect.top != rect.bottom;
}

PassActions DecidePass(const ProbedState& probed, TaskbarRequest requested, WatcherMemory& memory) {
  PassActions actions;
  if (requested != kTaskbarRequestNone) {
    const bool wantVisible = requested == kTaskbarRequestShown;
    actions.enforce =
        probed.taskbarVisible != wantVisible || probed.startButtonVisible != probed.taskbarVisible;
  }
  actions.desktopChanged = probed.desktopShown != memory.lastDesktopShown;
  if (!memory.reported || probed.desktopShown != memory.lastDesktopShown ||
      probed.taskbarVisible != memory.lastTaskbarVisible) {
    memory.reported = true;
    memory.lastDesktopShown = probed.desktopShown;
    memory.lastTaskbarVisible = probed.taskbarVisible;
    actions.report = true;
  }
  return actions;
}

}  // namespace mantlet
