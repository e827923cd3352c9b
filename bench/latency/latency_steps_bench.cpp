// Where a command's time goes: each step of the road from the command event
// to the device request, timed on its own in this process with the same
// set-up as the host stand-in (the emulated hypervisor first in the exception
// chain, then the module's probe guard, then the log forwarder in front of
// the file writer). Prints "STEP" lines (step | median | p90 | note) and,
// at the end, the sum of the steps of the bare reader and of the tool for
// command 10, to set against latency_bench's end-to-end figures.
//   latency_steps_bench [samples per step]     default 400
#include <windows.h>
#include <io.h>
#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_report.h"
#include "core/device_request.h"
#include "core/host_announce.h"
#include "core/host_transfer.h"
#include "core/hostcall_port.h"
#include "core/hypercall.h"
#include "core/log.h"
#include "core/log_line.h"
#include "hypervisor_emulator.h"
#include "interaction/keyboard_layout.h"

namespace {

int g_samples = 400;

double Micros(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  static const double perTick = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1e6 / static_cast<double>(f.QuadPart);
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) * perTick;
}

// Times `step` alone, after `prepare` (untimed), g_samples times.
template <typename Prepare, typename Step>
std::vector<double> Time(Prepare&& prepare, Step&& step) {
  std::vector<double> samples;
  for (int i = 0; i < g_samples; ++i) {
    prepare();
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    step();
    QueryPerformanceCounter(&b);
    samples.push_back(Micros(a, b));
  }
  return samples;
}

template <typename Step>
std::vector<double> Time(Step&& step) {
  return Time([] {}, step);
}

double Median(const std::vector<double>& s) {
  return bench::Quantile(s, 0.5);
}

void Step(const char* name, const std::vector<double>& samples, const char* note) {
  printf("STEP %s | %.1f us | %.1f us | %s\n", name, Median(samples), bench::Quantile(samples, 0.9),
         note);
  fflush(stdout);
}

void Quiet(const char*, ...) {}

void Hypervisor(const char* state) {
  testenv::HypervisorCommand("hv", state, &Quiet);
}

// Wake-up of a thread waiting on an auto-reset event, from SetEvent in this
// thread to the waiter's first instruction, the way the bare reader waits
// (WaitForSingleObject) or the way the tool's worker does (an STA thread in
// MsgWaitForMultipleObjects on three events and its message queue).
struct Waker {
  bool messageWait = false;
  HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE woke = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE idle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  LARGE_INTEGER wokeAt = {};

  static DWORD WINAPI Main(void* self) {
    auto& w = *static_cast<Waker*>(self);
    if (w.messageWait)
      CoInitialize(nullptr);
    const HANDLE handles[] = {w.quit, w.go, w.idle};
    for (;;) {
      const DWORD r = w.messageWait
                          ? MsgWaitForMultipleObjects(3, handles, FALSE, INFINITE, QS_ALLINPUT)
                          : WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      QueryPerformanceCounter(&w.wokeAt);
      if (r != WAIT_OBJECT_0 + 1)
        break;
      SetEvent(w.woke);
    }
    if (w.messageWait)
      CoUninitialize();
    return 0;
  }

  std::vector<double> Measure() {
    HANDLE thread = CreateThread(nullptr, 0, &Main, this, 0, nullptr);
    std::vector<double> samples;
    for (int i = 0; i < g_samples; ++i) {
      Sleep(2);  // the waiter is back in its wait
      LARGE_INTEGER sent;
      QueryPerformanceCounter(&sent);
      SetEvent(go);
      WaitForSingleObject(woke, INFINITE);
      samples.push_back(Micros(sent, wokeAt));
    }
    SetEvent(quit);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return samples;
  }
};

std::vector<double> Wake(bool messageWait) {
  Waker w;
  w.messageWait = messageWait;
  return w.Measure();
}

size_t Format(char (&line)[mantlet::kLogLineBufferSize], const char* format, ...) {
  va_list args;
  va_start(args, format);
  SYSTEMTIME now;
  GetLocalTime(&now);
  const mantlet::LogStamp stamp{now.wMonth,  now.wDay,    now.wHour,
                                now.wMinute, now.wSecond, now.wMilliseconds};
  const size_t length =
      mantlet::FormatLogLine(line, stamp, "KBDLAYOUT", mantlet::kModuleName, 2,
                             GetCurrentProcessId(), GetCurrentThreadId(), format, args);
  va_end(args);
  return length;
}

constexpr char kLineFormat[] =
    "Check current layout resetHotkeys=%d currentUserKey=%d m_currentSessionIsActive=%d";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1)
    g_samples = atoi(argv[1]);
  // As in the host stand-in: the emulator first in the chain, then the
  // module's guard and forwarder (installed at load).
  testenv::InstallHypervisorEmulator();
  mantlet::InstallHostCallGuard();
  mantlet::InstallHostLogForwarder();
  Hypervisor("off");

  printf("each step %d times; median and 90th percentile in microseconds\n", g_samples);

  // Waking the reader.
  const auto wakeBare = Wake(false);
  const auto wakeTool = Wake(true);
  Step("wake: WaitForMultipleObjects (bare reader)", wakeBare, "SetEvent to the waiter running");
  Step("wake: MsgWaitForMultipleObjects, STA (worker)", wakeTool, "the same, as the worker waits");

  // The mailslot: a 44-byte record waiting before each timed call.
  const wchar_t kSlot[] = L"\\\\.\\mailslot\\mantlet_latency_steps";
  HANDLE slot = CreateMailslotW(kSlot, 0, 500, nullptr);
  HANDLE writer = CreateFileW(kSlot, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  uint8_t record[44] = {10};
  auto put = [&] {
    DWORD written = 0;
    WriteFile(writer, record, sizeof(record), &written, nullptr);
  };
  auto drain = [&] {
    uint8_t buffer[64];
    DWORD next = 0, read = 0;
    while (GetMailslotInfo(slot, nullptr, &next, nullptr, nullptr) && next != MAILSLOT_NO_MESSAGE)
      ReadFile(slot, buffer, sizeof(buffer), &read, nullptr);
  };
  const auto zeroRead = Time([&] { drain(), put(); },
                             [&] {
                               DWORD read = 0;
                               ReadFile(slot, nullptr, 0, &read, nullptr);
                             });
  const auto slotInfo = Time([&] { drain(), put(); },
                             [&] {
                               DWORD next = 0;
                               GetMailslotInfo(slot, nullptr, &next, nullptr, nullptr);
                             });
  const auto recordRead = Time([&] { drain(), put(); },
                               [&] {
                                 uint8_t buffer[44];
                                 DWORD read = 0;
                                 ReadFile(slot, buffer, sizeof(buffer), &read, nullptr);
                               });
  drain();
  CloseHandle(writer);
  CloseHandle(slot);
  Step("mailslot: ReadFile of 0 bytes", zeroRead, "the worker's first look (Wine: fails at once)");
  Step("mailslot: GetMailslotInfo", slotInfo, "next message size");
  Step("mailslot: ReadFile of the record", recordRead, "44 bytes");

  // The log line of command 10, taken apart.
  char line[mantlet::kLogLineBufferSize];
  const size_t length = Format(line, kLineFormat, 1, 1, 1);
  Step("log: GetLocalTime", Time([] {
         SYSTEMTIME t;
         GetLocalTime(&t);
       }),
       "the stamp");
  Step("log: line formatted", Time([&] { Format(line, kLineFormat, 1, 1, 1); }),
       "stamp, ids and text");
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring logPath = std::wstring(windows) + L"\\Logs\\corvane.log";
  mantlet::LogFileWriter(line, length);  // the log file exists from here on
  HANDLE file = CreateFileW(logPath.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  Step("log: WriteFile append", Time([&] {
         OVERLAPPED atEnd = {};
         atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
         DWORD written = 0;
         WriteFile(file, line, static_cast<DWORD>(length), &written, &atEnd);
       }),
       "the file writer's append");
  Step("log: file identity check", Time([&] {
         HANDLE probe = CreateFileW(logPath.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
         BY_HANDLE_FILE_INFORMATION a, b;
         GetFileInformationByHandle(probe, &a);
         CloseHandle(probe);
         GetFileInformationByHandle(file, &b);
       }),
       "open, two queries, close: at most once a second");
  // Its parts: under Wine the query asks the mount manager, in another
  // process, for the volume's serial number.
  Step("log: identity check, open and close", Time([&] {
         CloseHandle(CreateFileW(logPath.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
       }),
       "the probe handle");
  Step("log: identity check, one GetFileInformationByHandle", Time([&] {
         BY_HANDLE_FILE_INFORMATION b;
         GetFileInformationByHandle(file, &b);
       }),
       "volume serial and file index");
  CloseHandle(file);
  Step("log: standard error echo", Time([&] { _write(2, line, static_cast<unsigned>(length)); }),
       "descriptor 2, as the host's is here");
  Step("log: OutputDebugStringA", Time([&] { OutputDebugStringA(line); }),
       "Wine raises an exception per line");
  Step("log: file writer hook", Time([&] { mantlet::LogFileWriter(line, length); }),
       "identity check, append and echo");

  uint32_t words[6];
  auto probe = [&] {
    words[0] = words[1] = 0x5F9E652;
    words[2] = words[3] = words[4] = words[5] = 0;
    mantlet::HypercallProbe(words);
  };
  auto forward = [&] {
    mantlet::SendHostLogLine(mantlet::SystemHostCallPort(), nullptr, line, length);
  };
  auto logWrite = [] { MLOG(mantlet::kLogInfo, "KBDLAYOUT", kLineFormat, 1, 1, 1); };
  std::vector<double> wholeLine[2];
  for (const char* hv : {"off", "on"}) {
    Hypervisor(hv);
    const bool on = hv[1] == 'n';
    wholeLine[on] = Time(logWrite);
    Step(on ? "host call: probe, emulated" : "host call: probe fault, no hypervisor", Time(probe),
         on ? "one trapped call" : "the fault answered by the guard");
    Step(on ? "host call: log line sent, emulated" : "host call: log line sent, no hypervisor",
         Time(forward),
         on ? "probe, buffer allocated and locked, 2 chunks, all trapped" : "the probe alone");
    Step(on ? "log: whole line, emulated hypervisor" : "log: whole line, no hypervisor",
         wholeLine[on], "LogWrite: format, forwarder, file writer, debug output");
  }
  Hypervisor("off");

  // The handler of command 10 and the request it makes.
  HKEY layout = nullptr;
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Keyboard Layout", 0, KEY_READ, &layout);
  const auto toggleOpen = Time([&] {
    HKEY toggle = nullptr;
    if (RegOpenKeyExW(layout, L"Toggle", 0, KEY_READ, &toggle) == ERROR_SUCCESS)
      RegCloseKey(toggle);
  });
  Step("hotkeys: open Toggle key", toggleOpen, "absent for the current user here");
  RegCloseKey(layout);
  HANDLE device =
      CreateFileW(L"\\\\.\\cvn_tg", GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  const auto request = Time([&] {
    std::vector<uint8_t> block =
        mantlet::EncodeTwoWordReport(mantlet::kKeyboardHotkeysReport, 1, 2);
    DWORD returned = 0;
    DeviceIoControl(device, mantlet::kToolsDeviceIoControl, block.data(),
                    static_cast<DWORD>(block.size()), block.data(),
                    static_cast<DWORD>(block.size()), &returned, nullptr);
  });
  CloseHandle(device);
  Step("device: request 0x8501", request, "to the stand-in and back");

  std::vector<double> handler[2], silent;
  {
    mantlet::CKeyboardLayout keyboard;
    if (!keyboard.Start()) {
      fprintf(stderr, "latency steps: the hotkeys component did not start\n");
      return 1;
    }
    for (int on = 0; on < 2; ++on) {
      Hypervisor(on ? "on" : "off");
      handler[on] = Time([&] {
        keyboard.CheckCurrentHotkey(mantlet::LastSentPair::kForget,
                                    mantlet::LayoutKey::kCurrentUser);
      });
    }
    Hypervisor("off");
    // The same with no line logged: what the check costs without its log.
    mantlet::g_logLevel = -1;
    silent = Time([&] {
      keyboard.CheckCurrentHotkey(mantlet::LastSentPair::kForget, mantlet::LayoutKey::kCurrentUser);
    });
    mantlet::g_logLevel = mantlet::kLogInfo;
    keyboard.Stop();
  }
  Step("hotkeys: whole check, no hypervisor", handler[0],
       "log line, key open, request (lines after the request included)");
  Step("hotkeys: whole check, emulated hypervisor", handler[1], "the same with every call trapped");
  Step("hotkeys: whole check, nothing logged", silent,
       "log level below every line, for comparison");

  // Up to the request: the check's first line, the key, the request; the
  // line the check logs after its request is not in the latency.
  const double bare = Median(wakeBare) + Median(slotInfo) + Median(recordRead) + Median(request);
  // Under Wine the worker's zero-byte read fails at once and the size is
  // asked for once.
  const double reading =
      Median(wakeTool) + Median(zeroRead) + Median(slotInfo) + Median(recordRead);
  for (int on = 0; on < 2; ++on) {
    printf("STEP sum, tool, %s | %.1f us | | wake, 0-byte read, size, read, line, key, request\n",
           on ? "emulated hypervisor" : "no hypervisor",
           reading + Median(wholeLine[on]) + Median(toggleOpen) + Median(request));
  }
  printf("STEP sum, bare reader | %.1f us | | wake, size, read, request\n", bare);
  return 0;
}
