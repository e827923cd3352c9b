// CPU time of the host process while the tool idles: the taskbar watcher's
// pass a second and the worker's waits, with the shell stand-in's windows to
// look at. One run: 30 s with the tool started (after a settling pass), then
// 30 s of the same process with the tool stopped, as the baseline.
//   idlecpu_bench [seconds]     default 30
// Prints the CPU percentage of one core for both and their difference.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

  printf("BENCH idle CPU of the host process over %lu s (%% of one core)\n", seconds);
  printf("BENCH   tool started, idle : %6.3f %%  (%zu state report(s) sent)\n", started, reports);
  printf("BENCH   tool stopped       : %6.3f %%  (baseline)\n", stopped);
  printf("BENCH   difference         : %+6.3f %% of one core\n", started - stopped);
  printf("BENCH   (Wine counts process CPU time in 10 ms ticks: 0.033 %% is one tick in 30 s)\n");
  return 0;
}
