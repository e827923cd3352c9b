// The logging facility. Every call site tests the process-wide level before
// calling LogWrite (the MLOG macro does that); error paths that must always
// be seen call LogWrite with level 0 directly. LogWrite keeps the caller's
// last-error code.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace mantlet {

enum LogLevel : int {
  kLogError = 0,
  kLogWarning = 1,
  kLogInfo = 2,
  kLogDebug = 3,
  kLogTrace = 4,
};

// 2 from the start; nothing in the module changes it.
extern std::atomic<long> g_logLevel;

inline constexpr char kModuleName[] = "Mantlet";

// Output hook: receives one finished line (newline included, no terminator).
using LogHook = void (*)(const char* line, size_t length);

// The message is formatted by the C runtime's own formatter on Windows
// (wide strings are "%ls"); the compiler checks every format against it.
#if defined(__MINGW32__)
#define MANTLET_PRINTF_FORMAT(f, a) __attribute__((format(ms_printf, f, a)))
#elif defined(__GNUC__) || defined(__clang__)
#define MANTLET_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define MANTLET_PRINTF_FORMAT(f, a)
#endif

void LogWrite(const char* tag, const char* module, int level, const char* format, ...)
    MANTLET_PRINTF_FORMAT(4, 5);

// " (the system's text for `error`)", or "" when it has none: appended to
// the failure lines by MLOG_FAILURE.
struct ErrorText {
  char text[160];
};
ErrorText DescribeError(uint32_t error);

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

// One line for a failed call: what failed, the error code and the system's
// text for it, e.g. "Can't open the key, err = 5 (Access is denied.)".
#define MLOG_FAILURE(level, tag, error, format, ...)                                     \
  do {                                                                                   \
    if (::mantlet::g_logLevel >= (level)) {                                              \
      const unsigned long mlogError_ = static_cast<unsigned long>(error);                \
      ::mantlet::LogWrite((tag), ::mantlet::kModuleName, (level),                        \
                          format ", err = %lu%s" __VA_OPT__(, ) __VA_ARGS__, mlogError_, \
                          ::mantlet::DescribeError(mlogError_).text);                    \
    }                                                                                    \
  } while (0)
