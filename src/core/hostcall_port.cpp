#include "core/hostcall_port.h"

#include <windows.h>

#include <cstdint>

#include "core/handles.h"
#include "core/hypercall.h"

namespace mantlet {
namespace {

#if defined(_WIN64)
using NtAllocateVirtualMemoryFn = LONG(NTAPI*)(HANDLE process, PVOID* base, ULONG_PTR zeroBits,
                                               PSIZE_T size, ULONG type, ULONG protect);

// The host reads the buffer's address from one 32-bit word, and a 64-bit
// VirtualAlloc may place memory anywhere. The native call's zero-bits
// argument of 1 asks for an address below 2 GiB, which every 64-bit Windows
// (and Wine) honours in one call, without probing the address space for a
// free range.
uint8_t* AllocateLow(uint32_t size) {
  static const NtAllocateVirtualMemoryFn allocate = LookUpProc<NtAllocateVirtualMemoryFn>(
      GetModuleHandleW(L"ntdll.dll"), "NtAllocateVirtualMemory");
  if (allocate == nullptr)
    return nullptr;
  PVOID base = nullptr;
  SIZE_T bytes = size;
  if (allocate(GetCurrentProcess(), &base, 1, &bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) <
      0) {
    return nullptr;
  }
  return static_cast<uint8_t*>(base);
}
#endif

class SystemPort final : public HostCallPort {
 public:
  void Probe(HostCallWords& words) override { HypercallProbe(words.data()); }
  void Call(HostCallWords& words) override { Hypercall(words.data()); }

  uint8_t* Allocate(uint32_t size) override {
#if defined(_WIN64)
    return AllocateLow(size);
#else
    return static_cast<uint8_t*>(
        VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
#endif
  }

  // Locked so that the hypervisor finds the buffer resident when it copies.
  bool Lock(uint8_t* buffer, uint32_t size) override {
    return VirtualLock(buffer, size) != FALSE;
  }
  bool Unlock(uint8_t* buffer, uint32_t size) override {
    return VirtualUnlock(buffer, size) != FALSE;
  }
  void Free(uint8_t* buffer, uint32_t) override {
    VirtualFree(buffer, 0, MEM_RELEASE);
  }

  uint32_t AddressWord(const uint8_t* buffer) override {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer));
  }
};

}  // namespace

HostCallPort& SystemHostCallPort() {
  static SystemPort port;
  return port;
}

}  // namespace mantlet
