#include "log_tail.h"

#include "test_paths.h"
#include "wait_until.h"

namespace testenv {
namespace {

std::string ReadFrom(unsigned long long offset) {
  HANDLE file = CreateFileW(LogFilePath().c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return {};
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  std::string text;
  // A file that shrank was replaced: read it from the start.
  if (static_cast<unsigned long long>(size.QuadPart) < offset)
    offset = 0;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
  text.resize(static_cast<size_t>(size.QuadPart - static_cast<LONGLONG>(offset)));
  DWORD read = 0;
  if (!text.empty())
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
  text.resize(read);
  CloseHandle(file);
  return text;
}

unsigned long long FileSize() {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(LogFilePath().c_str(), GetFileExInfoStandard, &data))
    return 0;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

std::string LogMessage(const std::string& line) {
  const size_t open = line.find(" /");
  if (open == std::string::npos)
    return line;
  const size_t close = line.find("/ ", open + 2);
  return close == std::string::npos ? line : line.substr(close + 2);
}

LogTail::LogTail() {
  Mark();
}

void LogTail::Mark() {
  mark_ = FileSize();
}

std::string LogTail::Text() const {
  return ReadFrom(mark_);
}

std::vector<std::string> LogTail::Lines() const {
  std::vector<std::string> lines;
  const std::string text = Text();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      break;  // a line still being written
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> LogTail::Matching(const std::string& needle) const {
  std::vector<std::string> found;
  for (const std::string& line : Lines()) {
    if (LogMessage(line).find(needle) != std::string::npos)
      found.push_back(line);
  }
  return found;
}

bool LogTail::WaitFor(const std::string& needle, DWORD timeoutMs, size_t times) const {
  return WaitUntil([&] { return Count(needle) >= times; }, timeoutMs);
}

}  // namespace testenv
