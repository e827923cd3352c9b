// The host's share list as a device could write it. A raw answer is walked
// without reading past it (under the sanitizers); a list built from entries
// comes back entry for entry, every name that fits 255 units taken whole.
#include "core/bytes.h"
#include "core/utf.h"
#include "fuzz_input.h"
#include "sharemapping/host_share_list.h"

using namespace mantlet;
using fuzzing::Check;

// Input: mode byte; even: a u32 mask and the raw answer; odd: per entry a u16
// name length (below 512), u32 flags, u16 kind, a padding count (0-3) and
// the name's bytes (NULs dropped).
FUZZ_TARGET(input) {
  if ((input.U8() & 1) == 0) {
    const uint32_t mask = input.U32();
    for (const HostShare& share : ParseHostShares(input.RestCopy(), mask))
      Check(share.name.size() <= 255 && (share.flags & mask) != 0);
    return;
  }
  fuzzing::Bytes answer;
  std::vector<HostShare> expected;
  while (!input.empty()) {
    const size_t nameLength = input.U16() % 512;
    const uint32_t flags = input.U32() | 1;
    const uint16_t kind = input.U16();
    const size_t padding = input.U8() & 3, at = answer.size();
    answer.resize(at + 24, 0xEE);
    for (uint8_t b : input.Take(nameLength)) {
      if (b != 0)
        answer.push_back(b);
    }
    const std::u16string name = Utf8ToUtf16(std::string(answer.begin() + at + 24, answer.end()));
    answer.push_back(0);
    answer.resize(std::max(answer.size() + padding, at + 28), 0);
    StoreU32(answer.data() + at, static_cast<uint32_t>(answer.size() - at));
    StoreU32(answer.data() + at + 4, flags);
    StoreU16(answer.data() + at + 8, kind);
    if (name.size() <= 255)
      expected.push_back(HostShare{name, flags, kind});
  }
  const std::vector<HostShare> parsed = ParseHostShares(answer, 0xFFFFFFFF);
  Check(parsed.size() == expected.size());
  for (size_t i = 0; i < parsed.size(); ++i) {
    Check(parsed[i].name == expected[i].name && parsed[i].flags == expected[i].flags &&
          parsed[i].kind == expected[i].kind);
  }
}
