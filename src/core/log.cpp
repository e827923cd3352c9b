#include "core/log.h"

#include <windows.h>
#include <aclapi.h>
#include <io.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/handles.h"
#include "core/log_line.h"

namespace mantlet {

std::atomic<long> g_logLevel{kLogInfo};

namespace {

constexpr char kLogFileName[] = "corvane.log";
constexpr size_t kPathRoom = 1024;

// Two in-flight counters: SetLogHook switches writers to the other one and
// waits for the old one to drain, so it never returns while a thread is still
// inside the hook it replaced.
std::atomic<long> g_inFlight[2] = {0, 0};
std::atomic<std::atomic<long>*> g_inFlightInUse{&g_inFlight[0]};
std::atomic<LogHook> g_hook{&LogFileWriter};

// File state. The handle and the last check are swapped atomically; the
// directory and path are only rewritten on the (at most once a second)
// re-open path, which the lock keeps from tearing.
SRWLOCK g_pathLock = SRWLOCK_INIT;
char g_directory[kPathRoom] = {};
char g_path[kPathRoom] = {};
std::atomic<HANDLE> g_file{INVALID_HANDLE_VALUE};
// Held for each append, and for the close of a replaced handle: a writer
// reads g_file under it, so no line goes to a handle value that was closed
// meanwhile and may already name another object of the host process.
SRWLOCK g_appendLock = SRWLOCK_INIT;
std::atomic<LONG64> g_lastCheck{0};

// The identity of the open log file, read once per handle: an open file's
// volume and index never change, and under Wine each read asks the mount
// manager in another process for the volume's serial number (about a
// millisecond), which the once-a-second check would otherwise pay twice on
// whichever thread logs. Guarded by g_pathLock.
struct FileIdentity {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};
FileIdentity g_identity;

bool ReadIdentity(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info))
    return false;
  *identity = {file, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

LONG64 NowSeconds() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return static_cast<LONG64>(t.QuadPart / 10000000ull);
}

// For a handle already taken out of g_file.
void CloseReplacedFile(HANDLE file) {
  AcquireSRWLockExclusive(&g_appendLock);
  UniqueFile(file).reset();
  ReleaseSRWLockExclusive(&g_appendLock);
}

void CloseCurrentFile() {
  HANDLE old = g_file.exchange(INVALID_HANDLE_VALUE);
  if (old != INVALID_HANDLE_VALUE)
    CloseReplacedFile(old);
}

void SetDirectory(const char* directory) {
  snprintf(g_directory, sizeof(g_directory), "%s", directory);
  CloseCurrentFile();
}

bool FirstChoiceDirectory(char (&out)[kPathRoom]) {
  char windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return false;
  for (char* c = windows; *c != '\0'; ++c) {
    if (*c >= 'A' && *c <= 'Z')
      *c = static_cast<char>(*c - 'A' + 'a');
  }
  snprintf(out, sizeof(out), "%s\\Logs\\", windows);
  if (!CreateDirectoryA(out, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return false;
  return true;
}

void FallbackDirectory(char (&out)[kPathRoom]) {
  out[0] = '\0';
  wchar_t local[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local)))
    return;
  if (WideCharToMultiByte(CP_UTF8, 0, local, -1, out, static_cast<int>(sizeof(out)), nullptr,
                          nullptr) == 0) {
    out[0] = '\0';
  }
}

// Caller holds g_pathLock exclusively.
void UpdatePath() {
  if (g_directory[0] == '\0') {
    char directory[kPathRoom];
    if (!FirstChoiceDirectory(directory))
      FallbackDirectory(directory);
    snprintf(g_directory, sizeof(g_directory), "%s", directory);
  }
  snprintf(g_path, sizeof(g_path), "%s/%s", g_directory, kLogFileName);
}

// Lets the interactive users read and write a log file this process created,
// so that later sessions under other accounts can go on appending to it.
void GrantInteractiveUsers(HANDLE file) {
  PACL dacl = nullptr;  // inside the descriptor
  UniqueLocal<PSECURITY_DESCRIPTOR> descriptor;
  UniqueLocal<PSID> interactive;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                      nullptr, descriptor.put()) != ERROR_SUCCESS ||
      !ConvertStringSidToSidW(L"IU", interactive.put())) {
    return;
  }
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = GENERIC_READ | GENERIC_WRITE;
  access.grfAccessMode = SET_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(interactive.get());
  UniqueLocal<PACL> merged;
  if (SetEntriesInAclW(1, &access, dacl, merged.put()) == ERROR_SUCCESS) {
    SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, merged.get(),
                    nullptr);
  }
}

HANDLE OpenLogFile(const char* path) {
  wchar_t widePath[kPathRoom];
  if (MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath, static_cast<int>(kPathRoom)) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  // GENERIC_WRITE | FILE_APPEND_DATA | READ_CONTROL | WRITE_DAC
  HANDLE file = CreateFileW(
      widePath, 0x40060004, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE && GetLastError() != ERROR_ALREADY_EXISTS) {
    GrantInteractiveUsers(file);
  }
  return file;
}

// Caller holds g_pathLock exclusively.
bool SameFile(HANDLE current, const wchar_t* path) {
  UniqueFile probe(CreateFileW(path, GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!probe)
    return false;
  FileIdentity found;
  const bool probed = ReadIdentity(probe.get(), &found);
  probe.reset();
  if (!probed)
    return false;
  // g_file changes only under the lock, and every re-open drops the cached
  // identity first, so a handle value that was reused is never mistaken.
  if (g_identity.handle != current && !ReadIdentity(current, &g_identity))
    return false;
  return found.volume == g_identity.volume && found.indexHigh == g_identity.indexHigh &&
         found.indexLow == g_identity.indexLow;
}

// Checks the open file's identity at most once a second and opens the file
// anew when it is gone or another one; the writer then takes g_file.
void CheckLogFile() {
  const LONG64 now = NowSeconds();
  HANDLE current = g_file;
  if (current != INVALID_HANDLE_VALUE && now == g_lastCheck)
    return;
  if (g_lastCheck.exchange(now) == now)
    return;

  AcquireSRWLockExclusive(&g_pathLock);
  UpdatePath();
  current = g_file;
  if (current != INVALID_HANDLE_VALUE) {
    wchar_t widePath[kPathRoom];
    if (MultiByteToWideChar(CP_UTF8, 0, g_path, -1, widePath, static_cast<int>(kPathRoom)) != 0 &&
        SameFile(current, widePath)) {
      ReleaseSRWLockExclusive(&g_pathLock);
      return;
    }
  }
  g_identity = {};
  HANDLE fresh = OpenLogFile(g_path);
  if (fresh == INVALID_HANDLE_VALUE) {
    char fallback[kPathRoom];
    FallbackDirectory(fallback);
    SetDirectory(fallback);
    UpdatePath();
    fresh = OpenLogFile(g_path);
  }
  // Swapped under the lock, so that a check on another thread never caches
  // the identity of a handle that is about to be closed.
  HANDLE replaced = g_file.exchange(fresh);
  if (replaced != INVALID_HANDLE_VALUE && replaced != fresh)
    CloseReplacedFile(replaced);
  ReleaseSRWLockExclusive(&g_pathLock);
}

}  // namespace

void LogFileWriter(const char* line, size_t length) {
  CheckLogFile();
  OVERLAPPED atEnd = {};
  atEnd.Offset = 0xFFFFFFFF;
  atEnd.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  // Windows appends a write at end-of-file in one step; Wine finds the end
  // and writes there in two, so two of our threads could land on the same
  // offset and one line would overwrite the other. One lock per process
  // keeps our own lines whole; it is held for the write alone. The handle is
  // read under it: one read before could be closed by a re-open on another
  // thread while this one waits for the lock.
  AcquireSRWLockExclusive(&g_appendLock);
  const HANDLE file = g_file;
  if (file != INVALID_HANDLE_VALUE)
    WriteFile(file, line, static_cast<DWORD>(length), &written, &atEnd);
  ReleaseSRWLockExclusive(&g_appendLock);
  _write(2, line, static_cast<unsigned>(length));
}

LogHook SetLogHook(LogHook hook) {
  LogHook old = g_hook.exchange(hook);
  std::atomic<long>* previous = g_inFlightInUse.load();
  g_inFlightInUse.store(previous == &g_inFlight[0] ? &g_inFlight[1] : &g_inFlight[0]);
  while (previous->load() != 0)
    Sleep(1);
  return old;
}

void LogWrite(const char* tag, const char* module, int level, const char* format, ...) {
  LastErrorKeeper keep;
  SYSTEMTIME now;
  GetLocalTime(&now);
  const LogStamp stamp{now.wMonth,  now.wDay,    now.wHour,
                       now.wMinute, now.wSecond, now.wMilliseconds};
  char line[kLogLineBufferSize];
  va_list args;
  va_start(args, format);
  const size_t length = FormatLogLine(line, stamp, tag, module, level, GetCurrentProcessId(),
                                      GetCurrentThreadId(), format, args);
  va_end(args);

  for (;;) {
    std::atomic<long>* counter = g_inFlightInUse.load();
    ++*counter;
    const LogHook hook = g_hook.load();
    hook(line, length);
    --*counter;
    // A hook swapped in meanwhile gets the line too: delivered twice rather
    // than lost.
    if (hook == g_hook)
      break;
  }
  OutputDebugStringA(line);
}

ErrorText DescribeError(uint32_t error) {
  LastErrorKeeper keep;
  ErrorText out{};
  char message[sizeof(out.text) - 4] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, message, sizeof(message), nullptr);
  while (length > 0 &&
         (message[length - 1] == '\n' || message[length - 1] == '\r' || message[length - 1] == ' '))
    message[--length] = '\0';
  if (length > 0)
    snprintf(out.text, sizeof(out.text), " (%s)", message);
  return out;
}

}  // namespace mantlet
