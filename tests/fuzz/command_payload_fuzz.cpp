// The payloads of commands 6, 9 and 17 as a host could write them: what each
// decoder gives lies in the record (layout checked by encoding it again), and
// an indent list drives the appbar walk to its end in a bounded number of
// steps whatever the numbers say.
#include "core/bytes.h"
#include "core/command_record.h"
#include "core/utf.h"
#include "fuzz_input.h"
#include "interaction/message_box_payload.h"
#include "sharemapping/volume_names.h"
#include "taskbar/appbar_plan.h"
#include "taskbar/indent_entry.h"

namespace {

using namespace mantlet;
using fuzzing::Bytes;
using fuzzing::Check;
using fuzzing::StartsWith;

void AppendUnits(Bytes& out, const std::u16string& units) {
  for (char16_t c : units)
    out.insert(out.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
}

void CheckMessageBox(const CommandRecordView& record) {
  const MessageBoxPayload box = DecodeMessageBox(record);
  const size_t units = record.payload.size() < 4 ? 0 : (record.payload.size() - 4) / 2;
  Check(box.text.size() + box.caption.size() <= units);
  Check(box.text.find(u'\0') == std::u16string::npos);
  Check(box.caption.find(u'\0') == std::u16string::npos);
  if (record.payload.size() < 4) {
    Check(box.type == 0 && box.text.empty() && box.caption.empty());
    return;
  }
  // Type, text, its terminator when the record has room for one, caption.
  Bytes expected(4);
  StoreU32(expected.data(), box.type);
  AppendUnits(expected, box.text);
  if (StartsWith(record.payload, expected) && expected.size() + 2 <= record.payload.size()) {
    expected.insert(expected.end(), {0, 0});
    AppendUnits(expected, box.caption);
  }
  Check(StartsWith(record.payload, expected));
  if (record.payload.size() >= expected.size() + 2)  // the caption was terminated
    Check(record.payload[expected.size()] == 0 && record.payload[expected.size() + 1] == 0);
}

void CheckVolumeNames(const CommandRecordView& record) {
  const auto names = DecodeVolumeNames(record);
  const size_t clipped = std::min<size_t>(record.arg, record.payload.size());
  std::u16string text =
      Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(record.payload.data()), clipped));
  // The names and their separators are the text, a last NUL aside.
  if (!text.empty() && text.back() == u'\0')
    text.pop_back();
  std::u16string joined;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i != 0)
      joined.push_back(u'\0');
    joined += names[i];
  }
  Check(joined == text);
  Check(names.empty() == (clipped == 0));
}

void CheckIndents(const CommandRecordView& record, fuzzing::Input& choices) {
  const std::vector<IndentEntry> entries = DecodeIndents(record);
  const size_t clipped = std::min<size_t>(record.arg, record.payload.size());
  Check(entries.size() == clipped / kIndentEntrySize);
  Bytes encoded;
  for (const IndentEntry& e : entries) {
    for (int32_t v : {e.displayX, e.displayY, e.left, e.top, e.right, e.bottom})
      AppendU32(encoded, static_cast<uint32_t>(v));
  }
  Check(StartsWith(record.payload, encoded));

  // The appbar walk: each step makes at most one change and clears the edge
  // it tried, so four changes per entry end it.
  IndentHandOver handOver;
  handOver.Store(entries.data(), entries.size());
  std::vector<IndentEntry> working;
  Check(handOver.TakeNewest(working) && working.size() == entries.size());
  Check(!handOver.TakeNewest(working));
  const uint8_t unresolved = choices.U8(), withAppBar = choices.U8();
  const ScreenRect monitor{static_cast<int32_t>(choices.U32()), static_cast<int32_t>(choices.U32()),
                           static_cast<int32_t>(choices.U32()),
                           static_cast<int32_t>(choices.U32())};
  auto resolve = [&](const IndentEntry& e) -> std::optional<ScreenRect> {
    if ((static_cast<uint32_t>(e.displayX) & 7) == (unresolved & 7))
      return std::nullopt;
    return monitor;
  };
  auto apply = [&](const ScreenRect& m, int32_t indent, uint32_t edge) {
    const AppBarAction action = DecideAppBar(indent, (withAppBar >> edge) & 1);
    if (action == AppBarAction::kCreate || action == AppBarAction::kPlace) {
      const ScreenRect strip = AppBarRect(m, edge, indent);
      // The strip keeps three sides of its monitor.
      const int kept = (strip.left == m.left) + (strip.top == m.top) + (strip.right == m.right) +
                       (strip.bottom == m.bottom);
      Check(kept >= 3);
    }
    return action != AppBarAction::kNothing;
  };
  size_t steps = 0;
  while (ApplyFirstChange(working, resolve, apply)) {
    ++steps;
    Check(steps <= kAppBarEdgeCount * entries.size());
  }
  for (size_t i = 0; i < working.size(); ++i) {
    if (resolve(entries[i])) {
      for (uint32_t edge = 0; edge < kAppBarEdgeCount; ++edge)
        Check(IndentOf(working[i], edge) == kIndentNoChange);
    }
  }
}

}  // namespace

// Input: arg, 18 bytes of walk choices, then the payload (the record from
// offset 8).
FUZZ_TARGET(input) {
  const uint32_t arg = input.U32();
  const std::span<const uint8_t> walk = input.Take(18);
  fuzzing::Input choices(walk.data(), walk.size());
  const Bytes payload = input.RestCopy();
  CommandRecordView record;
  record.arg = arg;
  record.payload = std::span<const uint8_t>(payload.data(), payload.size());
  CheckVolumeNames(record);
  CheckMessageBox(record);
  CheckIndents(record, choices);
}
