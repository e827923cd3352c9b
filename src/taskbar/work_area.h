// Which edge of a monitor's work area follows a taskbar, and where it goes.
// Plain values in, plain values out: the Win32 side reads the rectangles and
// applies the answer.
#pragma once

#include <cstdint>

namespace mantlet {

struct ScreenRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

enum class DockEdge { kNone, kLeft, kTop, kRight, kBottom };

struct WorkAreaDecision {
  DockEdge edge = DockEdge::kNone;
  // True when the work area must be set to `work`; false leaves it alone
  // (no dock edge, the edge lies farther in already, or it is right already).
  bool change = false;
  ScreenRect work;  // the work area with the chosen edge moved
};

// taskbar: the taskbar window's rectangle; monitor and work: its monitor's
// rectangle and current work area. reserve: keep the taskbar's strip out of
// the work area (shown and not auto-hiding) rather than give it back.
//
// The dock edge is the first that holds of: the taskbar's top below the
// monitor's top (bottom), its right left of the monitor's right (left), its
// left right of the monitor's left (right), its bottom above the monitor's
// bottom (top). A taskbar that spans its whole monitor docks nowhere.
WorkAreaDecision DecideWorkArea(const ScreenRect& taskbar, const ScreenRect& monitor,
                                const ScreenRect& work, bool reserve);

}  // namespace mantlet
