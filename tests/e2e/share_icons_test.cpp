// The icons the share shortcuts point at, read from the built module (the
// shortcuts themselves are tests/scenarios/share_shortcuts.scenario).
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "test_paths.h"

namespace testenv {
namespace {

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
}  // namespace testenv
