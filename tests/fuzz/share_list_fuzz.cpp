// The host's share list as a device could write it. Raw answers: the walk
// stays inside the answer, takes only flagged names that fit, and does not
// depend on the mask (a masked parse is the full parse filtered). Lists
// built from entries: every entry comes back as it went in.
#include "core/bytes.h"
#include "core/utf.h"
#include "fuzz_input.h"
#include "sharemapping/host_share_list.h"

namespace {

using namespace mantlet;
using fuzzing::Bytes;
using fuzzing::Check;

bool Same(const HostShare& a, const HostShare& b) {
  return a.name == b.name && a.flags == b.flags && a.kind == b.kind;
}

void CheckRawAnswer(const Bytes& answer, uint32_t mask) {
  const std::vector<HostShare> all = ParseHostShares(answer, 0xFFFFFFFF);
  const std::vector<HostShare> masked = ParseHostShares(answer, mask);
  // Each entry takes at least one byte and needs 28 before the end.
  Check(all.size() <= (answer.size() < 28 ? 0 : answer.size() - 27));
  size_t next = 0;
  for (const HostShare& share : all) {
    Check(share.name.size() <= 255 && share.flags != 0);
    if ((share.flags & mask) != 0) {
      Check(next < masked.size() && Same(masked[next], share));
      ++next;
    }
  }
  Check(next == masked.size());
}

// Input after the mode byte: per entry a u16 name length (below 512), u32
// flags, u16 kind, a padding count (0-3) and the name's bytes (NULs dropped).
void CheckBuiltList(fuzzing::Input& input) {
  Bytes answer;
  std::vector<HostShare> expected;
  while (!input.empty()) {
    const size_t nameLength = input.U16() % 512;
    const uint32_t flags = input.U32() | 1;
    const uint16_t kind = input.U16();
    const size_t padding = input.U8() & 3;
    std::string name;
    for (uint8_t b : input.Take(nameLength)) {
      if (b != 0)
        name.push_back(static_cast<char>(b));
    }
    const size_t at = answer.size();
    answer.resize(at + 24, 0xEE);
    answer.insert(answer.end(), name.begin(), name.end());
    answer.push_back(0);
    answer.resize(std::max(answer.size() + padding, at + 28), 0);
    StoreU32(answer.data() + at, static_cast<uint32_t>(answer.size() - at));
    StoreU32(answer.data() + at + 4, flags);
    StoreU16(answer.data() + at + 8, kind);
    const std::u16string wide = Utf8ToUtf16(name);
    if (wide.size() <= 255)
      expected.push_back(HostShare{wide, flags, kind});
  }
  const std::vector<HostShare> parsed = ParseHostShares(answer, 0xFFFFFFFF);
  Check(parsed.size() == expected.size());
  for (size_t i = 0; i < parsed.size(); ++i)
    Check(Same(parsed[i], expected[i]));
  CheckRawAnswer(answer, kShareWantsShortcut);
}

}  // namespace

// Input: mode byte (even: raw answer after a u32 mask; odd: built list).
FUZZ_TARGET(input) {
  if ((input.U8() & 1) != 0) {
    CheckBuiltList(input);
    return;
  }
  const uint32_t mask = input.U32();
  CheckRawAnswer(input.RestCopy(), mask);
}
