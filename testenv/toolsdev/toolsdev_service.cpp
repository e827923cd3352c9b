// toolsdev_service: installs, starts, stops and removes the tools device
// stand-in (cvn_tg.sys) as a kernel-driver service inside a Wine prefix.
//
//   toolsdev_service install <path-to-sys>   create (or re-point) the service, demand start
//   toolsdev_service start                   start it and wait until the device opens
//   toolsdev_service stop                    stop it
//   toolsdev_service remove                  stop it if running, delete the service
//   toolsdev_service status                  print its state
//
// Exit codes: 0 done (status: running), 1 failed, 2 usage, 3 status: installed
// but not running, 4 status: not installed.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "toolsdev_protocol.h"

namespace {

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kNotRunning = 3, kNotInstalled = 4 };

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE h = nullptr) : h_(h) {}
  ~ServiceHandle() {
    if (h_)
      CloseServiceHandle(h_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SC_HANDLE h_;
};

std::wstring SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n ? std::wstring(text, n) : L"unknown error";
  if (text)
    LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return message;
}

int Fail(const wchar_t* what, DWORD error) {
  std::fwprintf(stderr, L"toolsdev_service: %ls failed: error %lu (%ls)\n", what, error,
                SystemMessage(error).c_str());
  return kFailed;
}

const wchar_t* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return L"stopped";
    case SERVICE_START_PENDING:
      return L"start pending";
    case SERVICE_STOP_PENDING:
      return L"stop pending";
    case SERVICE_RUNNING:
      return L"running";
    case SERVICE_CONTINUE_PENDING:
      return L"continue pending";
    case SERVICE_PAUSE_PENDING:
      return L"pause pending";
    case SERVICE_PAUSED:
      return L"paused";
    default:
      return L"unknown";
  }
}

bool QueryState(SC_HANDLE service, DWORD* state) {
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service, &status))
    return false;
  *state = status.dwCurrentState;
  return true;
}

// Polls until the service reaches `wanted` or the time is up.
bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    DWORD state = 0;
    if (QueryState(service, &state) && state == wanted)
      return true;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(50);
  }
}

// The service manager reports "running" once DriverEntry has returned, but the
// device is what callers need: wait until it opens.
bool WaitForDevice(DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const HANDLE h = CreateFileW(TD_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return true;
    }
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(50);
  }
}

int Install(SC_HANDLE manager, const wchar_t* sysPath) {
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(sysPath, MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH)
    return Fail(L"GetFullPathNameW", n ? ERROR_FILENAME_EXCED_RANGE : GetLastError());
  if (GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    std::fwprintf(stderr, L"toolsdev_service: driver file %ls not found\n", full);
    return Fail(L"GetFileAttributesW", error);
  }
  ServiceHandle service(CreateServiceW(manager, TD_SERVICE_NAME_W, L"Tools device stand-in",
                                       SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, full, nullptr,
                                       nullptr, nullptr, nullptr, nullptr));
  if (service) {
    std::wprintf(L"toolsdev_service: installed %ls as %ls\n", full, TD_SERVICE_NAME_W);
    return kOk;
  }
  if (GetLastError() != ERROR_SERVICE_EXISTS)
    return Fail(L"CreateServiceW", GetLastError());
  ServiceHandle existing(OpenServiceW(manager, TD_SERVICE_NAME_W, SERVICE_ALL_ACCESS));
  if (!existing)
    return Fail(L"OpenServiceW", GetLastError());
  if (!ChangeServiceConfigW(existing.get(), SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                            SERVICE_ERROR_NORMAL, full, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr))
    return Fail(L"ChangeServiceConfigW", GetLastError());
  std::wprintf(L"toolsdev_service: already installed; image path set to %ls\n", full);
  return kOk;
}

int Start(SC_HANDLE manager) {
  ServiceHandle service(
      OpenServiceW(manager, TD_SERVICE_NAME_W, SERVICE_START | SERVICE_QUERY_STATUS));
  if (!service)
    return Fail(L"OpenServiceW (is it installed?)", GetLastError());
  // Right after a prefix is created, the service manager can still be busy
  // with the boot's own services and time out (1053); it succeeds later. On
  // a loaded machine the first start in a fresh prefix also failed once with
  // an internal error (1359) that no later prefix showed: tried again too.
  for (int attempt = 1;; ++attempt) {
    if (StartServiceW(service.get(), 0, nullptr))
      break;
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_ALREADY_RUNNING)
      break;
    const bool passing = error == ERROR_SERVICE_REQUEST_TIMEOUT || error == ERROR_INTERNAL_ERROR;
    if (!passing || attempt == 5)
      return Fail(L"StartServiceW", error);
    std::fwprintf(stderr, L"toolsdev_service: start failed with %lu (attempt %d), retrying\n",
                  error, attempt);
    Sleep(1000);
  }
  if (!WaitForState(service.get(), SERVICE_RUNNING, 10000))
    return Fail(L"waiting for the service to run", ERROR_SERVICE_REQUEST_TIMEOUT);
  if (!WaitForDevice(5000))
    return Fail(L"opening \\\\.\\cvn_tg", GetLastError());
  std::wprintf(L"toolsdev_service: %ls running\n", TD_SERVICE_NAME_W);
  return kOk;
}

int StopService(SC_HANDLE service, bool quietIfStopped) {
  SERVICE_STATUS status{};
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_NOT_ACTIVE) {
      if (!quietIfStopped)
        std::wprintf(L"toolsdev_service: %ls not running\n", TD_SERVICE_NAME_W);
      return kOk;
    }
    return Fail(L"ControlService(stop)", error);
  }
  if (!WaitForState(service, SERVICE_STOPPED, 10000))
    return Fail(L"waiting for the service to stop", ERROR_SERVICE_REQUEST_TIMEOUT);
  std::wprintf(L"toolsdev_service: %ls stopped\n", TD_SERVICE_NAME_W);
  return kOk;
}

int Stop(SC_HANDLE manager) {
  ServiceHandle service(
      OpenServiceW(manager, TD_SERVICE_NAME_W, SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service)
    return Fail(L"OpenServiceW (is it installed?)", GetLastError());
  return StopService(service.get(), false);
}

int Remove(SC_HANDLE manager) {
  ServiceHandle service(
      OpenServiceW(manager, TD_SERVICE_NAME_W, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      std::wprintf(L"toolsdev_service: %ls not installed\n", TD_SERVICE_NAME_W);
      return kOk;
    }
    return Fail(L"OpenServiceW", GetLastError());
  }
  if (const int rc = StopService(service.get(), true); rc != kOk)
    return rc;
  if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
    return Fail(L"DeleteService", GetLastError());
  std::wprintf(L"toolsdev_service: %ls removed\n", TD_SERVICE_NAME_W);
  return kOk;
}

int Status(SC_HANDLE manager) {
  ServiceHandle service(OpenServiceW(manager, TD_SERVICE_NAME_W, SERVICE_QUERY_STATUS));
  if (!service) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      std::wprintf(L"%ls: not installed\n", TD_SERVICE_NAME_W);
      return kNotInstalled;
    }
    return Fail(L"OpenServiceW", GetLastError());
  }
  DWORD state = 0;
  if (!QueryState(service.get(), &state))
    return Fail(L"QueryServiceStatus", GetLastError());
  std::wprintf(L"%ls: %ls\n", TD_SERVICE_NAME_W, StateName(state));
  return state == SERVICE_RUNNING ? kOk : kNotRunning;
}

int Usage() {
  std::fwprintf(
      stderr, L"usage: toolsdev_service install <path-to-sys> | start | stop | remove | status\n");
  return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2)
    return Usage();
  const std::wstring verb = argv[1];
  const bool install = verb == L"install";
  if ((install && argc != 3) || (!install && argc != 2))
    return Usage();
  if (!install && verb != L"start" && verb != L"stop" && verb != L"remove" && verb != L"status")
    return Usage();

  ServiceHandle manager(
      OpenSCManagerW(nullptr, nullptr, install ? SC_MANAGER_ALL_ACCESS : SC_MANAGER_CONNECT));
  if (!manager)
    return Fail(L"OpenSCManagerW", GetLastError());
  if (install)
    return Install(manager.get(), argv[2]);
  if (verb == L"start")
    return Start(manager.get());
  if (verb == L"stop")
    return Stop(manager.get());
  if (verb == L"remove")
    return Remove(manager.get());
  return Status(manager.get());
}
