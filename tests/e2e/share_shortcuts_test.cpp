// Links-folder shortcuts to the host's marked shares, refreshed by the
// worker after host events, with the share list and the platform code
// answered by the tools device stand-in.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "core/device_request.h"
#include "links_folder.h"
#include "test_paths.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

constexpr uint32_t kShareList = 0x8041;
constexpr uint32_t kPlatformCode = 0x8320;

class ShareShortcuts : public ToolTest {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    EmptyLinksFolder();
    ToolTest::SetUp();
  }
  void TearDown() override {
    ToolTest::TearDown();
    EmptyLinksFolder();
    CoUninitialize();
  }

  // The shares, and platform code 34 in word 5.
  void Answer(const std::vector<HostShareEntry>& shares) {
    DevResponse list;
    list.hasDescriptorData = true;
    list.descriptorData = EncodeHostShares(shares);
    list.tooSmallStatus = 0xF0000009;
    ASSERT_TRUE(device.SetResponse(kShareList, list, false));
    DevResponse platform;
    platform.patchOffset = 36;
    platform.patch = {34, 0, 0, 0};
    ASSERT_TRUE(device.SetResponse(kPlatformCode, platform, false));
  }
  static bool WaitForLinks(size_t count) {
    return WaitUntil([&] { return ReadLinksFolder().size() == count; }, 15000);
  }
};

TEST_F(ShareShortcuts, half_a_second_after_start_every_marked_share_has_its_shortcut) {
  Answer({{0x20, 1, "Music"}, {0x21, 4, "Films"}, {0x01, 2, "Unmarked"}, {0x20, 9, "Plain"}});
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitForLinks(3));
  const auto links = ReadLinksFolder();
  const struct {
    const wchar_t* name;
    const wchar_t* target;
    int icon;
  } expected[] = {{L"Music (Mac).lnk", L"\\\\cvf\\Music", -128},
                  {L"Films (Mac).lnk", L"\\\\cvf\\Films", -131},
                  {L"Plain (Mac).lnk", L"\\\\cvf\\Plain", 0}};
  for (const auto& e : expected) {
    ASSERT_TRUE(links.count(e.name)) << links.size();
    EXPECT_EQ(links.at(e.name).target, e.target);
    EXPECT_EQ(links.at(e.name).iconIndex, e.icon);
    EXPECT_EQ(_wcsicmp(links.at(e.name).iconPath.c_str(), e.icon ? ModulePath().c_str() : L""), 0);
  }

  const auto wait = device.Records(0, 0x8040).at(0);
  const auto list = device.Records(0, kShareList).at(0);
  EXPECT_GE((list.qpc - wait.qpc) * 1000 / list.qpcFrequency, 450);
  const auto listRequest = mantlet::DecodeDeviceRequest(list.block);
  ASSERT_TRUE(listRequest);
  EXPECT_EQ(listRequest->payload, (std::vector<uint8_t>{62, 0, 0, 0}));
  ASSERT_EQ(listRequest->buffers.size(), 1u);
  EXPECT_EQ(listRequest->buffers[0].byteCount, 256u);
  EXPECT_EQ(listRequest->buffers[0].flags & mantlet::kDeviceBufferWritable, 1u);
  const auto platform = device.Records(0, kPlatformCode).at(0);
  const auto platformRequest = mantlet::DecodeDeviceRequest(platform.block);
  ASSERT_TRUE(platformRequest);
  ASSERT_EQ(platformRequest->payload.size(), 248u);
  EXPECT_TRUE(platformRequest->buffers.empty());
  for (size_t word = 0; word < 62; ++word)
    EXPECT_EQ(platform.PayloadWord(word), word == 0 || word == 2 ? 1u : word == 5 ? 17u : 0u);

  // The next host event brings the next refresh; the platform code is kept.
  ASSERT_EQ(device.FireHostEvent(0), 1u);
  ASSERT_TRUE(WaitUntil([&] { return device.Records(0, kShareList).size() == 2; }, 15000));
  EXPECT_EQ(device.Records(0, kPlatformCode).size(), 1u);
}

// Which code gives which suffix is the unit tests' table, and a device that
// fails the request or asks again for ever is the device fault suite's; here
// a device that asks again a few times and then answers.
TEST_F(ShareShortcuts, platform_code_is_asked_again_while_the_device_says_so) {
  Answer({{0x20, 2, "Docs"}});
  DevResponse retry;
  retry.blockStatus = 0xF0000025;
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(device.SetResponse(kPlatformCode, retry, true));
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitForLinks(1));
  EXPECT_TRUE(ReadLinksFolder().count(L"Docs (Mac).lnk"));
  EXPECT_EQ(device.Records(0, kPlatformCode).size(), 3u);
}

TEST_F(ShareShortcuts, taken_names_get_a_number_and_the_users_link_is_left_as_it_was) {
  ASSERT_TRUE(MakeUserLink(L"Music (Mac).lnk", L"\\\\cvf\\Music"));
  WIN32_FILE_ATTRIBUTE_DATA before = {}, after = {};  // reading it changes only its access time
  const std::wstring userLink = LinksFolder() + L"\\Music (Mac).lnk";
  GetFileAttributesExW(userLink.c_str(), GetFileExInfoStandard, &before);
  Answer({{0x20, 1, "Music"}, {0x20, 1, "Films"}, {0x20, 1, "Docs"}, {0x20, 1, "DOCS"}});
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitForLinks(5));
  const auto links = ReadLinksFolder();
  for (const wchar_t* name :
       {L"Music (Mac) (1).lnk", L"Films (Mac).lnk", L"Docs (Mac).lnk", L"DOCS (Mac) (1).lnk"}) {
    EXPECT_TRUE(links.count(name));
  }
  EXPECT_EQ(links.at(L"Music (Mac) (1).lnk").target, L"\\\\cvf\\Music");
  GetFileAttributesExW(userLink.c_str(), GetFileExInfoStandard, &after);
  EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
  EXPECT_EQ(before.nFileSizeLow, after.nFileSizeLow);
}

TEST_F(ShareShortcuts, share_list_buffer_doubles_until_the_answer_fits) {
  std::vector<HostShareEntry> shares;
  for (int i = 0; i < 20; ++i)
    shares.push_back({0x20, 3, "Share number " + std::to_string(i)});  // 760 bytes in all
  Answer(shares);
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitForLinks(20));
  const auto requests = device.Records(0, kShareList);
  ASSERT_EQ(requests.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(requests[i].PayloadWord(4), 256u << i);
}

TEST_F(ShareShortcuts, bad_names_and_broken_lists_are_passed_over) {
  std::vector<uint8_t> list = EncodeHostShares({{0x20, 1, "Why?"},
                                                {0x20, 1, std::string(256, 'n')},
                                                {0x20, 1, "Good"},
                                                {0x20, 1, "Runs past the end"}});
  list[list.size() - 42] = 0xFF;  // the last entry's length now points past the answer
  DevResponse answer;
  answer.hasDescriptorData = true;
  answer.descriptorData = list;
  answer.tooSmallStatus = 0xF0000009;
  ASSERT_TRUE(device.SetResponse(kShareList, answer, false));
  ASSERT_EQ(StartTool(), 0);
  const std::wstring links = LinksFolder();
  ASSERT_TRUE(log.WaitFor(
      "failed to create shortcut for Why? in " + std::string(links.begin(), links.end()), 15000));
  ASSERT_TRUE(WaitForLinks(1));
  EXPECT_TRUE(ReadLinksFolder().count(L"Good (Host).lnk"));  // the preset word 5: 17

  // A share list the device refuses: logged, and no shortcut is tried.
  DevResponse refused;
  refused.blockStatus = 0xF0000001;
  ASSERT_TRUE(device.SetResponse(kShareList, refused, false));
  ASSERT_EQ(device.FireHostEvent(0), 1u);
  ASSERT_TRUE(log.WaitFor("failed to get shares", 15000));
  EXPECT_EQ(log.Count("failed to create shortcut"), 1u);
}

TEST(ShareIcons, groups_128_to_131_hold_seven_32_bit_images_from_16_to_512_px) {
  HMODULE module = LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  auto resource = [&](int id, LPCWSTR type) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    return found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
  };
  for (int id = 128; id <= 131; ++id) {
    const BYTE* group = resource(id, RT_GROUP_ICON);
    ASSERT_NE(group, nullptr) << id;
    ASSERT_EQ(group[4], 7) << id;
    std::vector<int> sizes;
    for (const BYTE* e = group + 6; e < group + 6 + 7 * 14; e += 14) {
      EXPECT_EQ(e[6], 32);  // bits per pixel
      const BYTE* image = resource(e[12] | e[13] << 8, RT_ICON);
      ASSERT_NE(image, nullptr);
      // Large images are PNG, whose width sits big-endian at offset 16.
      sizes.push_back(e[0] != 0 ? e[0] : image[18] << 8 | image[19]);
    }
    EXPECT_EQ(sizes, (std::vector<int>{512, 256, 128, 48, 32, 24, 16})) << id;
  }
  FreeLibrary(module);
}

}  // namespace
}  // namespace testsupport
