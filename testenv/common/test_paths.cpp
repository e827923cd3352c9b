#include "test_paths.h"

#include <windows.h>

namespace testenv {

std::wstring BinDir() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::wstring BinPath(const wchar_t* name) {
  return BinDir() + L"\\" + name;
}

std::wstring ModulePath() {
  return BinPath(L"Mantlet.dll");
}

std::wstring LogFilePath() {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Logs\\corvane.log";
}

}  // namespace testenv
