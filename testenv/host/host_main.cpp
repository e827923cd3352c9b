// Stand-in for the guest tools' user-side host process. Loads Mantlet.dll by
// path, exports VConfigGetOption, and calls the module's entry points when a
// test tells it to over stdin, one command per line, answering on stdout.
// The main thread owns a top-level window (hidden unless asked for) and
// pumps window messages between commands, as a host's UI thread does.
//
// The host may call the entry points from any of its threads, one at a time;
// the test chooses which ("calls", or --calls at launch):
//   fresh  a new thread for each call, which never initialises COM and ends
//          after the call; the main thread pumps meanwhile (the default: the
//          least a host promises)
//   com    one long-lived thread that initialised COM as a single-threaded
//          apartment and pumps its messages between calls
//   main   the main thread itself, which takes no message while it is inside
//          the entry point
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
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

// ---- the thread that calls the entry points ----

enum class Caller { kFresh, kCom, kMain };

const char* CallerName(Caller caller) {
  switch (caller) {
    case Caller::kCom:
      return "com";
    case Caller::kMain:
      return "main";
    default:
      return "fresh";
  }
}

bool ParseCaller(const std::string& word, Caller* caller) {
  for (Caller c : {Caller::kFresh, Caller::kCom, Caller::kMain}) {
    if (word == CallerName(c)) {
      *caller = c;
      return true;
    }
  }
  return false;
}

// Main thread only.
Caller g_caller = Caller::kFresh;
HWND g_window = nullptr;

// Waits on the main thread for `handle` while taking its messages: the main
// thread is not inside an entry point while another thread makes the call.
void WaitPumping(HANDLE handle) {
  for (;;) {
    if (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0 + 1)
      return;
    PumpThreadMessages();
  }
}

using EntryCall = std::function<int()>;

DWORD WINAPI FreshCallMain(void* call) {
  return static_cast<DWORD>((*static_cast<EntryCall*>(call))());
}

// The long-lived COM thread: one call at a time, handed over through the
// two events (the main thread waits for `done` before it touches `call` again).
struct ComThread {
  HANDLE thread = nullptr;
  HANDLE work = nullptr;  // auto-reset: a call is waiting
  HANDLE done = nullptr;  // auto-reset: the call returned
  EntryCall* call = nullptr;
  int result = 0;
} g_com;

DWORD WINAPI ComThreadMain(void*) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (;;) {
    const DWORD wait = MsgWaitForMultipleObjects(1, &g_com.work, FALSE, INFINITE, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0 + 1) {
      PumpThreadMessages();
      continue;
    }
    if (wait != WAIT_OBJECT_0)
      break;
    g_com.result = (*g_com.call)();
    SetEvent(g_com.done);
  }
  if (SUCCEEDED(com))
    CoUninitialize();
  return 0;
}

// Started once, when first asked for, and kept for the process's life, as a
// host keeps its threads; "threads" counts it from then on.
bool StartComThread() {
  if (g_com.thread != nullptr)
    return true;
  g_com.work = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_com.done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (g_com.work && g_com.done)
    g_com.thread = CreateThread(nullptr, 0, &ComThreadMain, nullptr, 0, nullptr);
  return g_com.thread != nullptr;
}

int CallEntry(EntryCall call) {
  switch (g_caller) {
    case Caller::kMain:
      return call();
    case Caller::kCom:
      g_com.call = &call;
      SetEvent(g_com.work);
      WaitPumping(g_com.done);
      return g_com.result;
    default: {
      HANDLE thread = CreateThread(nullptr, 0, &FreshCallMain, &call, 0, nullptr);
      if (thread == nullptr)
        return call();  // no thread to be had: the main thread makes the call
      WaitPumping(thread);
      DWORD result = 0;
      GetExitCodeThread(thread, &result);
      CloseHandle(thread);
      return static_cast<int>(result);
    }
  }
}

bool SetCaller(const std::string& word) {
  Caller caller;
  if (!ParseCaller(word, &caller) || (caller == Caller::kCom && !StartComThread()))
    return false;
  g_caller = caller;
  return true;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// A host's UI thread owns a window: broadcasts (WM_SETTINGCHANGE and the
// like) reach the main thread through it.
void CreateHostWindow(bool visible) {
  WNDCLASSEXW c = {};
  c.cbSize = sizeof(c);
  c.lpfnWndProc = HostWindowProc;
  c.hInstance = GetModuleHandleW(nullptr);
  c.lpszClassName = L"MantletHostStandIn";
  RegisterClassExW(&c);
  g_window = CreateWindowExW(0, c.lpszClassName, L"Mantlet host", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                             200, nullptr, nullptr, c.hInstance, nullptr);
  if (visible && g_window != nullptr)
    ShowWindow(g_window, SW_SHOWNOACTIVATE);
}

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
    ConsoleReply(loaded ? "StartTool=%d" : "StartTool=unloaded",
                 loaded ? CallEntry([] { return g_module.start(); }) : 0);
  } else if (v == "stop") {
    ConsoleReply(loaded ? "StopTool=%d" : "StopTool=unloaded",
                 loaded ? CallEntry([] { return g_module.stop(); }) : 0);
  } else if (v == "notify") {
    const int n = sscanf(rest, "%lu %lu", &a, &b);
    const uint32_t code = a, arg = n == 2 ? b : 0;
    ConsoleReply(loaded ? "NotifyTool=%d" : "NotifyTool=unloaded",
                 loaded && n >= 1 ? CallEntry([=] { return g_module.notify(code, arg); }) : 0);
  } else if (v == "vconfig") {
    sscanf(rest, "%lu", &a);
    const uint32_t arg = a;
    ConsoleReply(loaded ? "VConfigChanged=%d" : "VConfigChanged=unloaded",
                 loaded ? CallEntry([=] { return g_module.vconfig(arg); }) : 0);
  } else if (v == "calls") {
    if (sscanf(rest, "%63s", word) == 1 && !SetCaller(word))
      ConsoleReply("calls=usage");
    else
      ConsoleReply("calls=%s", CallerName(g_caller));
  } else if (v == "window") {
    if (sscanf(rest, "%63s", word) == 1 && g_window != nullptr)
      ShowWindow(g_window, strcmp(word, "show") == 0 ? SW_SHOWNOACTIVATE : SW_HIDE);
    ConsoleReply("window=%s", IsWindowVisible(g_window) ? "shown" : "hidden");
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
    fprintf(stderr,
            "usage: mantlet_host <path to Mantlet.dll> [--no-load] [--calls fresh|com|main] "
            "[--window shown]\n");
    return 2;
  }
  g_modulePath = argv[1];
  bool loadNow = true, windowShown = false;
  for (int i = 2; i < argc; ++i) {
    const std::wstring arg = argv[i];
    std::string value;  // the option's word, plain ASCII
    for (const wchar_t* c = i + 1 < argc ? argv[i + 1] : L""; *c != 0; ++c)
      value += static_cast<char>(*c);
    if (arg == L"--no-load") {
      loadNow = false;
    } else if (arg == L"--calls" && SetCaller(value)) {
      ++i;
    } else if (arg == L"--window" && !value.empty()) {
      windowShown = value == "shown";
      ++i;
    }
  }
  CreateHostWindow(windowShown);
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
