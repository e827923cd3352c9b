#include "settings/browser_flags.h"

#include <gtest/gtest.h>

using namespace mantlet;

// The report's own cases (group 1, its veto, groups 2 and 4 together, bits
// above 19 alone, the install kind of a one-byte or a real version) are pinned
// end to end; these are the decisions those cases leave out.
TEST(BrowserFlags, group_flags_and_vetoes_the_report_cases_leave_out) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      // clang-format off
      {0x100, 0x2},           // group 3 gives 0x2
      {0x10, 0x4},            // group 2 gives 0x4
      {0x1000, 0x8},          // group 4 counts on its first field too
      {0xC0000, 0x0},         // group 4's last field vetoes
      {0x1111 | 0x800, 0xD},  // group 3's veto leaves the others
      {0xFFF00001, 0x1},      // bits above 19 neither count nor veto
      // clang-format on
  };
  for (const auto& [searches, flags] : cases)
    EXPECT_EQ(ComputeBrowserFlags(static_cast<int32_t>(searches)), flags) << std::hex << searches;
  // Two bytes are the smallest previous version that means an upgrade.
  EXPECT_EQ(InstallKindFromSize(2), InstallKind::kUpgrade);
}
