#include "sharemapping/guest_share_mapping.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <winnetwk.h>

#include <algorithm>
#include <new>
#include <utility>

#include "core/handles.h"
#include "core/log.h"
#include "core/registry.h"
#include "core/threads.h"
#include "core/windows_version.h"
#include "sharemapping/share_names.h"

namespace mantlet {
namespace {

constexpr char kTag[] = "SHAREMAPPING";
constexpr DWORD kPauseBeforeMountingMs = 2000;
constexpr DWORD kConnectionBufferUnits = 1024;
constexpr DWORD kResourceInfoBufferBytes = 1024;
constexpr DWORD kEnumBufferBytes = 16384;
constexpr DWORD kAccessNameUnits = 1024;

constexpr uint16_t kWindows2000 = 0x0500;
constexpr uint16_t kWindowsXp = 0x0501;

// Resizes without throwing: a failed allocation is a failed step here.
template <typename T>
bool TryResize(std::vector<T>& buffer, size_t count) {
  try {
    buffer.resize(count);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// NETRESOURCEW-sized buffers must be aligned for the structure at their start.
using ResourceBuffer = std::vector<uint64_t>;
size_t ByteSize(const ResourceBuffer& b) {
  return b.size() * sizeof(uint64_t);
}
bool TryResizeBytes(ResourceBuffer& b, size_t bytes) {
  return TryResize(b, (bytes + sizeof(uint64_t) - 1) / sizeof(uint64_t));
}

wchar_t* TextOrNull(const std::u16string& s) {
  return s.empty() ? nullptr : const_cast<wchar_t*>(AsWide(s.c_str()));
}

std::u16string TextOf(const wchar_t* s) {
  return s == nullptr ? std::u16string() : std::u16string(AsU16(s));
}

// The view points into the record, which must outlive it.
NETRESOURCEW ToNetResource(const ShareRecord& r) {
  NETRESOURCEW n = {};
  n.dwScope = r.scope;
  n.dwType = r.type;
  n.dwDisplayType = r.displayType;
  n.dwUsage = r.usage;
  n.lpLocalName = TextOrNull(r.localName);
  n.lpRemoteName = TextOrNull(r.remoteName);
  n.lpComment = TextOrNull(r.comment);
  n.lpProvider = TextOrNull(r.provider);
  return n;
}

ShareRecord FromNetResource(const NETRESOURCEW& n) {
  ShareRecord r;
  r.scope = n.dwScope;
  r.type = n.dwType;
  r.displayType = n.dwDisplayType;
  r.usage = n.dwUsage;
  r.localName = TextOf(n.lpLocalName);
  r.remoteName = TextOf(n.lpRemoteName);
  r.comment = TextOf(n.lpComment);
  r.provider = TextOf(n.lpProvider);
  return r;
}

// Drives connected to the provider's shares before the tool started.
std::vector<ShareRecord> ScanExistingConnections(const std::u16string& providerName) {
  std::vector<ShareRecord> adopted;
  std::vector<wchar_t> remote;
  ResourceBuffer info;
  if (!TryResize(remote, kConnectionBufferUnits) || !TryResizeBytes(info, kResourceInfoBufferBytes))
    return adopted;

  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const wchar_t local[] = {letter, L':', 0};
    DWORD units = static_cast<DWORD>(remote.size());
    DWORD result = WNetGetConnectionW(local, remote.data(), &units);
    if (units > remote.size()) {
      if (!TryResize(remote, units))
        continue;
      units = static_cast<DWORD>(remote.size());
      result = WNetGetConnectionW(local, remote.data(), &units);
    }
    if (result != NO_ERROR)
      continue;

    NETRESOURCEW query = {};
    query.dwType = RESOURCETYPE_DISK;
    query.lpRemoteName = remote.data();
    query.lpProvider = const_cast<wchar_t*>(AsWide(providerName.c_str()));
    std::fill(info.begin(), info.end(), 0);
    DWORD bytes = static_cast<DWORD>(ByteSize(info));
    wchar_t* system = nullptr;
    result = WNetGetResourceInformationW(&query, info.data(), &bytes, &system);
    if (bytes > ByteSize(info)) {
      if (!TryResizeBytes(info, bytes))
        continue;
      std::fill(info.begin(), info.end(), 0);
      bytes = static_cast<DWORD>(ByteSize(info));
      result = WNetGetResourceInformationW(&query, info.data(), &bytes, &system);
    }
    if (result != NO_ERROR)
      continue;

    const auto* found = reinterpret_cast<const NETRESOURCEW*>(info.data());
    if (found->lpProvider != nullptr && TextOf(found->lpProvider) == providerName) {
      ShareRecord record = FromNetResource(*found);
      record.localName = AsU16(local);
      adopted.push_back(std::move(record));
    }
  }
  return adopted;
}

// Depth first: a container's children are walked as soon as it is met.
void EnumerateContainer(NETRESOURCEW* container, std::vector<ShareRecord>& wanted) {
  UniqueNetEnum handle;
  ResourceBuffer buffer;
  if (WNetOpenEnumW(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, container, handle.put()) != NO_ERROR ||
      !handle || !TryResizeBytes(buffer, kEnumBufferBytes)) {
    return;
  }
  for (;;) {
    DWORD count = 0xFFFFFFFF;
    DWORD bytes = static_cast<DWORD>(ByteSize(buffer));
    DWORD result = WNetEnumResourceW(handle.get(), &count, buffer.data(), &bytes);
    if (bytes > ByteSize(buffer)) {
      if (!TryResizeBytes(buffer, bytes))
        return;
      count = 0xFFFFFFFF;
      bytes = static_cast<DWORD>(ByteSize(buffer));
      result = WNetEnumResourceW(handle.get(), &count, buffer.data(), &bytes);
    }
    if (result != NO_ERROR)
      return;  // ERROR_NO_MORE_ITEMS included
    auto* entries = reinterpret_cast<NETRESOURCEW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      if (entries[i].dwUsage & RESOURCEUSAGE_CONTAINER)
        EnumerateContainer(&entries[i], wanted);
      else
        wanted.push_back(FromNetResource(entries[i]));
    }
  }
}

std::vector<ShareRecord> EnumerateProviderShares(const std::u16string& providerName) {
  std::vector<ShareRecord> wanted;
  NETRESOURCEW root = {};
  root.dwScope = RESOURCE_GLOBALNET;
  root.dwType = RESOURCETYPE_ANY;
  root.dwDisplayType = RESOURCEDISPLAYTYPE_SERVER;
  root.dwUsage = RESOURCEUSAGE_CONNECTABLE | RESOURCEUSAGE_CONTAINER;
  root.lpProvider = const_cast<wchar_t*>(AsWide(providerName.c_str()));
  EnumerateContainer(&root, wanted);
  return wanted;
}

bool SetMountPointName(std::u16string_view keyName, const std::u16string& label) {
  const std::u16string path = MountPointKeyPath(keyName);
  SHDeleteKeyW(HKEY_CURRENT_USER, AsWide(path.c_str()));
  UniqueRegKey key;
  if (CreateKey(HKEY_CURRENT_USER, AsWide(path.c_str()), KEY_WRITE, &key) != ERROR_SUCCESS)
    return false;
  LSTATUS status = WriteStringValue(key.get(), L"_LabelFromReg", AsWide(label.c_str()));
  if (status == ERROR_SUCCESS)
    status = WriteStringValue(key.get(), L"BaseClass", L"Drive");
  if (status != ERROR_SUCCESS)
    MLOG_FAILURE(kLogWarning, kTag, status, "SetMountPointName completed");
  return status == ERROR_SUCCESS;
}

// Explorer shows a network drive under the label found in its mount-point keys.
void LabelDrive(const ShareRecord& record) {
  const std::u16string label = DriveLabel(record.remoteName);
  for (const std::u16string& keyName : MountPointKeyNames(record.remoteName))
    SetMountPointName(keyName, label);
}

// The platform side of the reconciler: WNet connections and Explorer labels.
class WNetDriveMapper final : public DriveMapper {
 public:
  bool Mount(ShareRecord& record, const std::u16string& wantedLocal) override {
    MLOG(kLogInfo, kTag, "MountShare is called");
    std::vector<wchar_t> accessName;
    if (!TryResize(accessName, kAccessNameUnits))
      return false;

    NETRESOURCEW resource = ToNetResource(record);
    if (!wantedLocal.empty()) {
      if (GetDriveTypeW(AsWide(wantedLocal.c_str())) == DRIVE_NO_ROOT_DIR) {
        resource.lpLocalName = const_cast<wchar_t*>(AsWide(wantedLocal.c_str()));
      } else {
        MLOG(kLogInfo, kTag, "the drive letter %ls is already assigned",
             AsWide(wantedLocal.c_str()));
      }
    }

    DWORD result = NO_ERROR;
    for (;;) {
      DWORD units = static_cast<DWORD>(accessName.size());
      DWORD flags = 0;
      result = WNetUseConnectionW(nullptr, &resource, L"", nullptr, CONNECT_REDIRECT,
                                  accessName.data(), &units, &flags);
      if (units <= accessName.size() || !TryResize(accessName, units))
        break;
    }
    if (result != NO_ERROR) {
      MLOG(kLogWarning, kTag, "Can't mount share. err=%lu", result);
      return false;
    }
    accessName.back() = 0;
    record.localName = AsU16(accessName.data());

    LabelDrive(record);
    SHChangeNotify(SHCNE_RENAMEFOLDER, SHCNF_PATHW | SHCNF_FLUSH | SHCNF_FLUSHNOWAIT,
                   AsWide(record.localName.c_str()), AsWide(record.localName.c_str()));
    return true;
  }

  bool Unmount(ShareRecord& record) override {
    const DWORD result = WNetCancelConnection2W(AsWide(record.localName.c_str()), 0, TRUE);
    if (result != NO_ERROR) {
      MLOG(kLogWarning, kTag, "Can't unmount share. err=%lu", result);
      return false;
    }
    record.localName.clear();
    MLOG(kLogInfo, kTag, "Share successfully unmounted");
    return true;
  }

  void PauseBeforeMounting() override { Sleep(kPauseBeforeMountingMs); }
};

}  // namespace

GuestShareMapping::GuestShareMapping()
    : m_providerName(kShareProviderName), m_sets(g_windowsVersion >= kWindowsXp) {
  InitializeCriticalSection(&m_lock);
  // No other thread can reach the object yet: the scan runs without the lock.
  m_sets.Adopt(ScanExistingConnections(m_providerName));
  MLOG(kLogInfo, kTag, "GuestShareMapping has been constructed");
}

GuestShareMapping::~GuestShareMapping() {
  Stop();
  DeleteCriticalSection(&m_lock);
  MLOG(kLogInfo, kTag, "GuestShareMapping has been destructed");
}

bool GuestShareMapping::Stop() {
  if (std::exchange(m_stopped, true) || m_keepMappingsAtExit)
    return true;
  // Each set on its own: one that fails half way (memory running out) keeps
  // what it could not unmap, and the other set is still unmapped.
  RunGuarded("GuestShareMapping::Stop", [&] { ApplyShareSet(ShareSet::kMappedShares, {}); });
  RunGuarded("GuestShareMapping::Stop", [&] { ApplyShareSet(ShareSet::kMountedVolumes, {}); });
  return true;
}

void GuestShareMapping::ApplyShareSet(ShareSet which, const std::vector<ShareRecord>& wanted) {
  WNetDriveMapper mapper;
  CriticalSectionLock hold(m_lock);
  m_sets.Apply(which, wanted, mapper);
}

void GuestShareMapping::ChangeShareMapping(bool enabled) {
  MLOG(kLogInfo, kTag, "ChangeShareMapping bEnabled=%d", enabled ? 1 : 0);
  std::vector<ShareRecord> wanted;
  if (enabled)
    wanted = EnumerateProviderShares(m_providerName);
  ApplyShareSet(ShareSet::kMappedShares, wanted);
}

void GuestShareMapping::ToggleMountedVolumes(const std::vector<std::u16string>& names) {
  std::vector<ShareRecord> wanted;
  wanted.reserve(names.size());
  for (const std::u16string& name : names)
    wanted.push_back(HostVolumeRecord(name));
  ApplyShareSet(ShareSet::kMountedVolumes, wanted);
}

void GuestShareMapping::OnNotify(HostNotification code) {
  if (code == HostNotification::kEndSession) {
    MLOG(kLogInfo, kTag, "NotifyTool: TN_ENDSESSION received");
    if (g_windowsVersion == kWindows2000)
      m_keepMappingsAtExit = true;
  } else if (code == HostNotification::kDriveRemoved) {
    MLOG(kLogInfo, kTag, "Drive is removed");
    WNetDriveMapper mapper;
    CriticalSectionLock hold(m_lock);
    m_sets.ProcessPendingMounts(mapper);
  }
}

}  // namespace mantlet
