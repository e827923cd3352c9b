// CPU time of the host process while the tool idles: the taskbar watcher's
// pass a second and the worker's waits, with the shell stand-in's windows to
// look at. One run: 30 s with the tool started (after a settling pass), then
// 30 s of the same process with the tool stopped, as the baseline.
//   idlecpu_bench [seconds]     default 30
// Prints the CPU percentage of one core for both and their difference (the
// ratio means little against a baseline that is often 0).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_report.h"
#include "host_process.h"
#include "shell_control.h"
#include "toolsdev_client.h"

namespace {

// The host stand-in reads its own CPU time: under Wine, GetProcessTimes on
// another process misses the time of its running threads.
unsigned long long CpuTime100ns(testenv::HostProcess& host) {
  const std::string answer = host.Call("cputime");
  return strtoull(answer.c_str() + answer.find('=') + 1, nullptr, 10);
}

// CPU percent of one core used by the host over `seconds` of wall time.
double Measure(testenv::HostProcess& host, DWORD seconds) {
  const unsigned long long cpu0 = CpuTime100ns(host);
  const ULONGLONG wall0 = GetTickCount64();
  Sleep(seconds * 1000);
  const unsigned long long cpu = CpuTime100ns(host) - cpu0;
  const ULONGLONG wallMs = GetTickCount64() - wall0;
  return 100.0 * (static_cast<double>(cpu) / 10000.0) / static_cast<double>(wallMs);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const DWORD seconds = argc >= 2 ? wcstoul(argv[1], nullptr, 10) : 30;
  testenv::ToolsDevControl device;
  if (!device.Open()) {
    fprintf(stderr, "idlecpu: the tools device stand-in is not running\n");
    return 3;
  }
  device.Reset();
  testenv::ShellStandIn shell;
  if (!shell.Launch()) {
    fprintf(stderr, "idlecpu: the shell stand-in did not start\n");
    return 3;
  }
  testenv::HostProcess host;
  if (host.Launch() != "load=ok" || host.Call("start") != "StartTool=0") {
    fprintf(stderr, "idlecpu: the tool did not start in the host stand-in\n");
    return 3;
  }
  // Let the start settle: first watcher pass and report, first host wait.
  Sleep(3000);
  const double started = Measure(host, seconds);
  const size_t reports = device.Records(0, 0x8500).size();
  if (host.Call("stop") != "StopTool=0") {
    fprintf(stderr, "idlecpu: the tool did not stop\n");
    return 3;
  }
  Sleep(1000);
  const double stopped = Measure(host, seconds);
  host.Close();
  shell.Close();

  printf("tool started, idle: %.3f %% of one core (%zu state report(s) sent); stopped: %.3f %%\n",
         started, reports, stopped);
  // Wine counts process CPU time in 10 ms ticks: one tick in 30 s is 0.033 %.
  char what[96], figure[64], baseline[64], ratio[64], aim[64];
  snprintf(what, sizeof(what), "idle CPU over %lu s, tool started (%% of one core)", seconds);
  snprintf(figure, sizeof(figure), "%.3f %%", started);
  snprintf(baseline, sizeof(baseline), "%.3f %% tool stopped", stopped);
  snprintf(ratio, sizeof(ratio), "%+.3f points", started - stopped);
  snprintf(aim, sizeof(aim), "at most 0.5 points above: %s",
           started - stopped <= 0.5 ? "met" : "MISSED");
  bench::Report(what, figure, baseline, ratio, aim);
  return 0;
}
