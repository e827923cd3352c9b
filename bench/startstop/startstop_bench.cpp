// StartTool/StopTool cycles as the host makes them, timed at the host's side
// of its control channel; the baseline is a bare round trip over the same
// channel ("ping"), which every timed call also pays.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_report.h"
#include "host_process.h"
#include "toolsdev_client.h"

namespace {

double Millis(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? atoi(argv[1]) : 200;
  testenv::ToolsDevControl device;
  if (device.Open())
    device.Reset();
  testenv::HostProcess host;
  if (host.Launch() != "load=ok") {
    fprintf(stderr, "startstop: the host stand-in could not load the module\n");
    return 1;
  }
  LARGE_INTEGER frequency, a, b, c;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> starts, stops, pings;
  for (int i = 0; i < cycles; ++i) {
    QueryPerformanceCounter(&a);
    host.Call("ping");
    QueryPerformanceCounter(&b);
    pings.push_back(Millis(a, b, frequency));

    QueryPerformanceCounter(&a);
    const int started = host.CallForInt("start");
    QueryPerformanceCounter(&b);
    const int stopped = host.CallForInt("stop");
    QueryPerformanceCounter(&c);
    if (started != 0 || stopped != 0) {
      fprintf(stderr, "startstop: cycle %d gave %d/%d\n", i, started, stopped);
      return 1;
    }
    starts.push_back(Millis(a, b, frequency));
    stops.push_back(Millis(b, c, frequency));
  }
  host.Close();

  char what[96], figure[64], baseline[64], ratio[32];
  const double ping50 = bench::Quantile(pings, 0.5);
  for (const auto* series : {&starts, &stops}) {
    const char* name = series == &starts ? "StartTool" : "StopTool";
    const double median = bench::Quantile(*series, 0.5);
    const double worst = bench::Quantile(*series, 1.0);
    snprintf(what, sizeof(what), "%s, %d cycles: median / worst", name, cycles);
    snprintf(figure, sizeof(figure), "%.1f / %.1f ms", median, worst);
    snprintf(baseline, sizeof(baseline), "%.2f ms round trip", ping50);
    snprintf(ratio, sizeof(ratio), "%.0fx / %.0fx", median / ping50, worst / ping50);
    bench::Report(what, figure, baseline, ratio, "none set: every cycle returns 0");
  }
  return 0;
}
