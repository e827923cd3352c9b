#include "taskbar/work_area.h"

namespace mantlet {

WorkAreaDecision DecideWorkArea(const ScreenRect& t, const ScreenRect& m, const ScreenRect& w,
                                bool reserve) {
  WorkAreaDecision d;
  d.work = w;
  int32_t* edge = nullptr;
  int32_t value = 0;
  if (t.top > m.top) {
    d.edge = DockEdge::kBottom;
    // A work area that ends above the taskbar already was made so by
    // something else (another bar below it): not ours to move.
    if (w.bottom < t.top)
      return d;
    edge = &d.work.bottom;
    value = reserve && t.top < m.bottom ? t.top : m.bottom;
  } else if (t.right < m.right) {
    d.edge = DockEdge::kLeft;
    if (w.left > t.right)
      return d;
    edge = &d.work.left;
    value = reserve && t.right > m.left ? t.right : m.left;
  } else if (t.left > m.left) {
    d.edge = DockEdge::kRight;
    if (w.right < t.left)
      return d;
    edge = &d.work.right;
    value = reserve && t.left < m.right ? t.left : m.right;
  } else if (t.bottom < m.bottom) {
    d.edge = DockEdge::kTop;
    if (w.top > t.bottom)
      return d;
    edge = &d.work.top;
    value = reserve && t.bottom > m.top ? t.bottom : m.top;
  } else {
    return d;
  }
  if (*edge == value)
    return d;
  *edge = value;
  d.change = true;
  return d;
}

}  // namespace mantlet
