// Registry state scoped to one test.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// Makes Wine report a chosen Windows version to one executable
// ("vista" = 6.0, "win7" = 6.1, "win8" = 6.2, "win2k" = 5.0, ...).
class ScopedWineVersion {
 public:
  ScopedWineVersion(const std::wstring& executable, const std::wstring& version);
  ~ScopedWineVersion();
  ScopedWineVersion(const ScopedWineVersion&) = delete;
  ScopedWineVersion& operator=(const ScopedWineVersion&) = delete;

 private:
  std::wstring key_;
};

// Deletes a registry tree now and again at the end of the scope.
class ScopedKeyReset {
 public:
  ScopedKeyReset(HKEY root, const std::wstring& path);
  ~ScopedKeyReset();
  ScopedKeyReset(const ScopedKeyReset&) = delete;
  ScopedKeyReset& operator=(const ScopedKeyReset&) = delete;

 private:
  HKEY root_;
  std::wstring path_;
};

bool SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value);
bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
               REGSAM view = 0);
// nullopt-like: returns false when the value is missing or not a DWORD.
bool GetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* value);
bool ValueExists(HKEY root, const std::wstring& path, const wchar_t* name);
void DeleteValue(HKEY root, const std::wstring& path, const wchar_t* name);

}  // namespace testsupport
