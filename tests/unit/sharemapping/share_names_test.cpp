#include "sharemapping/share_names.h"

#include <gtest/gtest.h>

using namespace mantlet;

TEST(ShareNames, host_disk_letter_only_for_an_exact_host_disk_name) {
  const struct {
    std::u16string_view remote;
    std::optional<char16_t> letter;
  } cases[] = {
      {u"\\\\cvf\\Host Disk D", u'D'},    {u"\\\\x\\Host Disk Z", u'Z'},
      {u"\\\\cvf\\Host Disk d", {}},      {u"\\\\cvf\\Host Disk DD", {}},
      {u"\\\\cvf\\host disk D", {}},      {u"\\\\cvf\\Host DiskD", {}},
      {u"\\cvf\\Host Disk D", {}},        {u"\\\\cvf\\x\\Host Disk D", {}},
      {u"\\\\cvfHost Disk D", {}},        {u"\\\\\\Host Disk D", u'D'},
      {u"\\\\cvf\\Host Disk \u00c4", {}}, {u"", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HostDiskLetter(c.remote), c.letter) << std::string(c.remote.begin(), c.remote.end());
}

TEST(ShareNames, label_and_mount_point_keys) {
  const struct {
    std::u16string_view remote, label, first, second;
  } cases[] = {
      {u"\\\\cvf\\Host Disk C", u"Host Disk C on 'cvf'", u"##cvf#Host Disk C", u"cvf#Host Disk C"},
      {u"\\\\cvf\\Media\\Photos", u"Photos on 'cvf'", u"##cvf#Media#Photos", u"cvf#Media#Photos"},
      {u"\\\\cvf", u"cvf", u"##cvf", u"cvf"},
      {u"\\\\cvf\\", u"\\\\cvf\\ on 'cvf'", u"##cvf#", u"cvf#"},
      {u"plain", u"plain", u"plain", u"ain"},
      {u"\\", u"\\", u"#", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DriveLabel(c.remote), c.label);
    const auto keys = MountPointKeyNames(c.remote);
    EXPECT_EQ(keys[0], c.first);
    EXPECT_EQ(keys[1], c.second);
  }
  EXPECT_EQ(MountPointKeyPath(u"cvf#Music"),
            u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\cvf#Music");
}
