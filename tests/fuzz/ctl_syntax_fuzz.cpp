// Any batch text an operator could feed mantletctl: it parses or refuses,
// and every record it builds is one the module accepts.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/command_record.h"
#include "ctl_syntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const mantletctl::Parsed parsed =
      mantletctl::ParseBatch(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!parsed.ok())
    return 0;
  for (const auto& record : parsed.records) {
    if (record.size() < mantlet::kMinCommandRecordSize)
      continue;  // raw --no-pad
    (void)mantlet::ParseCommandRecord(std::span<const uint8_t>(record.data(), record.size()));
  }
  return 0;
}
