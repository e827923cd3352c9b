#include "links_folder.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <cstring>

namespace testenv {

using Microsoft::WRL::ComPtr;

std::vector<uint8_t> EncodeHostShares(const std::vector<HostShareEntry>& shares) {
  std::vector<uint8_t> out;
  for (const HostShareEntry& s : shares) {
    std::vector<uint8_t> entry(24, 0);
    entry.insert(entry.end(), s.name.begin(), s.name.end());
    entry.push_back(0);
    const uint32_t length = static_cast<uint32_t>(entry.size());
    memcpy(entry.data(), &length, 4);
    memcpy(entry.data() + 4, &s.flags, 4);
    memcpy(entry.data() + 8, &s.kind, 2);
    out.insert(out.end(), entry.begin(), entry.end());
  }
  return out;
}

std::wstring LinksFolder() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Links, 0, nullptr, &path)))
    folder = path;
  CoTaskMemFree(path);
  return folder;
}

std::map<std::wstring, LinkInfo> ReadLinksFolder() {
  const std::wstring folder = LinksFolder();
  std::map<std::wstring, LinkInfo> found;
  WIN32_FIND_DATAW file = {};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &file);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &file)) {
    if (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      continue;
    LinkInfo info;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> persist;
    wchar_t text[MAX_PATH] = {};
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&link))) &&
        SUCCEEDED(link.As(&persist)) &&
        SUCCEEDED(persist->Load((folder + L"\\" + file.cFileName).c_str(), STGM_READ))) {
      link->GetPath(text, MAX_PATH, nullptr, SLGP_UNCPRIORITY);
      info.target = text;
      link->GetIconLocation(text, MAX_PATH, &info.iconIndex);
      info.iconPath = text;
    }
    found[file.cFileName] = info;
  }
  if (search != INVALID_HANDLE_VALUE)
    FindClose(search);
  return found;
}

bool MakeUserLink(const std::wstring& name, const std::wstring& target) {
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> persist;
  return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&link))) &&
         SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link.As(&persist)) &&
         SUCCEEDED(persist->Save((LinksFolder() + L"\\" + name).c_str(), TRUE));
}

void EmptyLinksFolder() {
  for (const auto& [name, info] : ReadLinksFolder())
    DeleteFileW((LinksFolder() + L"\\" + name).c_str());
}

}  // namespace testenv
