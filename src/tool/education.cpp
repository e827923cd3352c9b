#include "tool/education.h"

#include <windows.h>

#include <cwchar>
#include <optional>
#include <string>

#include "core/handles.h"
#include "core/install_key.h"
#include "tool/lifecycle.h"
#include "core/log.h"

namespace mantlet {
namespace {

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

void LaunchEducationApp() {
  // The folder must fit the 260-unit buffer the path is built in; a longer
  // value counts as missing in its view.
  const std::optional<std::wstring> folder = ReadInstallLocation(kPathRoom * sizeof(wchar_t));
  if (!folder) {
    LogWrite(kToolTag, kModuleName, kLogError, "Can't find tools dir in registry");
    return;
  }
  if (!EducationPathFits(folder->size()))
    return;

  std::wstring workingFolder = *folder + L"\\" + kEducationFolder;
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
  UniqueHandle(process.hProcess).reset();
  UniqueHandle(process.hThread).reset();
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
