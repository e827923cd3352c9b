#include "core/install_key.h"

#include "core/registry.h"

namespace mantlet {

std::optional<std::wstring> ReadInstallLocation(DWORD maxBytes) {
  return ReadFromInstallKey([&](HKEY key) -> std::optional<std::wstring> {
    std::wstring text;
    if (!ReadLongStringValue(key, L"InstallLocation", maxBytes, &text, TextTypes::kAnyType).found())
      return std::nullopt;
    return text;
  });
}

}  // namespace mantlet
