#include "sharemapping/share_shortcuts.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <new>
#include <optional>

#include "core/bytes.h"
#include "core/device.h"
#include "core/device_request.h"
#include "core/handles.h"
#include "core/this_module.h"
#include "core/log.h"
#include "sharemapping/host_answers.h"
#include "sharemapping/shortcut_folder.h"

namespace mantlet {
namespace {

using Microsoft::WRL::ComPtr;

constexpr char kTag[] = "SHAREMAPPING";
constexpr uint32_t kShareListSelector = 62;
constexpr size_t kShareListFirstBytes = 256;
// Room for tens of thousands of shares. A device that calls every buffer too
// small would otherwise have the worker zero and send buffers up to what a
// 32-bit descriptor can count, 2 GiB, on every refresh.
constexpr size_t kShareListMaxBytes = 16u << 20;
constexpr int kPlatformCodeAttempts = 1000;

// {3D8A52C1-7E04-4B9F-A6C2-91F0E5B7D348}, 2: marks the shortcuts this module wrote.
constexpr PROPERTYKEY kShortcutTagKey = {
    {0x3D8A52C1, 0x7E04, 0x4B9F, {0xA6, 0xC2, 0x91, 0xF0, 0xE5, 0xB7, 0xD3, 0x48}}, 2};

// The host's share list, written by the device into a buffer of ours that
// doubles while the device finds it too small.
bool GetHostShares(std::vector<uint8_t>& answer) {
  UniqueFile device = OpenToolsDevice();
  if (!device)
    return false;
  size_t size = kShareListFirstBytes;
  for (;;) {
    DeviceRequest request;
    request.code = kHostShareListRequest;
    request.payload.resize(4);
    StoreU32(request.payload.data(), kShareListSelector);
    std::optional<DeviceCall> call;
    try {
      call.emplace(std::vector<uint8_t>{}, size);
    } catch (const std::bad_alloc&) {
      return false;
    }
    request.buffers.push_back(DeviceBuffer{reinterpret_cast<uintptr_t>(call->data()),
                                           static_cast<uint32_t>(size), kDeviceBufferWritable});
    call->block() = EncodeDeviceRequest(request);
    if (!call->Send(device.get()).answered())
      return false;
    const ShareListStep step = ReadShareListAnswer(call->block(), size);
    if (step.kind == ShareListStep::Kind::kDone) {
      answer.assign(call->data(), call->data() + step.bytes);
      return true;
    }
    if (step.kind != ShareListStep::Kind::kGrow || size >= kShareListMaxBytes)
      return false;
    size = step.bytes;
  }
}

std::optional<uint32_t> AskHostPlatformCode() {
  UniqueFile device = OpenToolsDevice();
  if (!device)
    return std::nullopt;
  DeviceRequest request;
  request.code = kHostPlatformCodeRequest;
  request.payload.assign(kPlatformCodePayloadBytes, 0);
  StoreU32(request.payload.data(), 1);
  StoreU32(request.payload.data() + 2 * 4, 1);
  StoreU32(request.payload.data() + kPlatformCodeWord * 4, 17);
  // The device may ask for the request again at once; one that never stops
  // asking would hold the worker thread (and so the tool's stop) for ever.
  for (int attempt = 0; attempt < kPlatformCodeAttempts; ++attempt) {
    DeviceCall call(EncodeDeviceRequest(request));
    if (!call.Send(device.get()).answered())
      return std::nullopt;
    const PlatformCodeAnswer answer = ReadPlatformCodeAnswer(call.block());
    if (answer.kind == PlatformCodeAnswer::Kind::kAskAgain)
      continue;
    if (answer.kind != PlatformCodeAnswer::Kind::kCode)
      return std::nullopt;
    return answer.code;
  }
  return std::nullopt;
}

// The per-process values below are computed on the worker thread, once.
std::optional<uint32_t> HostPlatformCode() {
  static bool asked = false;
  static std::optional<uint32_t> code;
  if (!asked) {
    asked = true;
    code = AskHostPlatformCode();
  }
  return code;
}

const std::u16string& ModulePath() {
  static const std::u16string path = [] {
    wchar_t buffer[kShortcutPathUnits] = {};
    GetModuleFileNameW(ThisModule(), buffer, kShortcutPathUnits);
    buffer[kShortcutPathUnits - 1] = 0;
    return std::u16string(AsU16(buffer));
  }();
  return path;
}

using KnownFolderPathFn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);

// Systems older than 6.0 have no known folders: the refresh then does nothing.
KnownFolderPathFn KnownFolderPathFunction() {
  static const KnownFolderPathFn function = [] {
    const HMODULE shell = GetModuleHandleW(L"shell32.dll");
    return shell ? LookUpProc<KnownFolderPathFn>(shell, "SHGetKnownFolderPath") : nullptr;
  }();
  return function;
}

bool FileExists(const std::u16string& path) {
  return GetFileAttributesW(AsWide(path.c_str())) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool SameShareName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;  // the ordinal comparison matches unit for unit
  if (a.empty())
    return true;  // an empty view may carry no pointer to hand over
  return CompareStringOrdinal(AsWide(a.data()), static_cast<int>(a.size()), AsWide(b.data()),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

ShortcutReading ReadShareShortcut(const std::u16string& path) {
  ShortcutReading reading;
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;
  ComPtr<IPropertyStore> store;
  if (FAILED(
          CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
      FAILED(link.As(&file)) || FAILED(file->Load(AsWide(path.c_str()), STGM_READ)) ||
      FAILED(link.As(&store))) {
    return reading;
  }
  PROPVARIANT value;
  PropVariantInit(&value);
  if (FAILED(store->GetValue(kShortcutTagKey, &value)))
    return reading;
  const bool present = value.vt != VT_EMPTY;
  reading.tag = value.vt == VT_UI4 ? value.ulVal : 0;
  PropVariantClear(&value);
  if (!present)
    return reading;  // not one of ours

  wchar_t target[kShortcutPathUnits] = {};
  const HRESULT hr = link->GetPath(target, kShortcutPathUnits, nullptr, SLGP_UNCPRIORITY);
  if (FAILED(hr))
    return reading;
  reading.outcome =
      hr == S_OK ? ShortcutReading::Outcome::kPath : ShortcutReading::Outcome::kNoPath;
  target[kShortcutPathUnits - 1] = 0;
  reading.target = AsU16(target);
  return reading;
}

ShortcutFolderScan ScanShortcutFolder(const std::u16string& folder,
                                      const std::vector<HostShare>& shares) {
  ShortcutFolderScan scan;
  const std::u16string pattern = folder + u"\\*.lnk";
  if (pattern.size() >= kShortcutPathUnits)
    return scan;  // a cut pattern would search another folder
  WIN32_FIND_DATAW found = {};
  UniqueFind search(FindFirstFileW(AsWide(pattern.c_str()), &found));
  if (!search)
    return scan;
  do {
    const std::u16string path = folder + u"\\" + AsU16(found.cFileName);
    if (path.size() >= kShortcutPathUnits)
      continue;
    ShortcutVerdict verdict = ClassifyShortcut(ReadShareShortcut(path), shares, &SameShareName);
    if (verdict.kind == ShortcutVerdict::Kind::kPresent)
      scan.present.push_back(std::move(verdict.shareName));
    else if (verdict.kind == ShortcutVerdict::Kind::kStale)
      scan.stale.push_back(path);
  } while (FindNextFileW(search.get(), &found));
  return scan;
}

HRESULT CreateShareShortcut(const std::u16string& folder, const HostShare& share) {
  const std::optional<std::u16string> path =
      ChooseShortcutFileName(folder, share.name, ShortcutSuffix(HostPlatformCode()), &FileExists);
  if (!path)
    return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);

  ComPtr<IShellLinkW> link;
  HRESULT hr =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link));
  if (FAILED(hr))
    return hr;
  const std::u16string target = ShortcutTarget(share.name);
  if (FAILED(hr = link->SetPath(AsWide(target.c_str()))))
    return hr;
  if (share.kind >= 1 && share.kind <= 4)
    link->SetIconLocation(AsWide(ModulePath().c_str()), -(127 + static_cast<int>(share.kind)));

  ComPtr<IPropertyStore> store;
  if (FAILED(hr = link.As(&store)))
    return hr;
  PROPVARIANT tag;
  PropVariantInit(&tag);
  tag.vt = VT_UI4;
  tag.ulVal = kShortcutTagValue;
  if (FAILED(hr = store->SetValue(kShortcutTagKey, tag)) || FAILED(hr = store->Commit()))
    return hr;

  ComPtr<IPersistFile> file;
  if (FAILED(hr = link.As(&file)))
    return hr;
  return file->Save(AsWide(path->c_str()), TRUE);
}

void ApplyShortcutScan(const std::u16string& folder, const std::vector<HostShare>& shares,
                       const ShortcutFolderScan& scan) {
  for (const std::u16string& path : scan.stale)
    DeleteFileW(AsWide(path.c_str()));
  for (const HostShare& share : shares) {
    if (IsPresent(scan.present, share.name, &SameShareName))
      continue;
    if (FAILED(CreateShareShortcut(folder, share))) {
      LogWrite(kTag, kModuleName, kLogError, "failed to create shortcut for %ls in %ls",
               AsWide(share.name.c_str()), AsWide(folder.c_str()));
    }
  }
}

void UpdateShortcutFolder(const std::u16string& folder, const std::vector<HostShare>& shares) {
  ApplyShortcutScan(folder, shares, ScanShortcutFolder(folder, shares));
}

void RefreshShareShortcuts() {
  std::vector<HostShare> shares;
  std::vector<uint8_t> answer;
  if (GetHostShares(answer))
    shares = ParseHostShares(answer, kShareWantsShortcut);
  else
    LogWrite(kTag, kModuleName, kLogError, "failed to get shares");

  const KnownFolderPathFn knownFolderPath = KnownFolderPathFunction();
  PWSTR folder = nullptr;
  if (knownFolderPath == nullptr)
    return;
  if (SUCCEEDED(knownFolderPath(FOLDERID_Links, 0, nullptr, &folder)))
    UpdateShortcutFolder(AsU16(folder), shares);
  CoTaskMemFree(folder);
}

}  // namespace mantlet
