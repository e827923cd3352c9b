// Reads what the module appended to its log file since a mark.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testenv {

class LogTail {
 public:
  LogTail();  // marks the current end of the file

  void Mark();               // forget everything logged so far
  std::string Text() const;  // everything since the mark
  std::vector<std::string> Lines() const;
  // Lines since the mark whose text (after the "/module:pid:tid/ " part)
  // contains `needle`.
  std::vector<std::string> Matching(const std::string& needle) const;
  size_t Count(const std::string& needle) const { return Matching(needle).size(); }
  bool WaitFor(const std::string& needle, DWORD timeoutMs, size_t times = 1) const;

 private:
  unsigned long long mark_ = 0;
};

// The message part of a log line: what follows the "/Mantlet:pid:tid/ " part.
std::string LogMessage(const std::string& line);

}  // namespace testenv
