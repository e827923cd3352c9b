#include "entry_churn.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

using NotifyToolFn = int(WINAPI*)(uint32_t, uint32_t);
using VConfigChangedFn = int(WINAPI*)(uint32_t);

struct Churn {
  NotifyToolFn notify = nullptr;
  VConfigChangedFn vconfig = nullptr;
  std::vector<uint32_t> codes;
  HANDLE stop = nullptr;
  HANDLE thread = nullptr;
  volatile LONG calls = 0;
};

Churn g_churn;

DWORD WINAPI ChurnMain(void*) {
  while (WaitForSingleObject(g_churn.stop, 0) == WAIT_TIMEOUT) {
    for (uint32_t code : g_churn.codes) {
      g_churn.notify(code, 0);
      g_churn.vconfig(0);
      InterlockedExchangeAdd(&g_churn.calls, 2);
    }
  }
  return 0;
}

}  // namespace

bool ChurnCommand(const std::string& rest, HostReplyFn reply) {
  std::istringstream words(rest);
  std::string first;
  words >> first;
  if (first == "stop") {
    if (g_churn.thread != nullptr) {
      SetEvent(g_churn.stop);
      WaitForSingleObject(g_churn.thread, INFINITE);
      CloseHandle(g_churn.thread);
      CloseHandle(g_churn.stop);
      g_churn.thread = g_churn.stop = nullptr;
    }
    reply("churn calls=%ld", g_churn.calls);
    return true;
  }
  // The module as loaded now (the host may have unloaded and loaded it again).
  HMODULE module = GetModuleHandleW(L"Mantlet.dll");
  std::vector<uint32_t> codes;
  for (std::istringstream all(rest); all >> first;)
    codes.push_back(static_cast<uint32_t>(strtoul(first.c_str(), nullptr, 0)));
  if (module == nullptr || codes.empty() || g_churn.thread != nullptr) {
    reply("churn=refused");
    return true;
  }
  g_churn.notify =
      reinterpret_cast<NotifyToolFn>(reinterpret_cast<void*>(GetProcAddress(module, "NotifyTool")));
  g_churn.vconfig = reinterpret_cast<VConfigChangedFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "VConfigChanged")));
  g_churn.codes = codes;
  g_churn.calls = 0;
  g_churn.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_churn.thread = CreateThread(nullptr, 0, &ChurnMain, nullptr, 0, nullptr);
  reply(g_churn.thread != nullptr ? "churn=started" : "churn=refused");
  return true;
}
