// The decisions behind the appbar strips: what one indent asks of one edge,
// the strip's rectangle, the pause between changes, the walk through the
// host's list, and the hand-over of the newest list to the working thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "taskbar/indent_entry.h"
#include "taskbar/work_area.h"

namespace mantlet {

inline constexpr int32_t kIndentNoChange = -1;
inline constexpr int32_t kIndentRemove = 0;

// Edge numbers as the shell numbers them; the indent fields lie in this order.
enum AppBarEdge : uint32_t {
  kAppBarLeft = 0,
  kAppBarTop = 1,
  kAppBarRight = 2,
  kAppBarBottom = 3,
};
inline constexpr uint32_t kAppBarEdgeCount = 4;

// The indent of one edge of an entry (edge 0..3).
int32_t& IndentOf(IndentEntry& entry, uint32_t edge);

// The strip that an appbar of `indent` pixels reserves on one edge of a
// monitor: the monitor rectangle with the opposite side pulled in.
ScreenRect AppBarRect(const ScreenRect& monitor, uint32_t edge, int32_t indent);

// The pause between two appbar changes for the number of visible maximised
// top-level windows: 70 ms each, at least 500 and at most 2000.
uint32_t StepDelayMs(size_t visibleMaximisedWindows);

enum class AppBarAction {
  kNothing,  // -1, or 0 on an edge that has no appbar
  kRemove,   // 0 on an edge that has one
  kCreate,   // a strip on an edge without one: create, register, place
  kPlace,    // a strip on an edge that has one: place it again
};
AppBarAction DecideAppBar(int32_t indent, bool hasAppBar);

// One registered appbar. The window is kept as an opaque value here.
struct AppBarRecord {
  uintptr_t window = 0;
  uint32_t edge = 0;
  std::u16string device;  // the monitor's device name
};

// The record for (device, edge): exact, case-sensitive device name.
std::optional<size_t> FindAppBar(const std::vector<AppBarRecord>& records,
                                 const std::u16string& device, uint32_t edge);

// One step of a sequence: walks the working list from its first entry and
// returns at the first edge whose change was made. Each edge is set to -1
// before its change is tried, so a later step goes on with the next edge,
// and an edge that needs nothing costs no pause. An entry whose monitor
// cannot be resolved is skipped as it is.
//   resolve(const IndentEntry&) -> std::optional<Monitor>
//   apply(const Monitor&, int32_t indent, uint32_t edge) -> bool (changed)
template <typename Resolve, typename Apply>
bool ApplyFirstChange(std::vector<IndentEntry>& working, Resolve&& resolve, Apply&& apply) {
  for (IndentEntry& stored : working) {
    IndentEntry entry = stored;
    const auto monitor = resolve(entry);
    if (!monitor)
      continue;
    for (uint32_t edge = 0; edge < kAppBarEdgeCount; ++edge) {
      IndentOf(stored, edge) = kIndentNoChange;
      if (apply(*monitor, IndentOf(entry, edge), edge))
        return true;
    }
  }
  return false;
}

// The host's latest list and its hand-over to the working thread. The
// caller holds its lock around every call. A hand-over moves the newest
// list into the working list; a hand-over that finds no list newer than the
// last one it took leaves the working list (and how far it was consumed)
// alone. Two lists that arrive before one hand-over therefore never bring
// the older back: the newest always ends in the working list.
//
// The working thread is woken for a hand-over only when no wake-up is on its
// way already: it takes whatever is newest when it comes, so any number of
// lists costs one message in its queue, never a queue full of them.
class IndentHandOver {
 public:
  // Throws std::bad_alloc (and keeps the previous list). True when the
  // caller is to wake the working thread.
  bool Store(const IndentEntry* entries, size_t count);
  // The wake-up asked for by Store could not be sent: the next Store asks
  // again.
  void WakeUpFailed();
  // On the wake-up; true when there was a newer list.
  bool TakeNewest(std::vector<IndentEntry>& working);

 private:
  std::vector<IndentEntry> m_requested;
  bool m_fresh = false;
  bool m_wakeUpSent = false;
};

}  // namespace mantlet
