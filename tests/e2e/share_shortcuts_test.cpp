// Links-folder shortcuts to the host's marked shares, refreshed by the
// worker after host events, with the share list and the platform code
// answered by the tools device stand-in.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "test_paths.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

using Microsoft::WRL::ComPtr;
namespace fs = std::filesystem;

constexpr uint32_t kShareList = 0x8041;
constexpr uint32_t kPlatformCode = 0x8320;

struct HostShare {
  uint32_t flags;
  uint16_t kind;
  std::string name;
};

Bytes ShareList(const std::vector<HostShare>& shares) {
  Bytes out;
  for (const HostShare& s : shares) {
    Bytes e(24, 0);
    e.insert(e.end(), s.name.begin(), s.name.end());
    e.push_back(0);
    const uint32_t length = static_cast<uint32_t>(e.size());
    memcpy(e.data(), &length, 4);
    memcpy(e.data() + 4, &s.flags, 4);
    memcpy(e.data() + 8, &s.kind, 2);
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

struct Link {
  std::wstring target;
  std::wstring iconPath;
  int iconIndex = 0;
};

class ShareShortcuts : public ToolTest {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    PWSTR path = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Links, 0, nullptr, &path)));
    links = path;
    CoTaskMemFree(path);
    EmptyLinks();
    ToolTest::SetUp();
  }
  void TearDown() override {
    ToolTest::TearDown();
    EmptyLinks();
    CoUninitialize();
  }
  void EmptyLinks() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(links, ignored))
      fs::remove(entry.path(), ignored);
  }

  void Answer(const Bytes& list, uint32_t platformStatus = 0, uint32_t platformCode = 34) {
    DevResponse shares;
    shares.hasDescriptorData = true;
    shares.descriptorData = list;
    shares.tooSmallStatus = 0xF0000009;
    ASSERT_TRUE(device.SetResponse(kShareList, shares, false));
    DevResponse platform;
    platform.blockStatus = platformStatus;
    platform.patchOffset = 36;
    platform.patch = {static_cast<uint8_t>(platformCode), 0, 0, 0};
    ASSERT_TRUE(device.SetResponse(kPlatformCode, platform, false));
  }

  std::map<std::wstring, Link> Links() {
    std::map<std::wstring, Link> found;
    for (const auto& entry : fs::directory_iterator(links)) {
      Link link;
      ComPtr<IShellLinkW> shell;
      ComPtr<IPersistFile> file;
      wchar_t text[MAX_PATH] = {};
      if (entry.path().extension() == L".lnk" &&
          SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_PPV_ARGS(&shell))) &&
          SUCCEEDED(shell.As(&file)) && SUCCEEDED(file->Load(entry.path().c_str(), STGM_READ))) {
        shell->GetPath(text, MAX_PATH, nullptr, SLGP_UNCPRIORITY);
        link.target = text;
        shell->GetIconLocation(text, MAX_PATH, &link.iconIndex);
        link.iconPath = text;
      }
      found[entry.path().filename().wstring()] = link;
    }
    return found;
  }
  bool WaitForLinks(size_t count) {
    return WaitUntil([&] { return Links().size() == count; }, 15000);
  }
  // A shortcut as a user would make one: no tag of the system's.
  void UserLink(const std::wstring& name, const std::wstring& target) {
    ComPtr<IShellLinkW> shell;
    ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&shell))));
    shell->SetPath(target.c_str());
    ASSERT_TRUE(SUCCEEDED(shell.As(&file)));
    ASSERT_TRUE(SUCCEEDED(file->Save((links + L"\\" + name).c_str(), TRUE)));
  }

  std::wstring links;
};

TEST_F(ShareShortcuts, half_a_second_after_start_every_marked_share_has_its_shortcut) {
  Answer(ShareList(
      {{0x20, 1, "Music"}, {0x21, 4, "Films"}, {0x01, 2, "Unmarked"}, {0x20, 9, "Plain"}}));
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitForLinks(3));
  const std::wstring module = ModulePath();
  const std::map<std::wstring, Link> expected = {
      {L"Music (Mac).lnk", {L"\\\\cvf\\Music", module, -128}},
      {L"Films (Mac).lnk", {L"\\\\cvf\\Films", module, -131}},
      {L"Plain (Mac).lnk", {L"\\\\cvf\\Plain", L"", 0}}};
  const auto found = Links();
  for (const auto& [name, link] : expected) {
    ASSERT_TRUE(found.count(name)) << std::string(name.begin(), name.end());
    EXPECT_EQ(found.at(name).target, link.target);
    EXPECT_EQ(_wcsicmp(found.at(name).iconPath.c_str(), link.iconPath.c_str()), 0);
    EXPECT_EQ(found.at(name).iconIndex, link.iconIndex);
  }

  const auto wait = device.Records(0, 0x8040).at(0);
  const auto list = device.Records(0, kShareList).at(0);
  EXPECT_GE((list.qpc - wait.qpc) * 1000 / list.qpcFrequency, 450);
  ASSERT_EQ(list.block.size(), 40u);
  EXPECT_EQ(list.PayloadWord(0), 62u);
  EXPECT_EQ(list.block[10], 1);            // one descriptor
  EXPECT_EQ(list.PayloadWord(4), 256u);    // its byte count
  EXPECT_EQ(list.PayloadWord(5) & 1, 1u);  // the device writes
  const auto platform = device.Records(0, kPlatformCode).at(0);
  ASSERT_EQ(platform.block.size(), 264u);
  for (size_t word = 0; word < 62; ++word)
    EXPECT_EQ(platform.PayloadWord(word), word == 0 || word == 2 ? 1u : word == 5 ? 17u : 0u);

  // The next burst of host events brings the next refresh; the platform
  // code is not asked again.
  ASSERT_EQ(device.FireHostEvent(0), 1u);
  ASSERT_TRUE(WaitUntil([&] { return device.Records(0, kShareList).size() == 2; }, 15000));
  EXPECT_EQ(device.Records(0, kPlatformCode).size(), 1u);
}

TEST_F(ShareShortcuts, name_suffix_follows_the_platform_code_for_the_life_of_the_module) {
  const struct {
    uint32_t status, code;
    const wchar_t* name;
  } cases[] = {{0, 17, L"Docs (Host).lnk"},
               {0, 33, L"Docs (Host).lnk"},
               {0, 18, L"Docs.lnk"},
               {0xF0000001, 34, L"Docs.lnk"}};
  for (const auto& c : cases) {
    host.Close();
    device.Reset();
    EmptyLinks();
    Answer(ShareList({{0x20, 2, "Docs"}}), c.status, c.code);
    ASSERT_EQ(host.Launch(), "load=ok");
    ASSERT_EQ(StartTool(), 0);
    ASSERT_TRUE(WaitForLinks(1));
    EXPECT_TRUE(Links().count(c.name)) << c.code;
  }
  // A retry status asks again at once.
  host.Close();
  device.Reset();
  EmptyLinks();
  Answer(ShareList({{0x20, 2, "Docs"}}));
  DevResponse retry;
  retry.blockStatus = 0xF0000025;
  ASSERT_TRUE(device.SetResponse(kPlatformCode, retry, true));
  ASSERT_EQ(host.Launch(), "load=ok");
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitForLinks(1));
  EXPECT_TRUE(Links().count(L"Docs (Mac).lnk"));
  EXPECT_EQ(device.Records(0, kPlatformCode).size(), 2u);
}

TEST_F(ShareShortcuts, taken_names_get_a_number_and_users_own_links_stay_untouched) {
  UserLink(L"Music (Mac).lnk", L"\\\\cvf\\Music");
  UserLink(L"Mine.lnk", L"\\\\cvf\\Films");
  const auto before = fs::last_write_time(links + L"\\Music (Mac).lnk");
  const auto size = fs::file_size(links + L"\\Music (Mac).lnk");
  Answer(ShareList({{0x20, 1, "Music"}, {0x20, 1, "Films"}, {0x20, 1, "Docs"}, {0x20, 1, "DOCS"}}));
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitForLinks(6));
  const auto found = Links();
  for (const wchar_t* name : {L"Music (Mac) (1).lnk", L"Films (Mac).lnk", L"Docs (Mac).lnk",
                              L"DOCS (Mac) (1).lnk", L"Mine.lnk"}) {
    EXPECT_TRUE(found.count(name)) << std::string(name, name + wcslen(name));
  }
  EXPECT_EQ(found.at(L"Music (Mac) (1).lnk").target, L"\\\\cvf\\Music");
  EXPECT_EQ(fs::last_write_time(links + L"\\Music (Mac).lnk"), before);
  EXPECT_EQ(fs::file_size(links + L"\\Music (Mac).lnk"), size);
  EXPECT_EQ(found.at(L"Mine.lnk").target, L"\\\\cvf\\Films");
}

TEST_F(ShareShortcuts, share_list_buffer_doubles_until_the_answer_fits) {
  std::vector<HostShare> shares;
  for (int i = 0; i < 20; ++i)
    shares.push_back({0x20, 3, "Share number " + std::to_string(i)});
  Answer(ShareList(shares));  // 20 entries of 40 bytes and more: over 512 bytes
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitForLinks(20));
  const auto requests = device.Records(0, kShareList);
  ASSERT_EQ(requests.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(requests[i].PayloadWord(4), 256u << i);
}

TEST_F(ShareShortcuts, bad_names_and_a_broken_list_are_passed_over) {
  Bytes list = ShareList({{0x20, 1, "Why?"},
                          {0x20, 1, std::string(256, 'n')},
                          {0x20, 1, "Good"},
                          {0x20, 1, "Runs past the end"}});
  list[list.size() - 42] = 0xFF;  // the last entry's length now points past the answer
  Answer(list);
  UserLink(L"Mine.lnk", L"\\\\cvf\\Good");
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(log.WaitFor(
      "failed to create shortcut for Why? in " + std::string(links.begin(), links.end()), 15000));
  ASSERT_TRUE(WaitForLinks(2));
  EXPECT_TRUE(Links().count(L"Good (Mac).lnk"));

  // A share list the device refuses: logged, and the user's link stays.
  DevResponse refused;
  refused.blockStatus = 0xF0000001;
  ASSERT_TRUE(device.SetResponse(kShareList, refused, false));
  ASSERT_EQ(device.FireHostEvent(0), 1u);
  ASSERT_TRUE(log.WaitFor("failed to get shares", 15000));
  EXPECT_TRUE(Links().count(L"Mine.lnk"));
  EXPECT_EQ(log.Count("failed to create shortcut"), 1u);
}

TEST(ShareIcons, groups_128_to_131_hold_seven_32_bit_images_from_16_to_512_px) {
  HMODULE module = LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
#pragma pack(push, 2)
  struct GroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
  };
#pragma pack(pop)
  for (int id = 128; id <= 131; ++id) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    ASSERT_NE(found, nullptr) << id;
    const auto* group = static_cast<const WORD*>(LockResource(LoadResource(module, found)));
    ASSERT_EQ(group[2], 7) << id;
    std::vector<int> sizes;
    for (int i = 0; i < 7; ++i) {
      const auto& e = reinterpret_cast<const GroupEntry*>(group + 3)[i];
      EXPECT_EQ(e.bitCount, 32);
      HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(e.id), RT_ICON);
      ASSERT_NE(image, nullptr);
      const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, image)));
      // Large images are PNG, whose width sits big-endian at offset 16.
      sizes.push_back(e.width != 0 ? e.width : bytes[18] << 8 | bytes[19]);
    }
    EXPECT_EQ(sizes, (std::vector<int>{512, 256, 128, 48, 32, 24, 16})) << id;
  }
  FreeLibrary(module);
}

}  // namespace
}  // namespace testsupport
