// The host's side of the share shortcuts: the share list the tools device
// hands out, and the Links folder as a user or a test sees it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testenv {

struct HostShareEntry {
  uint32_t flags;
  uint16_t kind;
  std::string name;  // UTF-8
};

// The answer of the share-list request: one packed entry per share.
std::vector<uint8_t> EncodeHostShares(const std::vector<HostShareEntry>& shares);

struct LinkInfo {
  std::wstring target;  // empty when the file does not load as a shortcut
  std::wstring iconPath;
  int iconIndex = 0;
};

// The user's Links folder (COM initialised on the calling thread).
std::wstring LinksFolder();
// Every file of the folder by name, shortcuts read through IShellLinkW.
std::map<std::wstring, LinkInfo> ReadLinksFolder();
// A shortcut as a user makes one: a target and nothing of the module's.
bool MakeUserLink(const std::wstring& name, const std::wstring& target);
void EmptyLinksFolder();

}  // namespace testenv
