#include "core/install_key.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

namespace mantlet {
namespace {

constexpr DWORD kFirstReadBytes = 128;
constexpr int kGrowRounds = 8;

std::optional<std::wstring> QueryInstallLocation(HKEY key, DWORD maxBytes) {
  std::vector<uint8_t> data(kFirstReadBytes);
  DWORD size = static_cast<DWORD>(data.size());
  LONG result = RegQueryValueExW(key, L"InstallLocation", nullptr, nullptr, data.data(), &size);
  // The value may grow between two reads; each round asks for what the
  // registry reported last, so a few rounds always settle.
  for (int round = 0; result == ERROR_MORE_DATA && size <= maxBytes && round < kGrowRounds;
       ++round) {
    data.resize(size + sizeof(wchar_t));
    size = static_cast<DWORD>(data.size());
    result = RegQueryValueExW(key, L"InstallLocation", nullptr, nullptr, data.data(), &size);
  }
  if (result != ERROR_SUCCESS || size > maxBytes)
    return std::nullopt;
  std::wstring text(size / sizeof(wchar_t), L'\0');
  memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

}  // namespace

std::optional<std::wstring> ReadInstallLocation(DWORD maxBytes) {
  return ReadFromInstallKey([&](HKEY key) { return QueryInstallLocation(key, maxBytes); });
}

}  // namespace mantlet
