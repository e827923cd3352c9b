// Hostile tags, module names, texts, stamps, levels and identifiers through
// the module's own formats. The line is always terminated, ends in its
// newline and fits its buffer; it is the header (the same line with an empty
// text) followed by the formatted text, both cut together at 4094; and a tag
// is copied verbatim, never read as a format.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/log_line.h"
#include "fuzz_input.h"

namespace {

using fuzzing::Check;

// Formats the module logs with, and how many string arguments lead (the
// others take integers). "%ws" ones are left out: only the Windows runtime
// gives it the module's meaning.
struct ModuleFormat {
  const char* format;
  int strings;
};
constexpr ModuleFormat kFormats[] = {
    {"Start desktop utilities tool", 0},
    {"Mantlet's going to handle %s", 1},
    {"Unsupported command '%s'", 1},
    {"%s: unexpected exception", 1},
    {"Can't create %s key, err = %d", 1},
    {"Show message box text='%s' caption='%s' type=%d", 2},
    {"Can't create mailslot. err=%d", 0},
    {"Setting of the wallpaper: failed to apply the changes, hr=0x%08x", 0},
    {"Workarea set to (%d,%d,%d,%d)", 0},
    {" displayX=%d; displayY=%d [%d;%d;%d;%d]", 0},
    {"AdjustingBordersThread is already running for %d secs", 0},
};

struct Call {
  mantlet::LogStamp stamp;
  const char* tag;
  const char* module;
  int level;
  uint32_t processId, threadId;
};

std::string Line(const Call& c, const char* format, ...) {
  char line[mantlet::kLogLineBufferSize];
  va_list args;
  va_start(args, format);
  const size_t length = mantlet::FormatLogLine(line, c.stamp, c.tag, c.module, c.level, c.processId,
                                               c.threadId, format, args);
  va_end(args);
  Check(length >= 1 && length <= mantlet::kLogLineMaxText + 1);
  Check(line[length - 1] == '\n' && line[length] == '\0' && strlen(line) == length);
  return std::string(line, length - 1);
}

std::string Expand(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  std::string out(static_cast<size_t>(vsnprintf(nullptr, 0, format, args)) + 1, '\0');
  vsnprintf(out.data(), out.size(), format, again);
  va_end(again);
  va_end(args);
  out.pop_back();
  return out;
}

}  // namespace

// Input: format, level, stamp (6 x u32), process and thread ids, six integer
// arguments, then tag and module (u16 lengths) and two string arguments.
FUZZ_TARGET(input) {
  const ModuleFormat& f = kFormats[input.U8() % std::size(kFormats)];
  Call c;
  c.level = static_cast<int8_t>(input.U8());
  c.stamp = {static_cast<int>(input.U32()), static_cast<int>(input.U32()),
             static_cast<int>(input.U32()), static_cast<int>(input.U32()),
             static_cast<int>(input.U32()), static_cast<int>(input.U32())};
  c.processId = input.U32();
  c.threadId = input.U32();
  int n[6];
  for (int& v : n)
    v = static_cast<int>(input.U32());
  const std::string tag = input.LongText(), module = input.LongText();
  const std::string first = input.LongText(), second = input.LongText();
  c.tag = tag.c_str();
  c.module = module.c_str();
  const char* a = first.c_str();
  const char* b = second.c_str();

  std::string line, text;
  switch (f.strings) {
    case 0:
      line = Line(c, f.format, n[0], n[1], n[2], n[3], n[4], n[5]);
      text = Expand(f.format, n[0], n[1], n[2], n[3], n[4], n[5]);
      break;
    case 1:
      line = Line(c, f.format, a, n[0], n[1], n[2], n[3], n[4], n[5]);
      text = Expand(f.format, a, n[0], n[1], n[2], n[3], n[4], n[5]);
      break;
    default:
      line = Line(c, f.format, a, b, n[0], n[1], n[2], n[3], n[4], n[5]);
      text = Expand(f.format, a, b, n[0], n[1], n[2], n[3], n[4], n[5]);
      break;
  }
  const std::string header = Line(c, "%s", "");
  Check(line == (header + text).substr(0, mantlet::kLogLineMaxText));
  // The tag, when it fits, stands verbatim before the slashed part.
  const std::string tagged = std::string(c.tag) + " /" + c.module + ":";
  if (c.tag[0] != '\0' && header.size() < mantlet::kLogLineMaxText)
    Check(header.find(tagged) != std::string::npos);
}
