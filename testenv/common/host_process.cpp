#include "host_process.h"

#include <climits>
#include <cstdlib>

#include "test_paths.h"

namespace testenv {

const char* HostCallsWord(HostCalls calls) {
  switch (calls) {
    case HostCalls::kCom:
      return "com";
    case HostCalls::kMain:
      return "main";
    default:
      return "fresh";
  }
}

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
  // Only what differs from the host's defaults, so that the other programs
  // started through here (the shell stand-in) never see these.
  if (options.calls != HostCalls::kFresh) {
    const std::string word = HostCallsWord(options.calls);
    command += L" --calls " + std::wstring(word.begin(), word.end());
  }
  if (options.windowShown)
    command += L" --window shown";
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
  ended_ = false;
  lines_.clear();
  linesReady_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  reader_ = CreateThread(nullptr, 0, &ReaderMain, this, 0, nullptr);
  return options.load ? ReadLine(30000) : "load=deferred";
}

DWORD WINAPI HostProcess::ReaderMain(void* param) {
  auto* self = static_cast<HostProcess*>(param);
  std::string pending;
  char chunk[512];
  DWORD read = 0;
  while (ReadFile(self->stdoutRead_, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
    pending.append(chunk, read);
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      std::lock_guard<std::mutex> hold(self->linesLock_);
      self->lines_.push_back(std::move(line));
      SetEvent(self->linesReady_);
    }
  }
  std::lock_guard<std::mutex> hold(self->linesLock_);
  self->ended_ = true;
  SetEvent(self->linesReady_);
  return 0;
}

std::string HostProcess::ReadLine(DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(linesLock_);
      if (!lines_.empty()) {
        std::string line = std::move(lines_.front());
        lines_.pop_front();
        return line;
      }
      if (ended_ || linesReady_ == nullptr)
        return {};
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline)
      return {};
    WaitForSingleObject(linesReady_, static_cast<DWORD>(deadline - now));
  }
}

bool HostProcess::Post(const std::string& line) {
  if (stdinWrite_ == nullptr)
    return false;
  const std::string text = line + "\n";
  DWORD written = 0;
  return WriteFile(stdinWrite_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) !=
         FALSE;
}

std::string HostProcess::Call(const std::string& line, DWORD timeoutMs) {
  return Post(line) ? ReadLine(timeoutMs) : std::string();
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
  if (reader_ != nullptr) {
    // The pipe ends with the process; a child that inherited it could keep
    // it open, so don't wait for ever.
    if (WaitForSingleObject(reader_, 3000) != WAIT_OBJECT_0) {
      CancelSynchronousIo(reader_);
      WaitForSingleObject(reader_, 3000);
    }
    CloseHandle(reader_);
    reader_ = nullptr;
  }
  if (stdoutRead_ != nullptr) {
    CloseHandle(stdoutRead_);
    stdoutRead_ = nullptr;
  }
  if (linesReady_ != nullptr) {
    CloseHandle(linesReady_);
    linesReady_ = nullptr;
  }
}

}  // namespace testenv
