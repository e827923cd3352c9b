// Stand-in for the education application "GlimmerEdu.exe": appends one line
// about how it was started to "glimmeredu-runs.txt" next to its executable,
// then runs until something ends it.
//   pid=<id> console=<0|1> stdhandles=<count> cwd=<current folder>
// A process started with DETACHED_PROCESS has no console and, under Wine,
// no standard handles either.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder = exe;
  folder = folder.substr(0, folder.find_last_of(L'\\'));
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);

  int handles = 0;
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE h = GetStdHandle(which);
    handles += h != nullptr && h != INVALID_HANDLE_VALUE ? 1 : 0;
  }
  wchar_t line[2 * MAX_PATH];
  swprintf(line, 2 * MAX_PATH, L"pid=%lu console=%d stdhandles=%d cwd=%ls\n", GetCurrentProcessId(),
           GetConsoleWindow() != nullptr ? 1 : 0, handles, cwd);
  char utf8[4 * MAX_PATH] = {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof(utf8), nullptr, nullptr) - 1;

  const std::wstring runs = folder + L"\\glimmeredu-runs.txt";
  HANDLE file = CreateFileW(runs.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, utf8, static_cast<DWORD>(length > 0 ? length : 0), &written, nullptr);
    CloseHandle(file);
  }
  for (;;)
    Sleep(INFINITE);
}
