// Drives the host stand-in: starts it with Mantlet.dll, sends it one command
// line at a time and reads its answer.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace testenv {

// The host thread that calls the module's entry points. The contract lets a
// host call them from any of its threads, one at a time.
enum class HostCalls {
  kFresh,  // a new thread for each call, without COM, ended after it (the least promised)
  kCom,    // one long-lived thread in a single-threaded COM apartment, pumping between calls
  kMain,   // the host's main thread, which owns a window and pumps between calls
};

struct HostOptions {
  const wchar_t* executable = L"mantlet_host.exe";  // or L"mantlet_host_noopt.exe"
  std::wstring modulePath;                          // default: bin\Mantlet.dll
  std::vector<std::wstring> extraArgs;
  bool load = true;
  HostCalls calls = HostCalls::kFresh;  // the host's own default
  bool windowShown = false;             // the main thread's window, hidden by default
};

// "fresh", "com", "main": the word of the host's "calls" command.
const char* HostCallsWord(HostCalls calls);

class HostProcess {
 public:
  HostProcess() = default;
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // Starts the process; returns the first line ("load=ok" and so on), or an
  // empty string when the process could not be started.
  std::string Launch(const HostOptions& options = {});

  // Sends one line and returns the answer line ("" on time-out or exit).
  std::string Call(const std::string& line, DWORD timeoutMs = 30000);
  // Sends one line without waiting for its answer, for a call that ends only
  // once the test has done something else (a stop that waits for a held
  // shell or a hung device); Answer() reads the answer afterwards.
  bool Post(const std::string& line);
  std::string Answer(DWORD timeoutMs = 30000) { return ReadLine(timeoutMs); }

  // "StartTool=0" -> 0; INT_MIN when the answer is not "<name>=<number>".
  int CallForInt(const std::string& line, DWORD timeoutMs = 30000);

  // Ends the process as the host would when it crashes (no stop).
  void Kill();
  // Closes stdin and waits for a clean exit; kills after the time-out.
  void Close(DWORD timeoutMs = 15000);

  bool Running() const;
  DWORD Pid() const { return pid_; }
  HANDLE Handle() const { return process_; }

 private:
  std::string ReadLine(DWORD timeoutMs);
  static DWORD WINAPI ReaderMain(void* self);

  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HANDLE stdinWrite_ = nullptr;
  HANDLE stdoutRead_ = nullptr;
  // Answers are read by a thread of their own that blocks on the pipe, so a
  // caller waits on an event instead of polling.
  HANDLE reader_ = nullptr;
  HANDLE linesReady_ = nullptr;
  std::mutex linesLock_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

}  // namespace testenv
