#include "sharemapping/share_reconciler.h"

#include <gtest/gtest.h>

using namespace mantlet;
namespace {

using List = std::vector<std::u16string>;

// Hands out letters from Z down and records every call, in order.
struct FakeDrives : DriveMapper {
  List calls;
  std::u16string failing;
  char16_t next = u'Z';

  bool Mount(ShareRecord& r, const std::u16string& wantedLocal) override {
    calls.push_back(u"mount " + r.remoteName + u" " + wantedLocal);
    if (r.remoteName == failing)
      return false;
    r.localName = wantedLocal.empty() ? std::u16string{next--, u':'} : wantedLocal;
    return true;
  }
  bool Unmount(ShareRecord& r) override {
    calls.push_back(u"unmount " + r.localName);
    return true;
  }
  void PauseBeforeMounting() override { calls.push_back(u"pause"); }
};

ShareRecord Share(std::u16string name) {
  ShareRecord r = HostVolumeRecord(name);
  r.comment = u"from the provider";
  return r;
}

List Drives(const ShareReconciler& sets, ShareSet which) {
  List out;
  for (const ShareRecord& r : sets.Set(which))
    out.push_back(r.localName + u"=" + r.remoteName.substr(6));
  return out;
}

}  // namespace

TEST(ShareReconciler, same_share_ignores_drive_display_type_comment_and_target) {
  ShareRecord a = Share(u"A"), b = a;
  b.localName = u"Q:";
  b.displayType = 7;
  b.comment = u"other";
  b.target = ShareSet::kMountedVolumes;
  EXPECT_TRUE(SameShare(a, b));
  for (auto change :
       {+[](ShareRecord& r) { r.remoteName = u"\\\\cvf\\a"; }, +[](ShareRecord& r) { r.type = 0; },
        +[](ShareRecord& r) { r.scope = 1; }, +[](ShareRecord& r) { r.usage = 3; },
        +[](ShareRecord& r) { r.provider = u"x"; }}) {
    ShareRecord c = a;
    change(c);
    EXPECT_FALSE(SameShare(a, c));
  }
}

TEST(ShareReconciler, keeps_mapped_shares_mounts_new_ones_once_and_unmounts_vanished_ones) {
  FakeDrives drives;
  ShareReconciler sets(true);
  ShareRecord adopted = Share(u"Kept");
  adopted.localName = u"K:";
  sets.Adopt({adopted});
  sets.Apply(ShareSet::kMappedShares, {Share(u"Kept"), Share(u"New"), Share(u"New")}, drives);
  EXPECT_EQ(Drives(sets, ShareSet::kMappedShares), (List{u"K:=Kept", u"Z:=New"}));
  EXPECT_EQ(drives.calls, (List{u"mount \\\\cvf\\New "}));
  // Turning the volumes on and off leaves the shared folders alone; a host
  // disk asks for its own letter.
  sets.Apply(ShareSet::kMountedVolumes, {Share(u"Host Disk E")}, drives);
  sets.Apply(ShareSet::kMountedVolumes, {}, drives);
  EXPECT_EQ(drives.calls.back(), u"unmount E:");
  EXPECT_EQ(Drives(sets, ShareSet::kMappedShares), (List{u"K:=Kept", u"Z:=New"}));
}

TEST(ShareReconciler, mounts_wait_for_one_drive_removed_notice_per_unmounted_drive) {
  FakeDrives drives;
  ShareReconciler sets(true);
  sets.Apply(ShareSet::kMappedShares, {Share(u"A"), Share(u"B")}, drives);
  sets.Apply(ShareSet::kMappedShares, {Share(u"C")}, drives);
  EXPECT_EQ(sets.removalsPending(), 2u);
  // A later apply adds one and takes one away: the queue stays put, and a
  // queued share no longer wanted is still mounted once released.
  sets.Apply(ShareSet::kMappedShares, {}, drives);
  sets.ProcessPendingMounts(drives);
  EXPECT_EQ(sets.pendingMounts().size(), 1u);
  sets.ProcessPendingMounts(drives);
  EXPECT_EQ(Drives(sets, ShareSet::kMappedShares), (List{u"X:=C"}));
  sets.ProcessPendingMounts(drives);  // a third notice finds nothing to do
  EXPECT_EQ(drives.calls.size(), 5u);
  EXPECT_EQ(sets.removalsPending(), 0u);
}

// On Windows 5.0 nothing waits for drive-removed notices: a pause goes first.
TEST(ShareReconciler, windows_5_0_pauses_before_mounting_and_a_failed_mount_is_tried_again) {
  FakeDrives drives;
  drives.failing = u"\\\\cvf\\B";
  ShareReconciler sets(false);
  sets.Apply(ShareSet::kMountedVolumes, {Share(u"A")}, drives);
  sets.Apply(ShareSet::kMountedVolumes, {Share(u"B")}, drives);
  drives.failing.clear();
  sets.Apply(ShareSet::kMountedVolumes, {Share(u"B")}, drives);
  sets.Apply(ShareSet::kMountedVolumes, {Share(u"B")}, drives);  // nothing queued: no pause
  EXPECT_EQ(drives.calls, (List{u"pause", u"mount \\\\cvf\\A ", u"unmount Z:", u"pause",
                                u"mount \\\\cvf\\B ", u"pause", u"mount \\\\cvf\\B "}));
  EXPECT_EQ(Drives(sets, ShareSet::kMountedVolumes), (List{u"Y:=B"}));
}
