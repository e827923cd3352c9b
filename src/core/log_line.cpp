#include "core/log_line.h"

#include <cstdio>
#include <cstring>

namespace mantlet {
namespace {

// The message part goes through the C runtime's own formatter on Windows so
// that "%ws" keeps its meaning there; elsewhere the standard one.
int FormatInto(char* out, size_t room, const char* format, va_list args) {
#if defined(_WIN32)
  return _vsnprintf(out, room, format, args);
#else
  return vsnprintf(out, room, format, args);
#endif
}

size_t Append(char (&line)[kLogLineBufferSize], size_t used, const char* format, ...) {
  if (used >= kLogLineBufferSize - 1)
    return used;
  va_list args;
  va_start(args, format);
  const int written = vsnprintf(line + used, kLogLineBufferSize - used, format, args);
  va_end(args);
  if (written < 0)
    return used;
  const size_t end = used + static_cast<size_t>(written);
  return end < kLogLineBufferSize - 1 ? end : kLogLineBufferSize - 1;
}

const char* LevelTag(unsigned level) {
  static const char* const kTags[] = {"F ", "W ", "I ", "D ", "T "};
  return level < sizeof(kTags) / sizeof(kTags[0]) ? kTags[level] : nullptr;
}

}  // namespace

size_t FormatLogLine(char (&line)[kLogLineBufferSize], const LogStamp& stamp, const char* tag,
                     const char* module, int level, uint32_t processId, uint32_t threadId,
                     const char* format, va_list args) {
  size_t used = Append(line, 0, "%02d-%02d %02d:%02d:%02d.%03d ", stamp.month, stamp.day,
                       stamp.hour, stamp.minute, stamp.second, stamp.millisecond);

  unsigned shown = static_cast<unsigned>(level);
  if (level >= 16 && level <= 31) {
    used = Append(line, used, "QT: ");
    shown -= 16;
  }
  if (const char* levelTag = LevelTag(shown)) {
    used = Append(line, used, "%s", levelTag);
  } else {
    used = Append(line, used, "O(%u) ", shown);
  }

  if (tag != nullptr && tag[0] != '\0')
    used = Append(line, used, "%s ", tag);
  used = Append(line, used, "/%s:%u:%x/ ", module != nullptr ? module : "",
                static_cast<unsigned>(processId), static_cast<unsigned>(threadId));

  if (used < kLogLineMaxText && format != nullptr) {
    // The formatter may leave the buffer unterminated when the text is cut;
    // the forced terminator at the last text position settles both cases.
    FormatInto(line + used, kLogLineBufferSize - used, format, args);
    line[kLogLineMaxText] = '\0';
    used += strlen(line + used);
  }
  // Hostile tags or module names can fill the buffer before the text does.
  if (used > kLogLineMaxText)
    used = kLogLineMaxText;
  line[used++] = '\n';
  line[used] = '\0';
  return used;
}

}  // namespace mantlet
