#include "sharemapping/host_share_list.h"

#include <string_view>

#include "core/bytes.h"
#include "core/utf.h"

namespace mantlet {
namespace {

constexpr size_t kMinimumEntry = 28;
constexpr size_t kNameOffset = 24;
constexpr size_t kNameBufferUnits = 256;  // the terminator included

}  // namespace

std::vector<HostShare> ParseHostShares(std::span<const uint8_t> answer, uint32_t mask) {
  std::vector<HostShare> shares;
  size_t cursor = 0;
  while (cursor < answer.size()) {
    const size_t remaining = answer.size() - cursor;
    if (remaining < kMinimumEntry)
      break;
    const uint8_t* entry = answer.data() + cursor;
    const uint32_t length = LoadU32(entry);
    if (length == 0 || length > remaining)
      break;

    const uint32_t flags = LoadU32(entry + 4);
    if ((flags & mask) != 0) {
      const char* name = reinterpret_cast<const char*>(entry + kNameOffset);
      const std::string_view rest(name, remaining - kNameOffset);
      // A name cut off by the end of the answer has no NUL and is taken as
      // far as the answer goes.
      std::u16string converted = Utf8ToUtf16(rest.substr(0, rest.find('\0')));
      // The buffer holds the name and its terminator.
      if (converted.size() < kNameBufferUnits)
        shares.push_back(HostShare{std::move(converted), flags, LoadU16(entry + 8)});
    }
    cursor += length;
  }
  return shares;
}

}  // namespace mantlet
