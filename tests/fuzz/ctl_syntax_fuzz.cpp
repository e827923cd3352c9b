// Any batch text an operator could feed mantletctl: it parses or refuses,
// and every record it builds is one the module accepts.
#include "core/command_record.h"
#include "ctl_syntax.h"
#include "fuzz_input.h"

FUZZ_TARGET(input) {
  const mantletctl::Parsed parsed = mantletctl::ParseBatch(input.AllChars());
  if (!parsed.ok())
    return;
  for (const auto& record : parsed.records) {
    if (record.size() < mantlet::kMinCommandRecordSize)
      continue;  // raw --no-pad
    (void)mantlet::ParseCommandRecord(std::span<const uint8_t>(record.data(), record.size()));
  }
}
