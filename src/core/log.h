// The logging facility. Every call site tests the process-wide level before
// calling LogWrite (the MLOG macro does that); error paths that must always
// be seen call LogWrite with level 0 directly. LogWrite keeps the caller's
// last-error code.
#pragma once

#include <cstddef>

namespace mantlet {

enum LogLevel : int {
  kLogError = 0,
  kLogWarning = 1,
  kLogInfo = 2,
  kLogDebug = 3,
  kLogTrace = 4,
};

// 2 from the start; nothing in the module changes it.
extern volatile long g_logLevel;

inline constexpr char kModuleName[] = "Mantlet";

// Output hook: receives one finished line (newline included, no terminator).
using LogHook = void (*)(const char* line, size_t length);

void LogWrite(const char* tag, const char* module, int level, const char* format, ...);

// Replaces the output hook and returns the previous one, once no thread is
// still inside the previous hook.
LogHook SetLogHook(LogHook hook);

// The default hook: appends the line to "corvane.log" and echoes it to the
// C runtime's standard error.
void LogFileWriter(const char* line, size_t length);

}  // namespace mantlet

#define MLOG(level, tag, ...)                                                   \
  do {                                                                          \
    if (::mantlet::g_logLevel >= (level))                                       \
      ::mantlet::LogWrite((tag), ::mantlet::kModuleName, (level), __VA_ARGS__); \
  } while (0)
