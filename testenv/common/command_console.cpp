#include "command_console.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>

namespace testenv {
namespace {

struct Lines {
  std::mutex lock;
  std::deque<std::string> queue;
  bool closed = false;
  HANDLE ready = nullptr;
};

// Set and read on the console's own thread only.
DWORD g_pace = kPromptly;
ULONGLONG g_nextPump = 0;

// Waits for a command line while the thread is busy: not a message wait, so
// nothing sent to the thread's windows is taken meanwhile. Pumps when the
// pace says it is time.
void WaitBusy(HANDLE ready) {
  if (g_pace == kWhenTold) {
    WaitForSingleObject(ready, INFINITE);
    return;
  }
  ULONGLONG now = GetTickCount64();
  if (now >= g_nextPump) {
    PumpThreadMessages();
    now = GetTickCount64();
    g_nextPump = now + g_pace;
  }
  WaitForSingleObject(ready, static_cast<DWORD>(g_nextPump - now));
}

DWORD WINAPI ReadLines(void* context) {
  Lines& lines = *static_cast<Lines*>(context);
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  char chunk[512];
  DWORD read = 0;
  while (ReadFile(input, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
    pending.append(chunk, read);
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      pending.erase(0, end + 1);
      std::lock_guard<std::mutex> hold(lines.lock);
      lines.queue.push_back(std::move(line));
      SetEvent(lines.ready);
    }
  }
  std::lock_guard<std::mutex> hold(lines.lock);
  lines.closed = true;
  SetEvent(lines.ready);
  return 0;
}

}  // namespace

void ConsoleReply(const char* format, ...) {
  char text[8192];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  std::string line = std::string(text) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
            nullptr);
}

void PumpThreadMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void SetMessagePace(DWORD everyMs) {
  g_pace = everyMs;
  g_nextPump = GetTickCount64() + (everyMs == kWhenTold ? 0 : everyMs);
}

DWORD MessagePace() {
  return g_pace;
}

void RunCommandConsole(bool (*execute)(const std::string& line)) {
  // Lives until the process ends: the reader thread may still use it.
  static Lines lines;
  lines.ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE reader = CreateThread(nullptr, 0, &ReadLines, &lines, 0, nullptr);
  bool running = reader != nullptr;
  while (running) {
    if (g_pace == kPromptly) {
      const DWORD wait = MsgWaitForMultipleObjects(1, &lines.ready, FALSE, INFINITE, QS_ALLINPUT);
      if (wait == WAIT_OBJECT_0 + 1) {
        PumpThreadMessages();
        continue;
      }
    } else {
      WaitBusy(lines.ready);
    }
    for (;;) {
      std::string line;
      {
        std::lock_guard<std::mutex> hold(lines.lock);
        if (lines.queue.empty()) {
          running = !lines.closed;
          break;
        }
        line = std::move(lines.queue.front());
        lines.queue.pop_front();
      }
      if (!execute(line)) {
        running = false;
        break;
      }
    }
  }
  if (reader != nullptr)
    CloseHandle(reader);
}

}  // namespace testenv
