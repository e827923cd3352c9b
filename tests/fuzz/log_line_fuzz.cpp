// Hostile tags, module names, texts, months, milliseconds and levels: the
// line always ends in its newline inside its buffer, and a tag is copied,
// never read as a format. Input: text, level, month and milliseconds (u32
// each), tag and module (texts are length-prefixed).
#include <cstring>

#include "core/log_line.h"
#include "fuzz_input.h"

namespace {

// The line for the arguments after `in`, formatted with "%s".
size_t Format(char (&line)[mantlet::kLogLineBufferSize], fuzzing::Input* in, ...) {
  const int level = static_cast<int8_t>(in->U8());
  const mantlet::LogStamp stamp{static_cast<int>(in->U32()), 4, 21, 30, 4,
                                static_cast<int>(in->U32())};
  const std::string tag = in->Text(), module = in->Text();
  va_list args;
  va_start(args, in);
  const size_t length = mantlet::FormatLogLine(line, stamp, tag.c_str(), module.c_str(), level,
                                               1234, 0x1a2c, "%s", args);
  va_end(args);
  return length;
}

}  // namespace

FUZZ_TARGET(input) {
  const std::string text = input.Text();
  char line[mantlet::kLogLineBufferSize];
  const size_t length = Format(line, &input, text.c_str());
  FUZZ_CHECK(length >= 1 && length <= mantlet::kLogLineMaxText + 1 && line[length - 1] == '\n' &&
             strlen(line) == length);
}
