// Lines per second through LogWrite into the log file with the host log
// forwarder installed, (a) with no hypervisor, where every line's probe
// faults and the guard answers, and (b) with the host stand-in's emulated
// hypervisor receiving every line; both against raw WriteFile appends of
// lines of the same length, measured in the same run. Standard error (the
// log's echo) goes to NUL so that the figures are about the file and the
// channel. Prints "BENCH" lines: what | figure | baseline | ratio | note.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/host_announce.h"
#include "core/hypercall.h"
#include "core/log.h"
#include "hypervisor_emulator.h"

namespace {

constexpr DWORD kRoundMs = 1000;
constexpr int kRounds = 3;
// The payload of each line; LogWrite adds its time stamp and identifiers.
constexpr char kText[] = "Mantlet's going to handle ToggleTaskbarCommand (throughput run)";

void Quiet(const char*, ...) {}

double Now() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// Lines per second of `write` over one round.
template <typename Fn>
double Rate(Fn&& write) {
  const double start = Now();
  long lines = 0;
  double elapsed = 0;
  do {
    for (int i = 0; i < 64; ++i)
      write();
    lines += 64;
    elapsed = Now() - start;
  } while (elapsed * 1000 < kRoundMs);
  return lines / elapsed;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Hypervisor(const char* state) {
  testenv::HypervisorCommand("hv", state, &Quiet);
}

// Same length and the same file-append call as the log's file writer.
struct RawAppender {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string line;
  void Write() {
    OVERLAPPED atEnd = {};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, &atEnd);
  }
};

void Report(const char* what, double figure, double baseline, const char* aim) {
  printf("BENCH %s | %.0f lines/s | %.0f lines/s raw WriteFile | %.3fx | %s\n", what, figure,
         baseline, figure / baseline, aim);
}

}  // namespace

int main() {
  // The log echoes every line to descriptor 2; that write is not the subject.
  const int nul = _open("NUL", _O_WRONLY);
  if (nul >= 0)
    _dup2(nul, 2);

  testenv::InstallHypervisorEmulator();  // first in the chain, as in the host stand-in
  mantlet::InstallHostCallGuard();

  // A sample line of the exact length the log writes.
  std::string sample;
  {
    char stamp[] = "12-05 19:46:32.951 I MANTLETDLL /Mantlet:";
    char ids[64];
    snprintf(ids, sizeof(ids), "%lu:%lx/ ", GetCurrentProcessId(), GetCurrentThreadId());
    sample = std::string(stamp) + ids + kText + "\n";
  }
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring rawPath = std::wstring(windows) + L"\\Logs\\logthroughput-raw.log";
  RawAppender raw;
  raw.line = sample;
  raw.file = CreateFileW(rawPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw.file == INVALID_HANDLE_VALUE) {
    fprintf(stdout, "cannot create %ls\n", rawPath.c_str());
    return 1;
  }

  auto logLine = [] {
    mantlet::LogWrite("BENCH", mantlet::kModuleName, mantlet::kLogInfo, "%s", kText);
  };
  std::vector<double> rawRates, fileOnly, noHypervisor, emulated;
  // File writer alone first, then with the forwarder in front of it.
  for (int round = 0; round < kRounds; ++round) {
    rawRates.push_back(Rate([&] { raw.Write(); }));
    fileOnly.push_back(Rate(logLine));
  }
  mantlet::InstallHostLogForwarder();
  for (int round = 0; round < kRounds; ++round) {
    rawRates.push_back(Rate([&] { raw.Write(); }));
    Hypervisor("off");
    noHypervisor.push_back(Rate(logLine));
    Hypervisor("on");
    emulated.push_back(Rate(logLine));
  }

  // The probe alone: one fault answered by the guard, or one emulated call.
  uint32_t words[6];
  auto probe = [&] {
    words[0] = words[1] = 0x5F9E652;
    words[2] = words[3] = words[4] = words[5] = 0;
    mantlet::HypercallProbe(words);
  };
  Hypervisor("off");
  const double faultingProbes = Median({Rate(probe), Rate(probe), Rate(probe)});
  Hypervisor("on");
  const double emulatedProbes = Median({Rate(probe), Rate(probe), Rate(probe)});

  CloseHandle(raw.file);
  DeleteFileW(rawPath.c_str());

  const double baseline = Median(rawRates);
  printf("line length %zu bytes; median of %d rounds of %lu ms each\n", sample.size(), kRounds,
         kRoundMs);
  // No figure was set as an aim: each line's cost is fixed by what it must do
  // (one probe; with the hypervisor, probe, locked buffer and two chunks).
  Report("log throughput, file writer alone (reference)", Median(fileOnly), baseline,
         "none set: one debug-output exception a line");
  Report("log throughput, no hypervisor", Median(noHypervisor), baseline,
         "none set: + one probe fault a line");
  Report("log throughput, emulated hypervisor", Median(emulated), baseline,
         "none set: + probe and 2 chunks trapped");
  printf("probe without a hypervisor %.1f us, emulated %.1f us; raw append %.1f us\n",
         1e6 / faultingProbes, 1e6 / emulatedProbes, 1e6 / baseline);
  return 0;
}
