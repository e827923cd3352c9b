#include "resource_counts.h"

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// One entry of the GDI handle table: the object's kernel address, owner,
// reuse count, type, flags and user address. Wine lays it out as Windows
// does; a free entry has type 0. Wine leaves the owner's process id at 0
// (the table belongs to the process), Windows fills it in.
#pragma pack(push, 1)
struct GdiHandleEntry {
  uint64_t object;
  uint16_t processId;
  uint16_t count;
  uint16_t unique;
  uint8_t type;
  uint8_t flags;
  uint64_t userPointer;
};
#pragma pack(pop)
static_assert(sizeof(GdiHandleEntry) == 24, "x64 table entry");

// The system handle list (information class 16) as ntdll fills it.
struct SystemHandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT value;
  void* object;
  ULONG access;
};
struct SystemHandleList {
  ULONG count;
  SystemHandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

constexpr size_t kGdiHandleCount = 0x10000;
// PEB.GdiSharedHandleTable in the x64 layout.
constexpr size_t kPebGdiTableOffset = 0xF8;

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM param) {
  auto* count = reinterpret_cast<unsigned long*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId())
    ++*count;
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM param) {
  CountOwnWindow(window, param);
  EnumChildWindows(window, &CountOwnWindow, param);
  return TRUE;
}

}  // namespace

unsigned long HandleCount() {
  DWORD reported = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported != 0)
    return reported;
  std::vector<uint8_t> buffer(1 << 16);
  NTSTATUS status;
  ULONG needed = 0;
  while ((status = NtQuerySystemInformation(
              static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation), buffer.data(),
              static_cast<ULONG>(buffer.size()), &needed)) == kInfoLengthMismatch) {
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
  }
  if (status != 0)
    return 0;
  const auto* list = reinterpret_cast<const SystemHandleList*>(buffer.data());
  const DWORD self = GetCurrentProcessId();
  unsigned long count = 0;
  for (ULONG i = 0; i < list->count; ++i) {
    if (list->entries[i].ownerPid == self)
      ++count;
  }
  return count;
}

uint64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof(memory)) &&
      memory.PrivateUsage != 0) {
    return memory.PrivateUsage;
  }
  uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof(region)) == sizeof(region);
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      total += region.RegionSize;
  }
  return total;
}

uint64_t HeapBytesInUse() {
  std::vector<HANDLE> heaps(64);
  DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (count > heaps.size()) {
    heaps.resize(count);
    count = GetProcessHeaps(count, heaps.data());
  }
  uint64_t total = 0;
  for (DWORD i = 0; i < count && i < heaps.size(); ++i) {
    if (!HeapLock(heaps[i]))
      continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
        total += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return total;
}

unsigned long GdiObjectCount() {
  const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (reported != 0)
    return reported;
#if defined(_M_X64) || defined(__x86_64__)
  PROCESS_BASIC_INFORMATION basic = {};
  if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic),
                                nullptr) != 0 ||
      basic.PebBaseAddress == nullptr) {
    return 0;
  }
  const auto* peb = reinterpret_cast<const uint8_t*>(basic.PebBaseAddress);
  const GdiHandleEntry* table;
  memcpy(&table, peb + kPebGdiTableOffset, sizeof(table));
  if (table == nullptr)
    return 0;
  const uint16_t self = static_cast<uint16_t>(GetCurrentProcessId());
  unsigned long count = 0;
  for (size_t i = 0; i < kGdiHandleCount; ++i) {
    if (table[i].type != 0 && (table[i].processId == 0 || table[i].processId == self))
      ++count;
  }
  return count;
#else
  return 0;
#endif
}

unsigned long UserObjectCount() {
  const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  if (reported != 0)
    return reported;
  unsigned long count = 0;
  EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&count));
  // Message-only windows are not enumerated with the others.
  for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
       window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
    CountTopLevel(window, reinterpret_cast<LPARAM>(&count));
  }
  return count;
}
