// Layout of one log line. Windows-free so that the layout can be tested and
// fuzzed natively; the Win32 side supplies the clock and the identifiers.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace mantlet {

// Room for one line: at most kLogLineMaxText characters, a newline and the
// terminator.
inline constexpr size_t kLogLineBufferSize = 4096;
inline constexpr size_t kLogLineMaxText = 4094;

struct LogStamp {
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// "12-04 21:30:04.123 I MANTLETDLL /Mantlet:1234:1a2c/ text\n"
// Levels 16..31 carry "QT: " and the tag of level - 16; levels outside 0..4
// print as "O(level) " with the level unsigned. An empty or null tag drops the
// tag and its blank. Returns the line's length without the terminator.
size_t FormatLogLine(char (&line)[kLogLineBufferSize], const LogStamp& stamp, const char* tag,
                     const char* module, int level, uint32_t processId, uint32_t threadId,
                     const char* format, va_list args);

}  // namespace mantlet
