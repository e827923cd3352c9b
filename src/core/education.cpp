#include "core/education.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "core/handles.h"
#include "core/lifecycle.h"
#include "core/log.h"

namespace mantlet {
namespace {

constexpr wchar_t kInstallKey[] = L"SOFTWARE\\Corvane\\Corvane Tools";
constexpr wchar_t kInstallValue[] = L"InstallLocation";
constexpr wchar_t kEducationFolder[] = L"Education";
constexpr wchar_t kEducationExecutable[] = L"GlimmerEdu.exe";
constexpr size_t kPathRoom = MAX_PATH;  // UTF-16 units, terminator included

// The last application started, 0 when none is tracked. Used by the command
// worker, and by the stop routine only after the worker has been joined.
DWORD g_educationPid = 0;

// Whether "<folder>\Education\GlimmerEdu.exe" and its terminator fit in 260
// units: the two separators and the terminator make the 3.
bool EducationPathFits(size_t folderLength) {
  return folderLength + wcslen(kEducationFolder) + wcslen(kEducationExecutable) + 3 < kPathRoom;
}

}  // namespace

LONG ReadInstallLocation(wchar_t* buffer, DWORD byteSize, bool view32) {
  UniqueRegKey key;
  // The 32-bit view is named rather than left to the process's default: a
  // 32-bit build gets the same key either way, while a 64-bit build would
  // otherwise read its own (64-bit) view twice and never the 32-bit one.
  const REGSAM view = view32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  LONG result =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_QUERY_VALUE | view, key.put());
  if (result != ERROR_SUCCESS)
    return result;
  DWORD size = byteSize;
  result = RegQueryValueExW(key.get(), kInstallValue, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(buffer), &size);
  return result;
}

void LaunchEducationApp() {
  // One unit more than the value may fill, so the text always ends in a
  // terminator even when the stored value has none.
  wchar_t folder[kPathRoom + 1] = {};
  const DWORD byteSize = kPathRoom * sizeof(wchar_t);
  if (ReadInstallLocation(folder, byteSize, true) != ERROR_SUCCESS) {
    wmemset(folder, L'\0', kPathRoom + 1);
    if (ReadInstallLocation(folder, byteSize, false) != ERROR_SUCCESS) {
      LogWrite(kToolTag, kModuleName, kLogError, "Can't find tools dir in registry");
      return;
    }
  }
  if (!EducationPathFits(wcslen(folder)))
    return;

  std::wstring workingFolder = std::wstring(folder) + L"\\" + kEducationFolder;
  const std::wstring executable = workingFolder + L"\\" + kEducationExecutable;
  // The structure's own size: 68 bytes in a 32-bit build, 104 in a 64-bit one.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(executable.c_str(), nullptr, nullptr, nullptr, FALSE, DETACHED_PROCESS,
                      nullptr, workingFolder.c_str(), &startup, &process)) {
    return;
  }
  g_educationPid = process.dwProcessId;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
}

void EndEducationApp() {
  if (g_educationPid == 0)
    return;
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, g_educationPid));
  if (!process) {
    MLOG(kLogDebug, kToolTag, "Can't open GlimmerEdu process (pid=%d)",
         static_cast<int>(g_educationPid));
    // Forgotten rather than kept: a process that cannot be opened has almost
    // always exited, and its id may soon name an unrelated process that a
    // later attempt would then terminate.
    g_educationPid = 0;
    return;
  }
  if (!TerminateProcess(process.get(), 0)) {
    MLOG(kLogWarning, kToolTag, "Failed to terminate GlimmerEdu process (pid=%d)",
         static_cast<int>(g_educationPid));
  }
  g_educationPid = 0;
}

}  // namespace mantlet
