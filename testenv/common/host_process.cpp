#include "host_process.h"

#include <climits>
#include <cstdlib>

#include "test_paths.h"

namespace testenv {

HostProcess::~HostProcess() {
  Close(5000);
}

std::string HostProcess::Launch(const HostOptions& options) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE stdinRead = nullptr, stdoutWrite = nullptr;
  CreatePipe(&stdinRead, &stdinWrite_, &inherit, 0);
  CreatePipe(&stdoutRead_, &stdoutWrite, &inherit, 0);
  SetHandleInformation(stdinWrite_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(stdoutRead_, HANDLE_FLAG_INHERIT, 0);

  // The module echoes its log lines to standard error; keep them with the
  // test's own output.
  HANDLE stderrHandle = GetStdHandle(STD_ERROR_HANDLE);
  SetHandleInformation(stderrHandle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

  const std::wstring exe = BinPath(options.executable);
  std::wstring command = L"\"" + exe + L"\" \"" +
                         (options.modulePath.empty() ? ModulePath() : options.modulePath) + L"\"";
  if (!options.load)
    command += L" --no-load";
  for (const std::wstring& arg : options.extraArgs)
    command += L" \"" + arg + L"\"";

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = stdinRead;
  startup.hStdOutput = stdoutWrite;
  startup.hStdError = stderrHandle;
  PROCESS_INFORMATION info = {};
  const BOOL created = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, BinDir().c_str(), &startup, &info);
  CloseHandle(stdinRead);
  CloseHandle(stdoutWrite);
  if (!created)
    return {};
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  return options.load ? ReadLine(30000) : "load=deferred";
}

std::string HostProcess::ReadLine(DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      return line;
    }
    DWORD available = 0;
    if (!PeekNamedPipe(stdoutRead_, nullptr, 0, nullptr, &available, nullptr))
      return {};
    if (available > 0) {
      char chunk[512];
      DWORD read = 0;
      if (!ReadFile(stdoutRead_, chunk, sizeof(chunk) < available ? sizeof(chunk) : available,
                    &read, nullptr)) {
        return {};
      }
      buffer_.append(chunk, read);
      continue;
    }
    if (GetTickCount64() >= deadline)
      return {};
    Sleep(5);
  }
}

std::string HostProcess::Call(const std::string& line, DWORD timeoutMs) {
  if (stdinWrite_ == nullptr)
    return {};
  const std::string text = line + "\n";
  DWORD written = 0;
  if (!WriteFile(stdinWrite_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return {};
  }
  return ReadLine(timeoutMs);
}

int HostProcess::CallForInt(const std::string& line, DWORD timeoutMs) {
  const std::string answer = Call(line, timeoutMs);
  const size_t eq = answer.find('=');
  if (eq == std::string::npos || eq + 1 >= answer.size())
    return INT_MIN;
  char* end = nullptr;
  const long value = strtol(answer.c_str() + eq + 1, &end, 10);
  return end != nullptr && *end == '\0' ? static_cast<int>(value) : INT_MIN;
}

bool HostProcess::Running() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void HostProcess::Kill() {
  if (process_ != nullptr) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 10000);
  }
  Close(0);
}

void HostProcess::Close(DWORD timeoutMs) {
  if (stdinWrite_ != nullptr) {
    CloseHandle(stdinWrite_);
    stdinWrite_ = nullptr;
  }
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
      TerminateProcess(process_, 98);
      WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
    process_ = nullptr;
  }
  if (stdoutRead_ != nullptr) {
    CloseHandle(stdoutRead_);
    stdoutRead_ = nullptr;
  }
  buffer_.clear();
}

}  // namespace testenv
