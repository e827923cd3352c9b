#include "scoped_registry.h"

namespace testsupport {

ScopedWineVersion::ScopedWineVersion(const std::wstring& executable, const std::wstring& version)
    : key_(L"Software\\Wine\\AppDefaults\\" + executable) {
  SetString(HKEY_CURRENT_USER, key_, L"Version", version);
}

ScopedWineVersion::~ScopedWineVersion() {
  RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
}

ScopedKeyReset::ScopedKeyReset(HKEY root, const std::wstring& path) : root_(root), path_(path) {
  RegDeleteTreeW(root_, path_.c_str());
}

ScopedKeyReset::~ScopedKeyReset() {
  RegDeleteTreeW(root_, path_.c_str());
}

bool SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
  return RegSetKeyValueW(root, path.c_str(), name, REG_DWORD, &value, sizeof(value)) ==
         ERROR_SUCCESS;
}

bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
               REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result =
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool GetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* value) {
  DWORD data = 0, size = sizeof(data), type = 0;
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_ANY, &type, &data, &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return false;
  }
  *value = data;
  return true;
}

bool ValueExists(HKEY root, const std::wstring& path, const wchar_t* name) {
  return RegGetValueW(root, path.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

void DeleteValue(HKEY root, const std::wstring& path, const wchar_t* name) {
  RegDeleteKeyValueW(root, path.c_str(), name);
}

}  // namespace testsupport
