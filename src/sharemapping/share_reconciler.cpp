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
    m_mappedShares.push_back(std::move(r));
}

const std::vector<ShareRecord>& ShareReconciler::Set(ShareSet which) const {
  return which == ShareSet::kMountedVolumes ? m_mountedVolumes : m_mappedShares;
}

std::vector<ShareRecord>& ShareReconciler::MutableSet(ShareSet which) {
  return which == ShareSet::kMountedVolumes ? m_mountedVolumes : m_mappedShares;
}

void ShareReconciler::Apply(ShareSet which, const std::vector<ShareRecord>& wanted,
                            DriveMapper& mapper) {
  std::vector<ShareRecord>& current = MutableSet(which);

  for (ShareRecord& c : current) {
    if (FindSame(wanted, c) == nullptr && mapper.Unmount(c) && m_isXpOrLater)
      ++m_removalsPending;
  }

  std::vector<ShareRecord> kept;
  bool added = false;
  for (const ShareRecord& w : wanted) {
    if (const ShareRecord* mapped = FindSame(current, w)) {
      kept.push_back(*mapped);
    } else if (FindSame(m_pendingMounts, w) == nullptr) {
      ShareRecord queued = w;
      queued.target = which;
      m_pendingMounts.push_back(std::move(queued));
      added = true;
    }
  }
  // Unmounted records go, and so do those whose unmount failed: the drive
  // stays connected but is no longer the component's.
  current = std::move(kept);

  if (!m_isXpOrLater && added)
    mapper.PauseBeforeMounting();

  ++m_removalsPending;
  ProcessPendingMounts(mapper);
}

void ShareReconciler::ProcessPendingMounts(DriveMapper& mapper) {
  if (m_removalsPending > 0)
    --m_removalsPending;
  if (m_removalsPending > 0)
    return;

  for (ShareRecord& r : m_pendingMounts) {
    std::u16string wantedLocal;
    if (const std::optional<char16_t> letter = HostDiskLetter(r.remoteName)) {
      wantedLocal = {*letter, u':'};
    }
    if (mapper.Mount(r, wantedLocal))
      MutableSet(r.target).push_back(r);
  }
  m_pendingMounts.clear();
}

}  // namespace mantlet
