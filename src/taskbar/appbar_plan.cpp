#include "taskbar/appbar_plan.h"

#include <algorithm>
#include <utility>

namespace mantlet {

int32_t& IndentOf(IndentEntry& entry, uint32_t edge) {
  switch (edge) {
    case kAppBarLeft:
      return entry.left;
    case kAppBarTop:
      return entry.top;
    case kAppBarRight:
      return entry.right;
    default:
      return entry.bottom;
  }
}

ScreenRect AppBarRect(const ScreenRect& monitor, uint32_t edge, int32_t indent) {
  ScreenRect r = monitor;
  // Indents come straight from the host: wrap around rather than overflow.
  const auto add = [](int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
  };
  const auto sub = [](int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
  };
  switch (edge) {
    case kAppBarLeft:
      r.right = add(r.left, indent);
      break;
    case kAppBarTop:
      r.bottom = add(r.top, indent);
      break;
    case kAppBarRight:
      r.left = sub(r.right, indent);
      break;
    default:
      r.top = sub(r.bottom, indent);
      break;
  }
  return r;
}

uint32_t StepDelayMs(size_t visibleMaximisedWindows) {
  constexpr uint32_t kPerWindowMs = 70, kMinMs = 500, kMaxMs = 2000;
  const size_t capped = std::min<size_t>(visibleMaximisedWindows, kMaxMs / kPerWindowMs + 1);
  return std::clamp(static_cast<uint32_t>(capped) * kPerWindowMs, kMinMs, kMaxMs);
}

AppBarAction DecideAppBar(int32_t indent, bool hasAppBar) {
  if (indent == kIndentNoChange)
    return AppBarAction::kNothing;
  if (indent == kIndentRemove)
    return hasAppBar ? AppBarAction::kRemove : AppBarAction::kNothing;
  return hasAppBar ? AppBarAction::kPlace : AppBarAction::kCreate;
}

std::optional<size_t> FindAppBar(const std::vector<AppBarRecord>& records,
                                 const std::u16string& device, uint32_t edge) {
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].edge == edge && records[i].device == device)
      return i;
  }
  return std::nullopt;
}

bool IndentHandOver::Store(const IndentEntry* entries, size_t count) {
  m_requested.assign(entries, entries + count);
  m_fresh = true;
  return !std::exchange(m_wakeUpSent, true);
}

void IndentHandOver::WakeUpFailed() {
  m_wakeUpSent = false;
}

bool IndentHandOver::TakeNewest(std::vector<IndentEntry>& working) {
  // Cleared before anything is taken: a list stored after this wake-up
  // needs a wake-up of its own.
  m_wakeUpSent = false;
  if (!m_fresh)
    return false;
  working = std::move(m_requested);
  m_requested.clear();
  m_fresh = false;
  return true;
}

}  // namespace mantlet
