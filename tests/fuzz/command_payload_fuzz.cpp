// The indent list of command 17 as a host could write it: the entries read
// back as the bytes they came from, and they drive the appbar walk to its end
// in a bounded number of steps whatever the numbers say. (That every decoder
// stays inside the record is command_record_fuzz's property.)
#include "core/bytes.h"
#include "core/command_record.h"
#include "fuzz_input.h"
#include "taskbar/appbar_plan.h"
#include "taskbar/indent_entry.h"

using namespace mantlet;
using fuzzing::Check;

// Input: arg, 18 bytes of walk choices (unresolved, with-appbar, monitor),
// then the payload (the record from offset 8).
FUZZ_TARGET(input) {
  CommandRecordView record;
  record.arg = input.U32();
  const std::span<const uint8_t> walk = input.Take(18);
  fuzzing::Input choices(walk.data(), walk.size());
  const fuzzing::Bytes payload = input.RestCopy();
  record.payload = std::span<const uint8_t>(payload.data(), payload.size());
  const std::vector<IndentEntry> entries = DecodeIndents(record);
  Check(entries.size() == std::min<size_t>(record.arg, payload.size()) / kIndentEntrySize);
  fuzzing::Bytes encoded;
  for (const IndentEntry& e : entries) {
    for (int32_t v : {e.displayX, e.displayY, e.left, e.top, e.right, e.bottom})
      AppendU32(encoded, static_cast<uint32_t>(v));
  }
  Check(fuzzing::StartsWith(payload, encoded));

  // Each step makes at most one change and clears the edge it tried, so four
  // changes per entry end the walk; a strip keeps three sides of its monitor.
  const uint8_t unresolved = choices.U8(), withAppBar = choices.U8();
  ScreenRect monitor;
  for (int32_t* side : {&monitor.left, &monitor.top, &monitor.right, &monitor.bottom})
    *side = static_cast<int32_t>(choices.U32());
  auto resolve = [&](const IndentEntry& e) -> std::optional<ScreenRect> {
    if ((static_cast<uint32_t>(e.displayX) & 7) == (unresolved & 7))
      return std::nullopt;
    return monitor;
  };
  auto apply = [&](const ScreenRect& m, int32_t indent, uint32_t edge) {
    const AppBarAction action = DecideAppBar(indent, (withAppBar >> edge) & 1);
    if (action == AppBarAction::kCreate || action == AppBarAction::kPlace) {
      const ScreenRect s = AppBarRect(m, edge, indent);
      Check((s.left == m.left) + (s.top == m.top) + (s.right == m.right) + (s.bottom == m.bottom) >=
            3);
    }
    return action != AppBarAction::kNothing;
  };
  std::vector<IndentEntry> working = entries;
  size_t steps = 0;
  while (ApplyFirstChange(working, resolve, apply))
    Check(++steps <= kAppBarEdgeCount * entries.size());
}
