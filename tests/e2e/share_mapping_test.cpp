// Host shares and volumes mapped to drive letters through the router and
// the shared-folders provider stand-in, whose drives are Wine's own.
#include <windows.h>
#include <winnetwk.h>

#include <gtest/gtest.h>

#include "netprov_control.h"
#include "scoped_registry.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

const std::wstring kMountPoints2 =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2";

class ShareMapping : public ToolTest {
 protected:
  // The provider's drives in letter order, as "D:Host Disk D|Y:Music".
  static std::string Mapped() {
    std::string out;
    for (const auto& [letter, share] : SharedFoldersScript::Drives()) {
      out += (out.empty() ? "" : "|") + std::string(1, static_cast<char>(letter)) + ":" +
             std::string(share.begin() + 6, share.end());
    }
    return out;
  }
  static ::testing::AssertionResult WaitForDrives(const std::string& expected) {
    if (WaitUntil([&] { return Mapped() == expected; }, 15000))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "drives: " << Mapped();
  }
  static void Shares(bool on) { ASSERT_TRUE(SendRecord(Record(3, on ? 1 : 0))); }
  static void Volumes(const std::vector<std::string>& names) {
    const Bytes text = Utf8Names(names);
    ASSERT_TRUE(SendRecord(Record(6, static_cast<uint32_t>(text.size()), text)));
  }
  // The host reports each drive the system removed.
  void DrivesRemoved(int count) {
    for (int i = 0; i < count; ++i)
      ASSERT_EQ(NotifyTool(10), 0);
  }

  SharedFoldersScript folders;
  ScopedKeyReset labels{HKEY_CURRENT_USER, kMountPoints2};
};

TEST_F(ShareMapping, command_3_maps_every_share_of_the_provider_and_labels_it) {
  folders.SetTree({L"Host Disk D", L"Music", L"Media/Photos", L"Media/Deep/Films"});
  folders.SetEnumBatch(1);  // the enumeration has to keep asking
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kMountPoints2 + L"\\##cvf#Music\\Old", L"x", L"y"));
  ASSERT_EQ(StartTool(), 0);
  Shares(true);
  ASSERT_TRUE(WaitForDrives("D:Host Disk D|W:Films|X:Photos|Y:Music"));
  EXPECT_EQ(GetDriveTypeW(L"X:\\"), static_cast<UINT>(DRIVE_REMOTE));
  EXPECT_EQ(log.Count("ChangeShareMapping bEnabled=1"), 1u);
  EXPECT_EQ(log.Count("MountShare is called"), 4u);
  for (const wchar_t* share : {L"Host Disk D", L"Music", L"Photos", L"Films"}) {
    for (const wchar_t* key : {L"\\##cvf#", L"\\cvf#"}) {
      std::wstring label, baseClass;
      EXPECT_TRUE(
          GetString(HKEY_CURRENT_USER, kMountPoints2 + key + share, L"_LabelFromReg", &label));
      EXPECT_EQ(label, std::wstring(share) + L" on 'cvf'");
      EXPECT_TRUE(
          GetString(HKEY_CURRENT_USER, kMountPoints2 + key + share, L"BaseClass", &baseClass));
      EXPECT_EQ(baseClass, L"Drive");
    }
  }
  EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kMountPoints2 + L"\\##cvf#Music\\Old", L"x"));
}

TEST_F(ShareMapping, new_shares_wait_until_the_host_reports_every_unmapped_drive_removed) {
  folders.SetTree({L"A", L"B", L"C"});
  ASSERT_EQ(StartTool(), 0);
  Shares(true);
  ASSERT_TRUE(WaitForDrives("W:C|X:B|Y:A"));
  folders.SetTree({L"C", L"D"});
  Shares(true);
  WorkerCaughtUp();
  EXPECT_EQ(Mapped(), "W:C");
  DrivesRemoved(1);
  EXPECT_EQ(Mapped(), "W:C");
  DrivesRemoved(1);
  EXPECT_EQ(Mapped(), "W:C|Y:D");
  const size_t mounts = log.Count("MountShare is called");
  DrivesRemoved(1);
  EXPECT_EQ(log.Count("MountShare is called"), mounts);
  EXPECT_EQ(folders.Connections("\\\\cvf\\C"), 1u);  // kept, never reconnected
  EXPECT_EQ(log.Count("Share successfully unmounted"), 2u);
}

TEST_F(ShareMapping, shares_and_volumes_come_and_go_each_with_their_own_command) {
  folders.SetTree({L"A"});
  folders.SetVolumes({L"Host Disk E", L"Data"});
  ASSERT_EQ(StartTool(), 0);
  Shares(true);
  Volumes({"Host Disk E", "Data"});
  ASSERT_TRUE(WaitForDrives("E:Host Disk E|X:Data|Y:A"));
  Shares(false);
  ASSERT_TRUE(WaitForDrives("E:Host Disk E|X:Data"));
  DrivesRemoved(1);
  ASSERT_TRUE(SendRecord(Record(6, 0)));  // an empty list
  ASSERT_TRUE(WaitForDrives(""));
  DrivesRemoved(2);
  Shares(true);
  EXPECT_TRUE(WaitForDrives("Y:A"));
}

TEST_F(ShareMapping, host_disk_whose_letter_is_taken_gets_one_of_the_systems_choice) {
  ScopedTakenDrives taken(L"E");
  folders.SetVolumes({L"Host Disk E"});
  ASSERT_EQ(StartTool(), 0);
  Volumes({"Host Disk E"});
  ASSERT_TRUE(WaitForDrives("Y:Host Disk E"));
  EXPECT_EQ(log.Count("the drive letter E: is already assigned"), 1u);
}

TEST_F(ShareMapping, connection_made_before_start_is_adopted_kept_and_unmapped_at_stop) {
  folders.SetTree({L"A", L"B"});
  folders.SetVolumes({L"V"});
  NETRESOURCEW resource = {};
  resource.dwType = RESOURCETYPE_DISK;
  resource.lpRemoteName = const_cast<wchar_t*>(L"\\\\cvf\\A");
  resource.lpLocalName = const_cast<wchar_t*>(L"K:");
  ASSERT_EQ(WNetAddConnection2W(&resource, nullptr, nullptr, 0), static_cast<DWORD>(NO_ERROR));
  ASSERT_TRUE(DefineDrive(L'L', "unc/elsewhere/public", DRIVE_REMOTE));  // not the provider's
  struct Forget {
    ~Forget() { RemoveDrive(L'L'); }
  } forget;

  ASSERT_EQ(StartTool(), 0);
  Shares(true);
  Volumes({"V"});
  ASSERT_TRUE(WaitForDrives("K:A|X:V|Y:B"));
  EXPECT_EQ(folders.Connections("\\\\cvf\\A"), 1u);  // the test's own
  ASSERT_EQ(StopTool(), 0);
  EXPECT_EQ(Mapped(), "");
  EXPECT_EQ(DriveMountPoint(L'L'), "unc/elsewhere/public");
}

TEST_F(ShareMapping, end_of_session_keeps_the_drives_only_on_windows_5_0) {
  folders.SetVolumes({L"V"});
  for (const bool windows2000 : {true, false}) {
    SCOPED_TRACE(windows2000 ? "win2k" : "win7");
    host.Close();
    ScopedWineVersion version(L"mantlet_host.exe", windows2000 ? L"win2k" : L"win7");
    ASSERT_EQ(host.Launch(), "load=ok");
    ASSERT_EQ(StartTool(), 0);
    const ULONGLONG sent = GetTickCount64();
    Volumes({"V"});
    ASSERT_TRUE(WaitForDrives("Y:V"));
    // Windows 5.0 gives the system two seconds before mounting.
    EXPECT_EQ(GetTickCount64() - sent >= 2000, windows2000);
    ASSERT_EQ(NotifyTool(7), 0);
    ASSERT_EQ(StopTool(), 0);
    EXPECT_EQ(Mapped(), windows2000 ? "Y:V" : "");
    SharedFoldersScript::DisconnectAll();
  }
  EXPECT_EQ(log.Count("NotifyTool: TN_ENDSESSION received"), 2u);
}

TEST_F(ShareMapping, failed_mount_is_logged_and_tried_again_by_the_next_command) {
  folders.SetVolumes({L"V", L"W"});
  folders.SetFailures({L"AddConnection3 \\\\cvf\\V 53"});
  ASSERT_EQ(StartTool(), 0);
  Volumes({"V", "W"});
  ASSERT_TRUE(log.WaitFor("Can't mount share. err=53", 15000));
  ASSERT_TRUE(WaitForDrives("Y:W"));
  folders.SetFailures({});
  Volumes({"V", "W"});
  EXPECT_TRUE(WaitForDrives("X:V|Y:W"));
  EXPECT_EQ(folders.Connections("\\\\cvf\\W"), 1u);  // kept all along, never reconnected
}

TEST_F(ShareMapping, with_every_drive_letter_taken_the_mount_fails_and_the_tool_carries_on) {
  folders.SetTree({L"A"});
  ASSERT_EQ(StartTool(), 0);
  {
    ScopedTakenDrives taken(ScopedTakenDrives::FreeLetters());
    ASSERT_EQ(ScopedTakenDrives::FreeLetters(), L"");
    Shares(true);
    ASSERT_TRUE(log.WaitFor("Can't mount share. err=85", 15000));
  }
  Shares(true);
  EXPECT_TRUE(WaitForDrives("Y:A"));
  EXPECT_EQ(host.Call("ping"), "pong");
}

// A drive whose cancellation the provider refuses stays connected but leaves
// the list, and no removal report is awaited for it: the new volume is mapped
// at once. The next start adopts the drive left behind and its stop unmaps it.
// The module treats every refusal alike, so one error stands for them all.
TEST_F(ShareMapping, refused_cancellation_holds_nothing_back_and_the_next_start_cleans_up) {
  folders.SetVolumes({L"V0", L"V1"});
  ASSERT_EQ(StartTool(), 0);
  Volumes({"V0"});
  ASSERT_TRUE(WaitForDrives("Y:V0"));
  folders.SetFailures({L"CancelConnection * 2401"});
  Volumes({"V1"});
  EXPECT_TRUE(log.WaitFor("Can't unmount share. err=2401", 15000));
  EXPECT_TRUE(WaitForDrives("X:V1|Y:V0"));
  EXPECT_EQ(log.Count("Share successfully unmounted"), 0u);
  folders.SetFailures({});
  ASSERT_EQ(StopTool(), 0);  // unmaps the one volume it still holds
  EXPECT_EQ(Mapped(), "Y:V0");
  ASSERT_EQ(StartTool(), 0);
  ASSERT_EQ(StopTool(), 0);
  EXPECT_EQ(Mapped(), "");
}

}  // namespace
}  // namespace testsupport
