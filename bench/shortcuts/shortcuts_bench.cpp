// Times the Links-folder refresh for 10, 100 and 1000 marked shares whose
// shortcuts are all in the folder, against a baseline measured in the same
// run: loading the same shortcut files with IShellLinkW and nothing else.
//
// Under Wine a shortcut's tag cannot be read back, so the refresh cannot see
// its own shortcuts and writes every one again under a numbered name. The
// table therefore also times the folder scan alone (every shortcut loaded
// and its tag and target asked for), which is the whole of a steady-state
// refresh on Windows apart from the share-list request.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bench_report.h"
#include "core/device_request.h"
#include "sharemapping/host_share_list.h"
#include "sharemapping/share_shortcuts.h"
#include "sharemapping/shortcut_folder.h"
#include "links_folder.h"
#include "toolsdev_client.h"

namespace {

namespace fs = std::filesystem;
using Microsoft::WRL::ComPtr;

double NowMs() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::set<fs::path> Files(const fs::path& folder) {
  std::set<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files.insert(entry.path());
  return files;
}

void Empty(const fs::path& folder) {
  for (const fs::path& file : Files(folder))
    fs::remove(file);
}

std::vector<mantlet::HostShare> Shares(int count) {
  std::vector<mantlet::HostShare> shares;
  for (int i = 0; i < count; ++i) {
    const std::string name = "Host share " + std::to_string(i);
    shares.push_back({std::u16string(name.begin(), name.end()), mantlet::kShareWantsShortcut,
                      static_cast<uint16_t>(1 + i % 4)});
  }
  return shares;
}

std::vector<uint8_t> ShareList(const std::vector<mantlet::HostShare>& shares) {
  std::vector<testenv::HostShareEntry> entries;
  for (const mantlet::HostShare& s : shares)
    entries.push_back({s.flags, s.kind, std::string(s.name.begin(), s.name.end())});  // ASCII
  return testenv::EncodeHostShares(entries);
}

double LoadAll(const std::set<fs::path>& files) {
  const double start = NowMs();
  for (const fs::path& file : files) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&persist)) || FAILED(persist->Load(file.c_str(), STGM_READ))) {
      fprintf(stderr, "cannot load %ls\n", file.c_str());
    }
  }
  return NowMs() - start;
}

}  // namespace

int main() {
  CoInitialize(nullptr);
  testenv::ToolsDevControl device;
  testenv::DescriptorCopier copier;
  if (!device.Open() || !device.Reset() || !copier.Start()) {
    fprintf(stderr, "the tools device stand-in is not running (wineenv.sh up first)\n");
    return 2;
  }
  PWSTR path = nullptr;
  SHGetKnownFolderPath(FOLDERID_Links, 0, nullptr, &path);
  const fs::path links = path;
  const std::u16string folder(reinterpret_cast<const char16_t*>(path));
  CoTaskMemFree(path);
  testenv::DevResponse platform;
  platform.patchOffset = 36;
  platform.patch = {34, 0, 0, 0};
  device.SetResponse(mantlet::kHostPlatformCodeRequest, platform, false);

  printf("Links-folder refresh with every shortcut present (Wine 8; median of the runs)\n");
  printf("%6s %14s %14s %16s %10s %10s\n", "shares", "refresh/share", "scan/share",
         "baseline/share", "refresh/bl", "scan/bl");
  double perShare[3][3] = {};
  const int counts[] = {10, 100, 1000};
  for (int c = 0; c < 3; ++c) {
    const int n = counts[c];
    const int runs = n >= 1000 ? 3 : n >= 100 ? 7 : 21;
    const std::vector<mantlet::HostShare> shares = Shares(n);
    testenv::DevResponse list;
    list.hasDescriptorData = true;
    list.descriptorData = ShareList(shares);
    list.tooSmallStatus = mantlet::kDeviceStatusBufferTooSmall;
    device.SetResponse(mantlet::kHostShareListRequest, list, false);

    Empty(links);
    mantlet::RefreshShareShortcuts();  // the steady state: one shortcut per share
    const std::set<fs::path> present = Files(links);
    if (present.size() != static_cast<size_t>(n)) {
      fprintf(stderr, "expected %d shortcuts, found %zu\n", n, present.size());
      return 1;
    }

    std::vector<double> refresh, scan, baseline;
    for (int r = 0; r < runs; ++r) {
      double start = NowMs();
      mantlet::RefreshShareShortcuts();
      refresh.push_back(NowMs() - start);
      // Whatever the run wrote again goes, so that every run starts alike.
      for (const fs::path& file : Files(links)) {
        if (!present.count(file))
          fs::remove(file);
      }
      start = NowMs();
      const mantlet::ShortcutFolderScan sorted = mantlet::ScanShortcutFolder(folder, shares);
      scan.push_back(NowMs() - start);
      baseline.push_back(LoadAll(present));
      if (!sorted.stale.empty())
        fprintf(stderr, "unexpected stale shortcuts\n");
    }
    perShare[c][0] = Median(refresh) / n;
    perShare[c][1] = Median(scan) / n;
    perShare[c][2] = Median(baseline) / n;
    printf("%6d %11.3f ms %11.3f ms %13.3f ms %9.1fx %9.1fx\n", n, perShare[c][0], perShare[c][1],
           perShare[c][2], perShare[c][0] / perShare[c][2], perShare[c][1] / perShare[c][2]);
  }
  const double growth[3] = {perShare[2][0] / perShare[1][0], perShare[2][1] / perShare[1][1],
                            perShare[2][2] / perShare[1][2]};
  printf(
      "growth of the time per share from 100 to 1000 shares: refresh %.2fx, scan %.2fx, "
      "baseline %.2fx\n",
      growth[0], growth[1], growth[2]);
  // The table's rows: the time per share at each size against the baseline
  // per share, and the growth from 100 to 1000 against the baseline's.
  char what[96], figure[64], baseline[64], ratio[32], aim[96];
  for (int c = 0; c < 3; ++c) {
    snprintf(what, sizeof(what), "shortcut refresh per share, %d shares: scan (Wine full refresh)",
             counts[c]);
    snprintf(figure, sizeof(figure), "%.3f ms (%.1f ms)", perShare[c][1], perShare[c][0]);
    snprintf(baseline, sizeof(baseline), "%.3f ms IShellLinkW load", perShare[c][2]);
    snprintf(ratio, sizeof(ratio), "%.2fx", perShare[c][1] / perShare[c][2]);
    bench::Report(what, figure, baseline, ratio, "see the growth row");
  }
  const double relative = growth[1] / growth[2];
  snprintf(figure, sizeof(figure), "%.2fx (%.2fx)", growth[1], growth[0]);
  snprintf(baseline, sizeof(baseline), "%.2fx IShellLinkW load", growth[2]);
  snprintf(ratio, sizeof(ratio), "%.2fx", relative);
  snprintf(aim, sizeof(aim), "linear, per share within 1.5x of the baseline's: %s",
           relative <= 1.5 ? "met" : "MISSED");
  bench::Report("shortcut refresh, growth per share 100 -> 1000: scan (Wine full refresh)", figure,
                baseline, ratio, aim);
  Empty(links);
  device.Reset();
  copier.Stop();
  CoUninitialize();
  return 0;
}
