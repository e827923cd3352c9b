#include "call_tripwire.h"

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <sstream>

namespace {

volatile LONG g_calls = 0;
volatile LONG g_tripAt = 0;
// One letter per call, in order (the letters are listed in call_tripwire.h).
constexpr LONG kTraceLength = 900;
char g_trace[kTraceLength + 1] = {};

void Count(char letter) {
  const LONG n = InterlockedIncrement(&g_calls);
  if (n <= kTraceLength)
    g_trace[n - 1] = letter;
  if (g_tripAt != 0 && n == g_tripAt)
    TerminateProcess(GetCurrentProcess(), 97);
}

struct Hook {
  const char* name;
  void* replacement;
  void* original;
};

template <typename Fn>
Fn Original(const Hook& hook) {
  return reinterpret_cast<Fn>(hook.original);
}

enum HookIndex {
  kRegSetValueExW,
  kRegSetValueExA,
  kRegDeleteValueW,
  kRegDeleteValueA,
  kSetSysColors,
  kSystemParametersInfoW,
  kShowWindow,
  kCoCreateInstance,
  kPostMessageW,
  kSendNotifyMessageW,
  kHookCount
};

Hook g_hooks[kHookCount];

LONG WINAPI OnRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                             DWORD size) {
  Count('S');
  return Original<decltype(&RegSetValueExW)>(g_hooks[kRegSetValueExW])(key, name, reserved, type,
                                                                       data, size);
}
LONG WINAPI OnRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                             DWORD size) {
  Count('s');
  return Original<decltype(&RegSetValueExA)>(g_hooks[kRegSetValueExA])(key, name, reserved, type,
                                                                       data, size);
}
LONG WINAPI OnRegDeleteValueW(HKEY key, LPCWSTR name) {
  Count('D');
  return Original<decltype(&RegDeleteValueW)>(g_hooks[kRegDeleteValueW])(key, name);
}
LONG WINAPI OnRegDeleteValueA(HKEY key, LPCSTR name) {
  Count('d');
  return Original<decltype(&RegDeleteValueA)>(g_hooks[kRegDeleteValueA])(key, name);
}
BOOL WINAPI OnSetSysColors(int count, const INT* elements, const COLORREF* colors) {
  Count('C');
  return Original<decltype(&SetSysColors)>(g_hooks[kSetSysColors])(count, elements, colors);
}
BOOL WINAPI OnSystemParametersInfoW(UINT action, UINT param, PVOID data, UINT winIni) {
  Count('P');
  return Original<decltype(&SystemParametersInfoW)>(g_hooks[kSystemParametersInfoW])(action, param,
                                                                                     data, winIni);
}
BOOL WINAPI OnShowWindow(HWND window, int show) {
  Count('W');
  return Original<decltype(&ShowWindow)>(g_hooks[kShowWindow])(window, show);
}
HRESULT WINAPI OnCoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                  LPVOID* object) {
  Count('O');
  return Original<decltype(&CoCreateInstance)>(g_hooks[kCoCreateInstance])(clsid, outer, context,
                                                                           iid, object);
}
BOOL WINAPI OnPostMessageW(HWND window, UINT message, WPARAM w, LPARAM l) {
  Count('M');
  return Original<decltype(&PostMessageW)>(g_hooks[kPostMessageW])(window, message, w, l);
}
BOOL WINAPI OnSendNotifyMessageW(HWND window, UINT message, WPARAM w, LPARAM l) {
  Count('N');
  return Original<decltype(&SendNotifyMessageW)>(g_hooks[kSendNotifyMessageW])(window, message, w,
                                                                               l);
}

void DefineHooks() {
  g_hooks[kRegSetValueExW] = {"RegSetValueExW", reinterpret_cast<void*>(&OnRegSetValueExW)};
  g_hooks[kRegSetValueExA] = {"RegSetValueExA", reinterpret_cast<void*>(&OnRegSetValueExA)};
  g_hooks[kRegDeleteValueW] = {"RegDeleteValueW", reinterpret_cast<void*>(&OnRegDeleteValueW)};
  g_hooks[kRegDeleteValueA] = {"RegDeleteValueA", reinterpret_cast<void*>(&OnRegDeleteValueA)};
  g_hooks[kSetSysColors] = {"SetSysColors", reinterpret_cast<void*>(&OnSetSysColors)};
  g_hooks[kSystemParametersInfoW] = {"SystemParametersInfoW",
                                     reinterpret_cast<void*>(&OnSystemParametersInfoW)};
  g_hooks[kShowWindow] = {"ShowWindow", reinterpret_cast<void*>(&OnShowWindow)};
  g_hooks[kCoCreateInstance] = {"CoCreateInstance", reinterpret_cast<void*>(&OnCoCreateInstance)};
  g_hooks[kPostMessageW] = {"PostMessageW", reinterpret_cast<void*>(&OnPostMessageW)};
  g_hooks[kSendNotifyMessageW] = {"SendNotifyMessageW",
                                  reinterpret_cast<void*>(&OnSendNotifyMessageW)};
}

// Points the module's import slots of the hooked functions at the
// forwarders; returns how many slots were changed.
int PatchImports(HMODULE module) {
  BYTE* const base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0)
    return 0;
  int patched = 0;
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    const DWORD namesRva =
        library->OriginalFirstThunk != 0 ? library->OriginalFirstThunk : library->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesRva);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
        continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      for (Hook& hook : g_hooks) {
        if (strcmp(reinterpret_cast<const char*>(byName->Name), hook.name) != 0)
          continue;
        DWORD protection = 0;
        VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                       &protection);
        hook.original = reinterpret_cast<void*>(slots->u1.Function);
        slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook.replacement);
        VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection, &protection);
        ++patched;
      }
    }
  }
  return patched;
}

int g_patched = -1;

}  // namespace

bool TripwireCommand(const std::string& rest, HostReplyFn reply) {
  std::istringstream in(rest);
  std::string what;
  in >> what;
  if (what == "arm") {
    long at = 0;
    in >> at;
    HMODULE module = GetModuleHandleW(L"Mantlet.dll");
    if (module == nullptr) {
      reply("tripwire=no-module");
      return true;
    }
    if (g_patched < 0) {
      DefineHooks();
      g_patched = PatchImports(module);
    }
    InterlockedExchange(&g_calls, 0);
    memset(g_trace, 0, sizeof(g_trace));
    InterlockedExchange(&g_tripAt, at);
    reply("tripwire=armed %d", g_patched);
  } else if (what == "calls") {
    const LONG calls = g_calls;
    const std::string trace(g_trace,
                            static_cast<size_t>(calls < kTraceLength ? calls : kTraceLength));
    reply("tripwire=%ld %s", calls, trace.c_str());
  } else {
    reply("tripwire=usage");
  }
  return true;
}
