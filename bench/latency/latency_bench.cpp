// Command latency: from the moment the event is signalled, with the record
// already in the mailslot, to the device request it causes, as the tools
// device stand-in sees it (both ends read the same performance counter).
// Command 10 makes the tool read the hotkeys and report them (request 0x8501)
// every time. The baseline is a bare reader that only waits, reads and sends
// one request.
//
// The machine is shared, so its load drifts while the benchmark runs. The
// commands are therefore sent in rounds, each round timing the bare reader,
// then the tool with the emulated hypervisor off and on (the order of the
// two swapped every round), so that every series sees the same drift.
//   latency_bench [commands per series]      default 1000
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_report.h"
#include "core/channel_names.h"
#include "host_process.h"
#include "test_paths.h"
#include "tool_channel.h"
#include "toolsdev_client.h"
#include "wait_until.h"

namespace {

constexpr uint32_t kHotkeysReport = 0x8501;
constexpr int kRounds = 10;
// Between commands: the tool logs a line after its request and goes back to
// its wait; on a loaded machine that can take a few milliseconds, and a
// command sent before it ends would be timed with the end of the one before.
constexpr DWORD kGapMs = 5;

// Keeps the mailslot and the event open across a series, so that what is
// timed starts at the signal and none of the sender's own opening is in it.
class Sender {
 public:
  ~Sender() { Close(); }
  bool Open() {
    Close();
    slot_ = CreateFileW(mantlet::kMailslotName, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    event_ = OpenEventW(EVENT_MODIFY_STATE, FALSE, mantlet::kCommandEventName);
    return slot_ != INVALID_HANDLE_VALUE && event_ != nullptr;
  }
  void Close() {
    if (slot_ != INVALID_HANDLE_VALUE)
      CloseHandle(slot_);
    if (event_ != nullptr)
      CloseHandle(event_);
    slot_ = INVALID_HANDLE_VALUE;
    event_ = nullptr;
  }
  // Writes the record, then reads the counter and signals.
  bool Send(const testenv::Bytes& record, LARGE_INTEGER* signalled) {
    DWORD written = 0;
    if (!WriteFile(slot_, record.data(), static_cast<DWORD>(record.size()), &written, nullptr))
      return false;
    QueryPerformanceCounter(signalled);
    return SetEvent(event_) != FALSE;
  }

 private:
  HANDLE slot_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
};

// Microseconds from each signal to the device's record of the request it
// caused, appended to `samples`. False when a command got no request.
bool Measure(testenv::ToolsDevControl& device, int count, std::vector<double>& samples) {
  // The bare reader creates its mailslot before its event.
  Sender sender;
  if (!testenv::WaitUntil([&] { return sender.Open(); }, 10000)) {
    fprintf(stderr, "latency: cannot open the command channel\n");
    return false;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const testenv::Bytes record = testenv::Record(10, 0);
  for (int i = 0; i < count; ++i) {
    const auto stats = device.Stats();
    const uint32_t after = stats ? stats->lastSeq : 0;
    LARGE_INTEGER signalled;
    if (!sender.Send(record, &signalled))
      return false;
    const auto seen = device.WaitForRecord(kHotkeysReport, after, 5000);
    if (!seen) {
      fprintf(stderr, "latency: no request for command %d\n", i);
      return false;
    }
    samples.push_back(static_cast<double>(seen->qpc - signalled.QuadPart) * 1e6 /
                      static_cast<double>(frequency.QuadPart));
    Sleep(kGapMs);
  }
  return true;
}

bool MeasureBareReader(testenv::ToolsDevControl& device, int count, std::vector<double>& samples) {
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION reader = {};
  std::wstring path = testenv::BinPath(L"bare_reader.exe");
  if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &reader)) {
    fprintf(stderr, "latency: cannot start the bare reader\n");
    return false;
  }
  bool ok = testenv::WaitUntil([] { return testenv::MailslotExists(); }, 10000) &&
            Measure(device, count, samples);
  testenv::SendRecord(testenv::Record(99, 0));
  if (WaitForSingleObject(reader.hProcess, 10000) != WAIT_OBJECT_0) {
    TerminateProcess(reader.hProcess, 1);
    ok = false;
  }
  CloseHandle(reader.hProcess);
  CloseHandle(reader.hThread);
  return ok;
}

std::string Micros(double value) {
  char text[64];
  snprintf(text, sizeof(text), "%.0f us", value);
  return text;
}

void ReportSeries(const char* label, int count, const std::vector<double>& tool,
                  const std::vector<double>& bare) {
  struct Figure {
    const char* name;
    double quantile;
    double aim;
  };
  for (const Figure& f : {Figure{"p50", 0.5, 1.3}, Figure{"p99", 0.99, 2.0}}) {
    const double t = bench::Quantile(tool, f.quantile), b = bench::Quantile(bare, f.quantile);
    char what[128], ratio[32], verdict[64];
    snprintf(what, sizeof(what), "command latency %s, %s (%d commands)", f.name, label, count);
    snprintf(ratio, sizeof(ratio), "%.2fx", t / b);
    snprintf(verdict, sizeof(verdict), "within %.1fx: %s", f.aim,
             t / b <= f.aim ? "met" : "MISSED");
    bench::Report(what, Micros(t).c_str(), (Micros(b) + " bare reader").c_str(), ratio, verdict);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? atoi(argv[1]) : 1000;
  const int perRound = (count + kRounds - 1) / kRounds;
  testenv::ToolsDevControl device;
  if (!device.Open()) {
    fprintf(stderr, "latency: the tools device stand-in is not running\n");
    return 1;
  }
  device.Reset();
  testenv::HostProcess host;
  if (host.Launch() != "load=ok") {
    fprintf(stderr, "latency: the host stand-in could not load the module\n");
    return 1;
  }

  std::vector<double> bare, hvOff, hvOn;
  for (int round = 0; round < kRounds; ++round) {
    if (!MeasureBareReader(device, perRound, bare))
      return 1;
    if (host.CallForInt("start") != 0) {
      fprintf(stderr, "latency: the tool did not start\n");
      return 1;
    }
    Sleep(1500);  // the start's own reports and the first shortcut refresh pass
    for (int half = 0; half < 2; ++half) {
      const bool on = (round + half) % 2 == 1;
      if (host.Call(on ? "hv on" : "hv off").empty() ||
          !Measure(device, perRound, on ? hvOn : hvOff)) {
        return 1;
      }
    }
    if (host.CallForInt("stop") != 0) {
      fprintf(stderr, "latency: the tool did not stop\n");
      return 1;
    }
  }
  host.Close();

  for (const auto* series : {&bare, &hvOff, &hvOn}) {
    printf("%-24s p50 %6.0f  p90 %6.0f  p99 %6.0f  max %6.0f us\n",
           series == &bare    ? "bare reader"
           : series == &hvOff ? "tool, no hypervisor"
                              : "tool, emulated hypervisor",
           bench::Quantile(*series, 0.5), bench::Quantile(*series, 0.9),
           bench::Quantile(*series, 0.99), bench::Quantile(*series, 1.0));
  }
  const int total = perRound * kRounds;
  ReportSeries("no hypervisor", total, hvOff, bare);
  ReportSeries("emulated hypervisor", total, hvOn, bare);
  return 0;
}
