// Hostile tags, module names, texts, stamps, levels and identifiers. The
// line is always terminated, ends in its newline and fits its buffer; it is
// the header (the same line with an empty text) followed by the text, both
// cut together at 4094; and a tag or module is copied verbatim, never read
// as a format.
#include <cstring>

#include "core/log_line.h"
#include "fuzz_input.h"

namespace {

using fuzzing::Check;

struct Call {
  mantlet::LogStamp stamp;
  std::string tag, module;
  int level;
  uint32_t processId, threadId;
};

std::string Line(const Call& c, const char* format, ...) {
  char line[mantlet::kLogLineBufferSize];
  va_list args;
  va_start(args, format);
  const size_t length = mantlet::FormatLogLine(line, c.stamp, c.tag.c_str(), c.module.c_str(),
                                               c.level, c.processId, c.threadId, format, args);
  va_end(args);
  Check(length >= 1 && length <= mantlet::kLogLineMaxText + 1);
  Check(line[length - 1] == '\n' && line[length] == '\0' && strlen(line) == length);
  return std::string(line, length - 1);
}

}  // namespace

// Input: format (unused), level, stamp (6 x u32), process and thread ids, six
// integers (unused), then tag, module and two texts (u16 lengths).
FUZZ_TARGET(input) {
  Call c;
  input.U8();
  c.level = static_cast<int8_t>(input.U8());
  for (int* field : {&c.stamp.month, &c.stamp.day, &c.stamp.hour, &c.stamp.minute, &c.stamp.second,
                     &c.stamp.millisecond})
    *field = static_cast<int>(input.U32());
  c.processId = input.U32();
  c.threadId = input.U32();
  input.Take(24);
  c.tag = input.LongText();
  c.module = input.LongText();
  const std::string text = input.LongText() + input.LongText();
  const std::string header = Line(c, "%s", "");
  Check(Line(c, "%s", text.c_str()) == (header + text.c_str()).substr(0, mantlet::kLogLineMaxText));
  const std::string tagged = c.tag.c_str() + std::string(" /") + c.module.c_str() + ":";
  if (c.tag.c_str()[0] != '\0' && header.size() < mantlet::kLogLineMaxText)
    Check(header.find(tagged) != std::string::npos);
}
