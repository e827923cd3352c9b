// An installation of the education application stand-in for one test: a
// folder of an exact length with "Education\GlimmerEdu.exe" in it, the
// "InstallLocation" value that points at it, and the record of the
// application's starts. Everything is removed again at the end of the scope,
// and every copy the record names is ended.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "test_paths.h"

namespace testenv {

inline constexpr wchar_t kInstallKey[] = L"SOFTWARE\\Corvane\\Corvane Tools";
inline constexpr REGSAM kView32 = KEY_WOW64_32KEY;
inline constexpr REGSAM kView64 = KEY_WOW64_64KEY;

// "InstallLocation" in one registry view set (or removed) for a scope; the
// value found there before comes back at the end.
class ScopedInstallLocation {
 public:
  ScopedInstallLocation(REGSAM view, const std::optional<std::wstring>& value) : view_(view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_QUERY_VALUE | view_, &key) ==
        ERROR_SUCCESS) {
      wchar_t old[1024] = {};
      DWORD size = sizeof(old) - sizeof(wchar_t);
      if (RegQueryValueExW(key, L"InstallLocation", nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                           &size) == ERROR_SUCCESS) {
        previous_ = std::wstring(old);
      }
      RegCloseKey(key);
    }
    Apply(value);
  }
  ~ScopedInstallLocation() { Apply(previous_); }
  ScopedInstallLocation(const ScopedInstallLocation&) = delete;
  ScopedInstallLocation& operator=(const ScopedInstallLocation&) = delete;

 private:
  void Apply(const std::optional<std::wstring>& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_QUERY_VALUE | view_, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return;
    }
    if (value) {
      RegSetValueExW(key, L"InstallLocation", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(value->c_str()),
                     static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
    } else {
      RegDeleteValueW(key, L"InstallLocation");
    }
    RegCloseKey(key);
  }

  REGSAM view_;
  std::optional<std::wstring> previous_;
};

struct EducationRun {
  DWORD pid = 0;
  bool console = false;
  int stdHandles = 0;
  std::wstring cwd;
};

// Whether the process can still be opened to be terminated.
inline bool ProcessOpens(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (process != nullptr)
    CloseHandle(process);
  return process != nullptr;
}

inline bool ProcessAlive(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr)
    return false;
  const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

// Waits until the process has exited (true) or the time is up.
inline bool ProcessEnds(DWORD pid, DWORD timeoutMs) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr)
    return true;
  const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

inline void EndProcess(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr)
    return;
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
}

// The parent of a process and the executable name, from a snapshot.
inline std::optional<PROCESSENTRY32W> ProcessEntry(DWORD pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return std::nullopt;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  std::optional<PROCESSENTRY32W> found;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == pid)
      found = entry;
  }
  CloseHandle(snapshot);
  return found;
}

class EducationInstall {
 public:
  // A folder of exactly `length` characters below the temporary folder.
  explicit EducationInstall(size_t length) {
    static LONG counter = 0;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    root_ = std::wstring(temp) + L"edu-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&counter));
    CreateDirectoryW(root_.c_str(), nullptr);
    folder_ = root_;
    while (folder_.size() < length) {
      size_t segment = std::min<size_t>(length - folder_.size() - 1, 100);
      if (length - folder_.size() - 1 - segment == 1)
        --segment;  // leave room for one more "\x"
      folder_ += L"\\" + std::wstring(segment, L'g');
      CreateDirectoryW(folder_.c_str(), nullptr);
    }
    CreateDirectoryW(Education().c_str(), nullptr);
    copied_ = CopyFileW(BinPath(L"GlimmerEdu.exe").c_str(), Executable().c_str(), FALSE);
  }

  ~EducationInstall() {
    for (const EducationRun& run : Runs())
      EndProcess(run.pid);
    RemoveTree(root_);
  }
  EducationInstall(const EducationInstall&) = delete;
  EducationInstall& operator=(const EducationInstall&) = delete;

  bool ok() const {
    return copied_ && GetFileAttributesW(Executable().c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  const std::wstring& Folder() const { return folder_; }
  std::wstring Education() const { return folder_ + L"\\Education"; }
  std::wstring Executable() const { return Education() + L"\\GlimmerEdu.exe"; }

  std::vector<EducationRun> Runs() const {
    std::vector<EducationRun> runs;
    std::istringstream in(ReadText(Education() + L"\\glimmeredu-runs.txt"));
    std::string line;
    while (std::getline(in, line)) {
      EducationRun run;
      std::istringstream words(line);
      std::string word;
      while (words >> word) {
        if (word.rfind("pid=", 0) == 0)
          run.pid = strtoul(word.c_str() + 4, nullptr, 10);
        else if (word.rfind("console=", 0) == 0)
          run.console = word == "console=1";
        else if (word.rfind("stdhandles=", 0) == 0)
          run.stdHandles = atoi(word.c_str() + 11);
        else if (word.rfind("cwd=", 0) == 0)
          run.cwd = Wide(line.substr(line.find("cwd=") + 4));
      }
      runs.push_back(run);
    }
    return runs;
  }

 private:
  static std::string ReadText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return {};
    std::string text(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
    CloseHandle(file);
    text.resize(read);
    return text;
  }

  static std::wstring Wide(const std::string& utf8) {
    wchar_t text[2 * MAX_PATH] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text, 2 * MAX_PATH);
    return text;
  }

  static void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
          continue;
        const std::wstring child = path + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveTree(child);
        else
          DeleteFileW(child.c_str());
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  }

  std::wstring root_;
  std::wstring folder_;
  bool copied_ = false;
};

}  // namespace testenv
