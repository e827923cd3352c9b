#include "import_swap.h"

#include <cstring>

namespace testsupport {
namespace {

void Write(ULONG_PTR* slot, ULONG_PTR value) {
  DWORD protection = 0;
  if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection))
    return;
  *slot = value;
  VirtualProtect(slot, sizeof(*slot), protection, &protection);
}

}  // namespace

ScopedImportSwap::ScopedImportSwap(const char* function, const void* replacement) {
  auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0)
    return;
  for (auto* library =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       library->Name != 0; ++library) {
    // The names come from the lookup table; the address table beside it
    // holds what the loader bound them to.
    const DWORD lookup =
        library->OriginalFirstThunk != 0 ? library->OriginalFirstThunk : library->FirstThunk;
    auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + lookup);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
        continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
        continue;
      ULONG_PTR* const address = reinterpret_cast<ULONG_PTR*>(&slot->u1.Function);
      original_ = *address;
      Write(address, reinterpret_cast<ULONG_PTR>(replacement));
      slots_.push_back(address);
    }
  }
}

ScopedImportSwap::~ScopedImportSwap() {
  for (ULONG_PTR* slot : slots_)
    Write(slot, original_);
}

}  // namespace testsupport
