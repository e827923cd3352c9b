// Stand-in for the guest tools' network provider "Corvane Shared Folders",
// loaded by the multiple-provider router (mpr.dll) of every process in the
// prefix. It serves the server "\\cvf" with the tree a test scripts in the
// registry (netprov_control.h), re-read on every call. Its connections are
// real drive letters of Wine's mount manager pointing at
// dosdevices/unc/cvf/<share>, so they are visible to every process,
// GetDriveTypeW calls them remote, and WNetGetConnectionW names their share.
// It keeps no state of its own between calls except open enumerations.
#include <windows.h>
#include <winnetwk.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "netprov_control.h"

// The router's view of a provider (the prototypes of <npapi.h>, which this
// file does not include: its ANSI/Unicode mix does not match the router's).
#define NP_EXPORT extern "C" __declspec(dllexport) DWORD WINAPI

namespace {

using testenv::kSharedFoldersProvider;

constexpr DWORD kSpecVersion51 = 0x00050001;
constexpr DWORD kNetType = 0x00470000;  // a network type no other provider uses here
constexpr DWORD kCapsSpecVersion = 1, kCapsNetType = 2, kCapsDriverVersion = 3, kCapsUser = 4,
                kCapsConnection = 6, kCapsDialog = 8, kCapsAdmin = 9, kCapsEnumeration = 11,
                kCapsStart = 12;
constexpr DWORD kConAddConnection = 0x1, kConCancelConnection = 0x2, kConGetConnections = 0x4,
                kConAddConnection3 = 0x8;
constexpr DWORD kDlgGetResourceInformation = 0x800;
constexpr DWORD kEnumGlobal = 0x1;

const std::wstring kServer = L"\\\\cvf";
const std::wstring kComment = L"Corvane shared folder";

struct Script {
  std::vector<std::wstring> tree;
  std::vector<std::wstring> volumes;
  std::vector<std::wstring> failures;
  DWORD enumBatch = 0;
  std::wstring callLog;
};

Script ReadScript() {
  Script script;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, testenv::kSharedFoldersScriptKey, 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return script;
  }
  script.tree = testenv::ReadMultiString(key, L"Tree");
  script.volumes = testenv::ReadMultiString(key, L"Volumes");
  script.failures = testenv::ReadMultiString(key, L"Failures");
  DWORD size = sizeof(script.enumBatch);
  RegQueryValueExW(key, L"EnumBatch", nullptr, nullptr, reinterpret_cast<BYTE*>(&script.enumBatch),
                   &size);
  wchar_t path[MAX_PATH] = {};
  size = sizeof(path) - sizeof(wchar_t);
  if (RegQueryValueExW(key, L"CallLog", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) ==
      ERROR_SUCCESS) {
    script.callLog = path;
  }
  RegCloseKey(key);
  return script;
}

std::string Utf8(const std::wstring& s) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, out.data(), n, nullptr, nullptr);
  out.resize(n > 0 ? n - 1 : 0);
  return out;
}

void LogCall(const Script& script, const std::wstring& what, DWORD result) {
  if (script.callLog.empty())
    return;
  HANDLE file = CreateFileW(script.callLog.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  const std::string line = Utf8(what) + " -> " + std::to_string(result) + "\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

// The error scripted for this call and name, or 0.
DWORD ScriptedFailure(const Script& script, const std::wstring& call, const std::wstring& name) {
  for (const std::wstring& f : script.failures) {
    const size_t first = f.find(L' ');
    const size_t last = f.rfind(L' ');
    if (first == std::wstring::npos || last == first || f.compare(0, first, call) != 0)
      continue;
    const std::wstring target = f.substr(first + 1, last - first - 1);
    if (target == L"*" || target == name)
      return wcstoul(f.c_str() + last + 1, nullptr, 0);
  }
  return 0;
}

std::vector<std::wstring> Split(const std::wstring& entry) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (size_t slash; (slash = entry.find(L'/', start)) != std::wstring::npos; start = slash + 1)
    parts.push_back(entry.substr(start, slash - start));
  parts.push_back(entry.substr(start));
  return parts;
}

// The share a "\\cvf\<name>" connection reaches, if the server has it.
bool ServerHasShare(const Script& script, const std::wstring& remote, std::wstring* share) {
  const std::wstring prefix = testenv::kSharedFoldersServer;
  if (remote.size() <= prefix.size() || _wcsnicmp(remote.c_str(), prefix.c_str(), prefix.size()))
    return false;
  const std::wstring name = remote.substr(prefix.size());
  for (const std::wstring& entry : script.tree) {
    if (_wcsicmp(Split(entry).back().c_str(), name.c_str()) == 0) {
      *share = name;
      return true;
    }
  }
  for (const std::wstring& volume : script.volumes) {
    if (_wcsicmp(volume.c_str(), name.c_str()) == 0) {
      *share = name;
      return true;
    }
  }
  return false;
}

struct Entry {
  DWORD displayType = RESOURCEDISPLAYTYPE_SHARE;
  DWORD usage = RESOURCEUSAGE_CONNECTABLE;
  DWORD type = RESOURCETYPE_DISK;
  std::wstring remote;
  std::wstring comment;
};

// Children of a container: "" is the provider's root, "\\cvf" the server,
// "\\cvf\A\B" the nested container A/B. False when there is no such container.
bool Children(const Script& script, const std::wstring& container, std::vector<Entry>* out) {
  if (container.empty()) {
    out->push_back(
        Entry{RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER, RESOURCETYPE_ANY, kServer, {}});
    return true;
  }
  if (_wcsnicmp(container.c_str(), kServer.c_str(), kServer.size()) != 0)
    return false;
  std::vector<std::wstring> path;
  if (container.size() > kServer.size()) {
    if (container[kServer.size()] != L'\\')
      return false;
    std::wstring rest = container.substr(kServer.size() + 1);
    for (wchar_t& c : rest)
      c = c == L'\\' ? L'/' : c;
    path = Split(rest);
  }
  bool found = path.empty();
  for (const std::wstring& entry : script.tree) {
    const std::vector<std::wstring> parts = Split(entry);
    if (parts.size() <= path.size() ||
        !std::equal(path.begin(), path.end(), parts.begin(),
                    [](const std::wstring& a, const std::wstring& b) {
                      return _wcsicmp(a.c_str(), b.c_str()) == 0;
                    })) {
      continue;
    }
    found = true;
    const std::wstring& next = parts[path.size()];
    if (parts.size() == path.size() + 1) {
      out->push_back(Entry{RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE, RESOURCETYPE_DISK,
                           kServer + L"\\" + next, kComment});
      continue;
    }
    const std::wstring child = container + L"\\" + next;
    bool listed = false;
    for (const Entry& e : *out)
      listed = listed || e.remote == child;
    if (!listed) {
      out->push_back(
          Entry{RESOURCEDISPLAYTYPE_GENERIC, RESOURCEUSAGE_CONTAINER, RESOURCETYPE_ANY, child, {}});
    }
  }
  return found;
}

struct Enumeration {
  std::vector<Entry> entries;
  size_t next = 0;
  std::wstring container;
};

size_t EntryBytes(const Entry& e) {
  size_t bytes = sizeof(NETRESOURCEW) + (e.remote.size() + 1) * sizeof(wchar_t) +
                 (wcslen(kSharedFoldersProvider) + 1) * sizeof(wchar_t);
  if (!e.comment.empty())
    bytes += (e.comment.size() + 1) * sizeof(wchar_t);
  return bytes;
}

// Strings are packed from the end of the buffer down, structures from the start.
wchar_t* PlaceString(const std::wstring& s, char** end) {
  *end -= (s.size() + 1) * sizeof(wchar_t);
  memcpy(*end, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
  return reinterpret_cast<wchar_t*>(*end);
}

void FillResource(const Entry& e, NETRESOURCEW* r, char** end) {
  *r = NETRESOURCEW{};
  r->dwScope = RESOURCE_GLOBALNET;
  r->dwType = e.type;
  r->dwDisplayType = e.displayType;
  r->dwUsage = e.usage;
  r->lpRemoteName = PlaceString(e.remote, end);
  r->lpProvider = PlaceString(kSharedFoldersProvider, end);
  r->lpComment = e.comment.empty() ? nullptr : PlaceString(e.comment, end);
}

bool DriveIsFree(wchar_t letter) {
  const wchar_t root[] = {letter, L':', L'\\', 0};
  return GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR;
}

bool IsDriveName(const wchar_t* name) {
  return name != nullptr && iswalpha(name[0]) && name[1] == L':' && name[2] == 0;
}

std::wstring Text(const wchar_t* s) {
  return s == nullptr ? std::wstring(L"(null)") : std::wstring(s);
}

}  // namespace

NP_EXPORT NPGetCaps(DWORD index) {
  switch (index) {
    case kCapsSpecVersion:
      return kSpecVersion51;
    case kCapsNetType:
      return kNetType;
    case kCapsDriverVersion:
      return 1;
    case kCapsConnection:
      return kConAddConnection | kConAddConnection3 | kConCancelConnection | kConGetConnections;
    case kCapsDialog:
      return kDlgGetResourceInformation;
    case kCapsEnumeration:
      return kEnumGlobal;
    case kCapsStart:
      return 1;  // started
    case kCapsUser:
    case kCapsAdmin:
    default:
      return 0;
  }
}

NP_EXPORT NPOpenEnum(DWORD scope, DWORD type, DWORD usage, NETRESOURCEW* resource, HANDLE* handle) {
  const Script script = ReadScript();
  const std::wstring container =
      resource != nullptr && resource->lpRemoteName != nullptr ? resource->lpRemoteName : L"";
  DWORD result = ScriptedFailure(script, L"OpenEnum", container);
  auto* enumeration = new Enumeration;
  enumeration->container = container;
  if (result == 0 && scope != RESOURCE_GLOBALNET)
    result = WN_NOT_SUPPORTED;
  if (result == 0 && !Children(script, container, &enumeration->entries))
    result = WN_BAD_NETNAME;
  LogCall(script, L"OpenEnum " + container, result);
  if (result != 0) {
    delete enumeration;
    return result;
  }
  *handle = enumeration;
  return WN_SUCCESS;
}

NP_EXPORT NPEnumResource(HANDLE handle, DWORD* count, void* buffer, DWORD* bufferSize) {
  auto* enumeration = static_cast<Enumeration*>(handle);
  const Script script = ReadScript();
  DWORD result = ScriptedFailure(script, L"EnumResource", enumeration->container);
  DWORD given = 0;
  if (result == 0 && enumeration->next >= enumeration->entries.size())
    result = WN_NO_MORE_ENTRIES;
  if (result == 0) {
    const size_t first = EntryBytes(enumeration->entries[enumeration->next]);
    if (first > *bufferSize) {
      *bufferSize = static_cast<DWORD>(first);
      result = WN_MORE_DATA;
    }
  }
  if (result == 0) {
    auto* resources = static_cast<NETRESOURCEW*>(buffer);
    char* end = static_cast<char*>(buffer) + *bufferSize;
    size_t used = 0;
    while (enumeration->next < enumeration->entries.size() && given < *count &&
           (script.enumBatch == 0 || given < script.enumBatch)) {
      const Entry& e = enumeration->entries[enumeration->next];
      if (used + EntryBytes(e) > *bufferSize)
        break;
      used += EntryBytes(e);
      FillResource(e, &resources[given], &end);
      ++given;
      ++enumeration->next;
    }
  }
  *count = given;
  LogCall(script, L"EnumResource " + enumeration->container + L" " + std::to_wstring(given),
          result);
  return result;
}

NP_EXPORT NPCloseEnum(HANDLE handle) {
  delete static_cast<Enumeration*>(handle);
  return WN_SUCCESS;
}

NP_EXPORT NPAddConnection3(HWND, NETRESOURCEW* resource, wchar_t*, wchar_t*, DWORD flags) {
  const Script script = ReadScript();
  const std::wstring remote = Text(resource->lpRemoteName);
  const std::wstring requested = Text(resource->lpLocalName);
  std::wstring local = resource->lpLocalName != nullptr ? resource->lpLocalName : L"";
  std::wstring share;
  DWORD result = ScriptedFailure(script, L"AddConnection3", remote);
  if (result == 0 && !ServerHasShare(script, remote, &share))
    result = WN_BAD_NETNAME;
  if (result == 0 && local.empty() && (flags & CONNECT_REDIRECT)) {
    // Like the system's router: the first free letter from Z down.
    result = WN_NO_MORE_DEVICES;
    for (wchar_t letter = L'Z'; letter >= L'C'; --letter) {
      if (DriveIsFree(letter)) {
        local = {letter, L':'};
        result = 0;
        break;
      }
    }
  }
  if (result == 0 && !local.empty()) {
    if (!IsDriveName(local.c_str()))
      result = WN_BAD_LOCALNAME;
    else if (!DriveIsFree(local[0]))
      result = WN_ALREADY_CONNECTED;
  }
  if (result == 0 && !local.empty()) {
    // The share's folder on the "server": \\cvf\<share> is dosdevices/unc/cvf/<share>.
    CreateDirectoryW((std::wstring(testenv::kSharedFoldersServer) + share).c_str(), nullptr);
    if (!testenv::DefineDrive(local[0], "unc/cvf/" + Utf8(share), DRIVE_REMOTE))
      result = WN_NO_NETWORK;
  }
  wchar_t hex[16];
  swprintf(hex, 16, L"0x%lX", flags);
  LogCall(script, L"AddConnection3 " + remote + L" " + requested + L" " + local + L" flags=" + hex,
          result);
  return result;
}

NP_EXPORT NPAddConnection(NETRESOURCEW* resource, wchar_t* password, wchar_t* user) {
  return NPAddConnection3(nullptr, resource, password, user, 0);
}

NP_EXPORT NPCancelConnection(wchar_t* name, BOOL force) {
  const Script script = ReadScript();
  const std::wstring text = Text(name);
  DWORD result = ScriptedFailure(script, L"CancelConnection", text);
  if (result == 0 && !(IsDriveName(name) && testenv::ConnectedShare(name[0])))
    result = WN_NOT_CONNECTED;
  if (result == 0 && !testenv::RemoveDrive(name[0]))
    result = WN_NO_NETWORK;
  LogCall(script, L"CancelConnection " + text + (force ? L" force" : L""), result);
  return result;
}

NP_EXPORT NPGetConnection(wchar_t* localName, wchar_t* remoteName, DWORD* units) {
  const Script script = ReadScript();
  DWORD result = ScriptedFailure(script, L"GetConnection", Text(localName));
  std::wstring share;
  if (result == 0) {
    const std::optional<std::wstring> connected =
        IsDriveName(localName) ? testenv::ConnectedShare(localName[0]) : std::nullopt;
    if (!connected) {
      result = WN_NOT_CONNECTED;
    } else if (connected->size() + 1 > *units) {
      *units = static_cast<DWORD>(connected->size() + 1);
      result = WN_MORE_DATA;
    } else {
      wcscpy(remoteName, connected->c_str());
    }
  }
  LogCall(script, L"GetConnection " + Text(localName), result);
  return result;
}

NP_EXPORT NPGetResourceInformation(NETRESOURCEW* resource, void* buffer, DWORD* bufferSize,
                                   wchar_t** system) {
  const Script script = ReadScript();
  const std::wstring remote = Text(resource->lpRemoteName);
  DWORD result = ScriptedFailure(script, L"GetResourceInformation", remote);
  std::wstring share;
  if (result == 0 && !ServerHasShare(script, remote, &share))
    result = WN_BAD_NETNAME;
  if (result == 0) {
    // What the router reports for a share names it as the server spells it;
    // it carries no comment, unlike an enumerated entry.
    const Entry e{RESOURCEDISPLAYTYPE_SHARE,
                  RESOURCEUSAGE_CONNECTABLE,
                  RESOURCETYPE_DISK,
                  std::wstring(testenv::kSharedFoldersServer) + share,
                  {}};
    const size_t needed = EntryBytes(e);
    if (needed > *bufferSize) {
      *bufferSize = static_cast<DWORD>(needed);
      result = WN_MORE_DATA;
    } else {
      char* end = static_cast<char*>(buffer) + *bufferSize;
      FillResource(e, static_cast<NETRESOURCEW*>(buffer), &end);
      if (system != nullptr)
        *system = nullptr;
    }
  }
  LogCall(script, L"GetResourceInformation " + remote, result);
  return result;
}
