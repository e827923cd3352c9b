// The Links-folder steps linked in: share names compared as Windows compares
// file names. Under Wine a shortcut's tag cannot be read back, so the scan
// never finds one of the module's own; the test hands the folder step a scan
// that did.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <iterator>
#include <string>
#include <vector>

#include "core/handles.h"
#include "sharemapping/shortcut_folder.h"

namespace mantlet {
namespace {

std::vector<std::wstring> Shortcuts(const std::wstring& folder) {
  std::vector<std::wstring> paths;
  WIN32_FIND_DATAW found = {};
  HANDLE search = FindFirstFileW((folder + L"\\*.lnk").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return paths;
  do {
    paths.push_back(folder + L"\\" + found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return paths;
}

TEST(ShortcutFolder, share_present_under_any_case_of_any_script_is_not_written_again) {
  const struct {
    const char16_t *listed, *present;
    bool same;
  } pairs[] = {
      {u"\u0141\u00d3D\u0179", u"\u0142\u00f3d\u017a", true},  // Polish: beyond Latin-1
      {u"\u0391\u0398\u0389\u039d\u0391", u"\u03b1\u03b8\u03ae\u03bd\u03b1", true},
      {u"\u0421\u0401\u041b\u041e", u"\u0441\u0451\u043b\u043e", true},
      {u"Music", u"MUSIC", true},
      {u"Music", u"Musik", false},
      {u"A", u"\u00c4", false},  // no accent is ignored
  };
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring wideFolder =
      std::wstring(temp) + L"links-case-" + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryW(wideFolder.c_str(), nullptr));
  const std::u16string folder = AsU16(wideFolder.c_str());
  for (size_t i = 0; i < std::size(pairs); ++i) {
    const auto& p = pairs[i];
    // A valid shortcut found under the other case: written again (a new
    // file) only when the names differ.
    ShortcutFolderScan scan;
    scan.present.push_back(p.present);
    ApplyShortcutScan(folder, {HostShare{p.listed, 0x20, 0}}, scan);
    const std::vector<std::wstring> written = Shortcuts(wideFolder);
    EXPECT_EQ(written.size(), p.same ? 0u : 1u) << "pair " << i;
    for (const std::wstring& path : written)
      DeleteFileW(path.c_str());
  }
  RemoveDirectoryW(wideFolder.c_str());
  CoUninitialize();
}

}  // namespace
}  // namespace mantlet
