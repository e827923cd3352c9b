#include "settings/browser_flags.h"

#include <gtest/gtest.h>

namespace mantlet {
namespace {

TEST(BrowserFlags, groups_qualify_on_a_low_bit_and_no_high_bit) {
  const struct {
    uint32_t searches;
    uint32_t flags;
  } cases[] = {
      {0x0, 0x0},        {0x1, 0x1},
      {0x3, 0x0},  // a field with its high bit vetoes its group
      {0x5, 0x1},        {0x6, 0x0},
      {0x2, 0x0},        {0x10, 0x4},     // group 2 gives 0x4
      {0x100, 0x2},                       // group 3 gives 0x2
      {0x1000, 0x8},     {0x41010, 0xC},  // bits 4, 12 and 18
      {0x40000, 0x8},    {0x80000, 0x0},
      {0x50000, 0x8},    {0xC0000, 0x0},
      {0x55555, 0xF},    {0x1111 | 0x800, 0xD},  // group 3's veto leaves the others
      {0x100000, 0x0},                           // bits above 19 are no fields
      {0xFFF00001, 0x1}, {0xFFFFFFFF, 0x0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComputeBrowserFlags(static_cast<int32_t>(c.searches)), c.flags)
        << std::hex << c.searches;
  }
}

TEST(BrowserFlags, only_the_low_20_bits_are_something_to_report) {
  EXPECT_FALSE(HasSearchResults(0));
  EXPECT_FALSE(HasSearchResults(static_cast<int32_t>(0xFFF00000)));
  EXPECT_TRUE(HasSearchResults(0x3));
  EXPECT_TRUE(HasSearchResults(0x80000));
}

TEST(BrowserFlags, install_kind_from_the_bytes_of_the_previous_version) {
  EXPECT_EQ(InstallKindFromSize(0), InstallKind::kFreshInstall);
  EXPECT_EQ(InstallKindFromSize(1), InstallKind::kFreshInstall);  // the empty string
  EXPECT_EQ(InstallKindFromSize(2), InstallKind::kUpgrade);
  EXPECT_EQ(InstallKindFromSize(160), InstallKind::kUpgrade);
}

}  // namespace
}  // namespace mantlet
