#include "sharemapping/share_reconciler.h"

#include <algorithm>

#include "sharemapping/share_names.h"

namespace mantlet {
namespace {

const ShareRecord* FindSame(const std::vector<ShareRecord>& list, const ShareRecord& record) {
  const auto it = std::find_if(list.begin(), list.end(),
                               [&](const ShareRecord& r) { return SameShare(r, record); });
  return it == list.end() ? nullptr : &*it;
}

}  // namespace

void ShareReconciler::Adopt(std::vector<ShareRecord> records) {
  for (ShareRecord& r : records)
    mappedShares_.push_back(std::move(r));
}

const std::vector<ShareRecord>& ShareReconciler::Set(ShareSet which) const {
  return which == ShareSet::kMountedVolumes ? mountedVolumes_ : mappedShares_;
}

std::vector<ShareRecord>& ShareReconciler::MutableSet(ShareSet which) {
  return which == ShareSet::kMountedVolumes ? mountedVolumes_ : mappedShares_;
}

void ShareReconciler::Apply(ShareSet which, const std::vector<ShareRecord>& wanted,
                            DriveMapper& mapper) {
  std::vector<ShareRecord>& current = MutableSet(which);

  for (ShareRecord& c : current) {
    if (FindSame(wanted, c) == nullptr && mapper.Unmount(c) && isXpOrLater_)
      ++removalsPending_;
  }

  std::vector<ShareRecord> kept;
  bool added = false;
  for (const ShareRecord& w : wanted) {
    if (const ShareRecord* mapped = FindSame(current, w)) {
      kept.push_back(*mapped);
    } else if (FindSame(pendingMounts_, w) == nullptr) {
      ShareRecord queued = w;
      queued.target = which;
      pendingMounts_.push_back(std::move(queued));
      added = true;
    }
  }
  // Unmounted records go, and so do those whose unmount failed: the drive
  // stays connected but is no longer the component's.
  current = std::move(kept);

  if (!isXpOrLater_ && added)
    mapper.PauseBeforeMounting();

  ++removalsPending_;
  ProcessPendingMounts(mapper);
}

void ShareReconciler::ProcessPendingMounts(DriveMapper& mapper) {
  if (removalsPending_ > 0)
    --removalsPending_;
  if (removalsPending_ > 0)
    return;

  for (ShareRecord& r : pendingMounts_) {
    std::u16string wantedLocal;
    if (const std::optional<char16_t> letter = HostDiskLetter(r.remoteName)) {
      wantedLocal = {*letter, u':'};
    }
    if (mapper.Mount(r, wantedLocal))
      MutableSet(r.target).push_back(r);
  }
  pendingMounts_.clear();
}

}  // namespace mantlet
