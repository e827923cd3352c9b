#include "netprov_control.h"

#include <winioctl.h>

#include <cstdio>
#include <cstring>

namespace testenv {
namespace {

// Wine's own extension of the mount manager (what winecfg uses).
constexpr DWORD kDefineUnixDrive =
    CTL_CODE(static_cast<DWORD>('m'), 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
constexpr DWORD kQueryUnixDrive =
    CTL_CODE(static_cast<DWORD>('m'), 33, METHOD_BUFFERED, FILE_READ_ACCESS);

#pragma pack(push, 8)
struct UnixDrive {
  ULONG size;
  ULONG type;
  ULONG fsType;
  DWORD serial;
  ULONGLONG unixDev;
  WCHAR letter;
  USHORT mountPointOffset;
  USHORT deviceOffset;
  USHORT labelOffset;
};
#pragma pack(pop)

HANDLE OpenMountManager() {
  return CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Define(wchar_t letter, const std::string* mountPoint, UINT type) {
  std::vector<char> buffer(sizeof(UnixDrive) + (mountPoint ? mountPoint->size() + 1 : 0), 0);
  auto* drive = reinterpret_cast<UnixDrive*>(buffer.data());
  drive->size = static_cast<ULONG>(buffer.size());
  drive->type = type;
  drive->letter = static_cast<WCHAR>(towlower(letter));
  if (mountPoint) {
    memcpy(buffer.data() + sizeof(UnixDrive), mountPoint->c_str(), mountPoint->size() + 1);
    drive->mountPointOffset = sizeof(UnixDrive);
  }
  HANDLE manager = OpenMountManager();
  if (manager == INVALID_HANDLE_VALUE)
    return false;
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(manager, kDefineUnixDrive, buffer.data(), static_cast<DWORD>(buffer.size()),
                      nullptr, 0, &returned, nullptr);
  CloseHandle(manager);
  return ok != FALSE;
}

HKEY OpenScript(REGSAM access) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedFoldersScriptKey, 0, nullptr, 0, access, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

void WriteMultiString(const wchar_t* name, const std::vector<std::wstring>& entries) {
  std::wstring data;
  for (const std::wstring& e : entries) {
    data += e;
    data += L'\0';
  }
  data += L'\0';
  if (HKEY key = OpenScript(KEY_SET_VALUE)) {
    RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    RegCloseKey(key);
  }
}

std::wstring WideFromUtf8(const std::string& s) {
  std::wstring out(s.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(),
                                    static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

}  // namespace

bool DefineDrive(wchar_t letter, const std::string& unixMountPoint, UINT driveType) {
  return Define(letter, &unixMountPoint, driveType);
}

bool RemoveDrive(wchar_t letter) {
  return Define(letter, nullptr, DRIVE_NO_ROOT_DIR);
}

std::optional<std::string> DriveMountPoint(wchar_t letter) {
  std::vector<char> buffer(2048, 0);
  auto* drive = reinterpret_cast<UnixDrive*>(buffer.data());
  drive->size = sizeof(UnixDrive);
  drive->letter = static_cast<WCHAR>(towlower(letter));
  HANDLE manager = OpenMountManager();
  if (manager == INVALID_HANDLE_VALUE)
    return std::nullopt;
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(manager, kQueryUnixDrive, buffer.data(), sizeof(UnixDrive), buffer.data(),
                      static_cast<DWORD>(buffer.size() - 1), &returned, nullptr);
  CloseHandle(manager);
  if (!ok || drive->mountPointOffset == 0 || drive->mountPointOffset >= buffer.size())
    return std::nullopt;
  return std::string(buffer.data() + drive->mountPointOffset);
}

std::optional<std::wstring> ConnectedShare(wchar_t letter) {
  static const std::string kPrefix = "unc/cvf/";
  const std::optional<std::string> mount = DriveMountPoint(letter);
  if (!mount || mount->compare(0, kPrefix.size(), kPrefix) != 0)
    return std::nullopt;
  return std::wstring(kSharedFoldersServer) + WideFromUtf8(mount->substr(kPrefix.size()));
}

std::vector<std::wstring> ReadMultiString(HKEY key, const wchar_t* name) {
  std::vector<std::wstring> entries;
  DWORD type = 0, bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ) {
    return entries;
  }
  std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, L'\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
      ERROR_SUCCESS) {
    return entries;
  }
  for (const wchar_t* p = data.data(); *p != L'\0'; p += wcslen(p) + 1)
    entries.emplace_back(p);
  return entries;
}

SharedFoldersScript::SharedFoldersScript() {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSharedFoldersScriptKey);
  DisconnectAll();
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  logPath_ =
      std::wstring(temp) + L"cvfnp-calls-" + std::to_wstring(GetCurrentProcessId()) + L".log";
  DeleteFileW(logPath_.c_str());
  if (HKEY key = OpenScript(KEY_SET_VALUE)) {
    RegSetValueExW(key, L"CallLog", 0, REG_SZ, reinterpret_cast<const BYTE*>(logPath_.c_str()),
                   static_cast<DWORD>((logPath_.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
}

SharedFoldersScript::~SharedFoldersScript() {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSharedFoldersScriptKey);
  DisconnectAll();
  DeleteFileW(logPath_.c_str());
}

void SharedFoldersScript::SetTree(const std::vector<std::wstring>& entries) {
  WriteMultiString(L"Tree", entries);
}

void SharedFoldersScript::SetVolumes(const std::vector<std::wstring>& names) {
  WriteMultiString(L"Volumes", names);
}

void SharedFoldersScript::SetFailures(const std::vector<std::wstring>& failures) {
  WriteMultiString(L"Failures", failures);
}

void SharedFoldersScript::SetEnumBatch(DWORD entries) {
  if (HKEY key = OpenScript(KEY_SET_VALUE)) {
    RegSetValueExW(key, L"EnumBatch", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&entries),
                   sizeof(entries));
    RegCloseKey(key);
  }
}

std::vector<std::string> SharedFoldersScript::Calls() const {
  std::vector<std::string> lines;
  FILE* in = _wfopen(logPath_.c_str(), L"rb");
  if (in == nullptr)
    return lines;
  std::string line;
  for (int c; (c = fgetc(in)) != EOF;) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += static_cast<char>(c);
    }
  }
  fclose(in);
  return lines;
}

size_t SharedFoldersScript::Connections(const std::string& remote) const {
  const std::string prefix = "AddConnection3 " + remote + " ";
  const std::string success = " -> 0";
  size_t count = 0;
  for (const std::string& line : Calls()) {
    count += line.compare(0, prefix.size(), prefix) == 0 && line.size() >= success.size() &&
                     line.compare(line.size() - success.size(), success.size(), success) == 0
                 ? 1
                 : 0;
  }
  return count;
}

std::map<wchar_t, std::wstring> SharedFoldersScript::Drives() {
  std::map<wchar_t, std::wstring> drives;
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    if (std::optional<std::wstring> share = ConnectedShare(letter))
      drives[letter] = *share;
  }
  return drives;
}

void SharedFoldersScript::DisconnectAll() {
  for (const auto& [letter, share] : Drives())
    RemoveDrive(letter);
}

ScopedTakenDrives::ScopedTakenDrives(const std::wstring& letters) {
  for (wchar_t letter : letters) {
    // The prefix's C: folder: a local disk as far as GetDriveTypeW can tell.
    if (DefineDrive(letter, "../drive_c", DRIVE_FIXED))
      taken_ += letter;
  }
}

ScopedTakenDrives::~ScopedTakenDrives() {
  for (wchar_t letter : taken_)
    RemoveDrive(letter);
}

std::wstring ScopedTakenDrives::FreeLetters() {
  std::wstring free;
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    if (GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR)
      free += letter;
  }
  return free;
}

}  // namespace testenv
