// Stand-in for the guest tools' user-side host process. Loads Mantlet.dll by
// path, exports VConfigGetOption, and calls the module's entry points when a
// test tells it to over stdin, one command per line, answering on stdout.
// The main thread pumps window messages while it waits, as a host's UI
// thread does; entry points run on that thread.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "command_console.h"
#include "host_extensions.h"
#include "resource_counts.h"
#include "toolsdev_client.h"

namespace {

using testenv::ConsoleReply;
using testenv::PumpThreadMessages;

using StartToolFn = int(WINAPI*)();
using StopToolFn = int(WINAPI*)();
using NotifyToolFn = int(WINAPI*)(uint32_t, uint32_t);
using VConfigChangedFn = int(WINAPI*)(uint32_t);

struct Module {
  HMODULE handle = nullptr;
  StartToolFn start = nullptr;
  StopToolFn stop = nullptr;
  NotifyToolFn notify = nullptr;
  VConfigChangedFn vconfig = nullptr;
};

Module g_module;
std::wstring g_modulePath;

std::mutex g_optionsLock;
std::map<uint32_t, uint32_t> g_options;
volatile LONG g_optionCalls = 0;

template <typename Fn>
Fn Proc(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool LoadModule() {
  HMODULE handle = LoadLibraryW(g_modulePath.c_str());
  if (handle == nullptr) {
    ConsoleReply("load=fail err=%lu", GetLastError());
    return false;
  }
  g_module.handle = handle;
  g_module.start = Proc<StartToolFn>(handle, "StartTool");
  g_module.stop = Proc<StopToolFn>(handle, "StopTool");
  g_module.notify = Proc<NotifyToolFn>(handle, "NotifyTool");
  g_module.vconfig = Proc<VConfigChangedFn>(handle, "VConfigChanged");
  const bool complete = g_module.start && g_module.stop && g_module.notify && g_module.vconfig;
  ConsoleReply(complete ? "load=ok" : "load=fail missing-export");
  return complete;
}

int CountThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self)
      ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// Runs one command line; false ends the process's loop.
bool Execute(const std::string& line) {
  char verb[64] = {};
  unsigned long a = 0, b = 0;
  char word[64] = {};
  sscanf(line.c_str(), "%63s", verb);
  const char* rest = line.c_str() + strlen(verb);
  const std::string v = verb;
  const bool loaded = g_module.handle != nullptr;

  if (v.empty())
    return true;
  if (v == "ping") {
    ConsoleReply("pong");
  } else if (v == "start") {
    ConsoleReply(loaded ? "StartTool=%d" : "StartTool=unloaded", loaded ? g_module.start() : 0);
  } else if (v == "stop") {
    ConsoleReply(loaded ? "StopTool=%d" : "StopTool=unloaded", loaded ? g_module.stop() : 0);
  } else if (v == "notify") {
    const int n = sscanf(rest, "%lu %lu", &a, &b);
    ConsoleReply(loaded ? "NotifyTool=%d" : "NotifyTool=unloaded",
                 loaded && n >= 1 ? g_module.notify(a, n == 2 ? b : 0) : 0);
  } else if (v == "vconfig") {
    sscanf(rest, "%lu", &a);
    ConsoleReply(loaded ? "VConfigChanged=%d" : "VConfigChanged=unloaded",
                 loaded ? g_module.vconfig(a) : 0);
  } else if (v == "option") {
    if (sscanf(rest, "%lu %63s", &a, word) == 2) {
      std::lock_guard<std::mutex> hold(g_optionsLock);
      if (strcmp(word, "none") == 0) {
        g_options.erase(a);
      } else {
        g_options[a] = strtoul(word, nullptr, 0);
      }
      ConsoleReply("option=ok");
    } else {
      ConsoleReply("option=usage");
    }
  } else if (v == "optioncalls") {
    ConsoleReply("optioncalls=%ld", g_optionCalls);
  } else if (v == "threads") {
    ConsoleReply("threads=%d", CountThreads());
  } else if (v == "resources") {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
      return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    ConsoleReply(
        "resources handles=%lu gdi=%lu user=%lu threads=%d private=%llu cpu100ns=%llu heap=%llu",
        HandleCount(), GdiObjectCount(), UserObjectCount(), CountThreads(),
        static_cast<unsigned long long>(PrivateBytes()), ticks(kernel) + ticks(user),
        static_cast<unsigned long long>(HeapBytesInUse()));
  } else if (v == "cputime") {
    // Kernel plus user time of this process in 100 ns units. Measured here:
    // under Wine, GetProcessTimes on another process misses its running threads.
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto value = [](const FILETIME& t) {
      return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    ConsoleReply("cputime=%llu", value(kernel) + value(user));
  } else if (v == "workarea") {
    RECT r = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
    ConsoleReply("workarea=%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
  } else if (v == "unload") {
    if (loaded)
      FreeLibrary(g_module.handle);
    g_module = Module{};
    ConsoleReply("unload=ok");
  } else if (v == "load") {
    if (!loaded)
      LoadModule();
    else
      ConsoleReply("load=ok");
  } else if (v == "sleep") {
    sscanf(rest, "%lu", &a);
    const DWORD until = GetTickCount() + a;
    while (static_cast<LONG>(until - GetTickCount()) > 0) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, until - GetTickCount(), QS_ALLINPUT);
      PumpThreadMessages();
    }
    ConsoleReply("sleep=ok");
  } else if (v == "exit") {
    ConsoleReply("exit=ok");
    ExitProcess(0);
  } else if (v == "quit") {
    ConsoleReply("quit=ok");
    return false;
  } else if (!HostExtensionCommand(v, rest, &ConsoleReply)) {
    ConsoleReply("unknown=%s", verb);
  }
  return true;
}

}  // namespace

#if !defined(MANTLET_HOST_WITHOUT_OPTION_GETTER)
extern "C" __declspec(dllexport) uint32_t WINAPI
    VConfigGetOption(uint32_t optionId, void* buffer, uint32_t bufferSize) {
  InterlockedIncrement(&g_optionCalls);
  std::lock_guard<std::mutex> hold(g_optionsLock);
  auto it = g_options.find(optionId);
  if (it == g_options.end() || buffer == nullptr || bufferSize < sizeof(uint32_t))
    return 0;
  memcpy(buffer, &it->second, sizeof(uint32_t));
  return sizeof(uint32_t);
}
#endif

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: mantlet_host <path to Mantlet.dll> [--no-load]\n");
    return 2;
  }
  g_modulePath = argv[1];
  const bool loadNow = !(argc >= 3 && wcscmp(argv[2], L"--no-load") == 0);
  HostExtensionsInit(argc, argv);

  // Requests whose answers go into a caller's buffer (the share list) are
  // made from this process; the device stand-in writes them through here.
  testenv::DescriptorCopier copier;
  copier.Start();
  if (loadNow)
    LoadModule();
  testenv::RunCommandConsole(&Execute);
  copier.Stop();
  return 0;
}
