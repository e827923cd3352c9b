// The Win32 steps of the Links-folder refresh, apart from fetching the
// share list; the refresh, its benchmark and its component tests use them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "sharemapping/host_share_list.h"
#include "sharemapping/shortcut_naming.h"

namespace mantlet {

struct ShortcutFolderScan {
  std::vector<std::u16string> stale;    // paths of the system's shortcuts to delete
  std::vector<std::u16string> present;  // share names that have a valid shortcut
};

// Share names as Windows compares file names: ordinal, ignoring case, with
// the system's case table for every script.
bool SameShareName(std::u16string_view a, std::u16string_view b);

// Reads every "*.lnk" of the folder and sorts it by ClassifyShortcut.
ShortcutFolderScan ScanShortcutFolder(const std::u16string& folder,
                                      const std::vector<HostShare>& shares);

// Loads a shortcut and reads its tag and target (COM initialised).
ShortcutReading ReadShareShortcut(const std::u16string& path);

// Writes the share's shortcut under the first free name (COM initialised).
HRESULT CreateShareShortcut(const std::u16string& folder, const HostShare& share);

// Deletes the scan's stale shortcuts and creates one for each share that
// has none present.
void ApplyShortcutScan(const std::u16string& folder, const std::vector<HostShare>& shares,
                       const ShortcutFolderScan& scan);

// Brings the folder in line with the shares: scans it, then applies the scan.
void UpdateShortcutFolder(const std::u16string& folder, const std::vector<HostShare>& shares);

}  // namespace mantlet
