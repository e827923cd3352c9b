// Hostile tags, module names and texts through the module's own formats.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/log_line.h"

namespace {

size_t Build(char (&line)[mantlet::kLogLineBufferSize], const char* tag, const char* module,
             int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const size_t length =
      mantlet::FormatLogLine(line, mantlet::LogStamp{12, 31, 23, 59, 59, 999}, tag, module, level,
                             0xFFFFFFFFu, 0xFFFFFFFFu, format, args);
  va_end(args);
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  // Split the input into tag, module and text at the first two zero bytes.
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t a = input.find('\0');
  const size_t b = a == std::string::npos ? std::string::npos : input.find('\0', a + 1);
  const std::string tag = input.substr(0, a);
  const std::string module = a == std::string::npos ? "Mantlet" : input.substr(a + 1, b - a - 1);
  const std::string text = b == std::string::npos ? input : input.substr(b + 1);
  const int level = static_cast<int8_t>(data[0]);

  char line[mantlet::kLogLineBufferSize];
  const size_t length =
      Build(line, tag.c_str(), module.c_str(), level,
            "Show message box text='%s' caption='%s' type=%d", text.c_str(), tag.c_str(), level);
  if (length == 0 || length > mantlet::kLogLineMaxText + 1 || line[length - 1] != '\n' ||
      line[length] != '\0' || std::strlen(line) != length) {
    __builtin_trap();
  }
  return 0;
}
