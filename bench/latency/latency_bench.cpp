// Command latency: from a record written and the event signalled to the
// device request it causes, as the tools device stand-in sees it (both ends
// read the same performance counter). Command 10 makes the tool read the
// hotkeys and report them (request 0x8501) every time. The baseline is a bare
// reader that only waits, reads and sends one request.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_report.h"
#include "host_process.h"
#include "test_paths.h"
#include "tool_channel.h"
#include "toolsdev_client.h"
#include "wait_until.h"

namespace {

constexpr uint32_t kHotkeysReport = 0x8501;

// Microseconds from each send to the device's record of the request it caused.
std::vector<double> Measure(testenv::ToolsDevControl& device, int count, int32_t command) {
  std::vector<double> samples;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const testenv::Bytes record = testenv::Record(command, 0);
  for (int i = 0; i < count; ++i) {
    const auto stats = device.Stats();
    const uint32_t after = stats ? stats->lastSeq : 0;
    LARGE_INTEGER sent;
    QueryPerformanceCounter(&sent);
    if (!testenv::SendRecord(record))
      break;
    const auto seen = device.WaitForRecord(kHotkeysReport, after, 5000);
    if (!seen) {
      fprintf(stderr, "latency: no request for record %d\n", i);
      break;
    }
    samples.push_back(static_cast<double>(seen->qpc - sent.QuadPart) * 1e6 /
                      static_cast<double>(frequency.QuadPart));
    Sleep(2);  // let both sides settle into their waits, as between real commands
  }
  return samples;
}

std::string Format(double value, const char* unit) {
  char text[64];
  snprintf(text, sizeof(text), "%.0f %s", value, unit);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? atoi(argv[1]) : 1000;
  testenv::ToolsDevControl device;
  if (!device.Open()) {
    fprintf(stderr, "latency: the tools device stand-in is not running\n");
    return 1;
  }
  device.Reset();

  // Baseline: the bare reader.
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION reader = {};
  std::wstring readerPath = testenv::BinPath(L"bare_reader.exe");
  if (!CreateProcessW(readerPath.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &reader)) {
    fprintf(stderr, "latency: cannot start the bare reader\n");
    return 1;
  }
  testenv::WaitUntil([] { return testenv::MailslotExists(); }, 10000);
  const std::vector<double> bare = Measure(device, count, 10);
  testenv::SendRecord(testenv::Record(99, 0));
  WaitForSingleObject(reader.hProcess, 10000);
  CloseHandle(reader.hProcess);
  CloseHandle(reader.hThread);

  // The tool.
  testenv::HostProcess host;
  const char* hv = getenv("LATENCY_HV");
  if (host.Launch() != "load=ok" || (hv && host.Call(std::string("hv ") + hv).empty()) ||
      host.CallForInt("start") != 0) {
    fprintf(stderr, "latency: the tool did not start\n");
    return 1;
  }
  Sleep(1500);  // the start's own reports and the first shortcut refresh pass
  const std::vector<double> tool = Measure(device, count, 10);
  host.Call("stop");
  host.Close();

  if (bare.size() < static_cast<size_t>(count) || tool.size() < static_cast<size_t>(count)) {
    fprintf(stderr, "latency: only %zu/%zu samples\n", bare.size(), tool.size());
    return 1;
  }
  struct Figure {
    const char* name;
    double quantile;
    double aim;
  };
  for (const Figure& f : {Figure{"p50", 0.5, 1.3}, Figure{"p99", 0.99, 2.0}}) {
    const double t = bench::Quantile(tool, f.quantile), b = bench::Quantile(bare, f.quantile);
    char what[64], ratio[32], verdict[64];
    snprintf(what, sizeof(what), "command latency %s (%d commands)", f.name, count);
    snprintf(ratio, sizeof(ratio), "%.2fx", t / b);
    snprintf(verdict, sizeof(verdict), "within %.1fx: %s", f.aim,
             t / b <= f.aim ? "met" : "MISSED");
    bench::Report(what, Format(t, "us").c_str(), Format(b, "us").c_str(), ratio, verdict);
  }
  return 0;
}
