// Keeps the two mapping sets equal to what the host last asked for. The
// reconciler decides what to unmount, what to queue and when queued mounts
// may run; the platform's drive work is behind DriveMapper. Not thread-safe:
// the owner holds its lock around every call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sharemapping/share_record.h"

namespace mantlet {

class DriveMapper {
 public:
  // Connects the record's share (to wantedLocal when not empty) and sets the
  // record's localName on success.
  virtual bool Mount(ShareRecord& record, const std::u16string& wantedLocal) = 0;
  // Disconnects the record's drive and clears its localName on success.
  virtual bool Unmount(ShareRecord& record) = 0;
  // Windows 5.0 gives the system a moment between queueing and mounting.
  virtual void PauseBeforeMounting() = 0;

 protected:
  ~DriveMapper() = default;
};

class ShareReconciler {
 public:
  explicit ShareReconciler(bool isXpOrLater) : m_isXpOrLater(isXpOrLater) {}

  // Connections found at start join the shared folders as they are.
  void Adopt(std::vector<ShareRecord> records);

  // Makes `which` equal to `wanted`: unmounts what is no longer wanted, keeps
  // what is mapped already, queues the rest, then runs the queue once every
  // drive removal counted so far has been confirmed.
  void Apply(ShareSet which, const std::vector<ShareRecord>& wanted, DriveMapper& mapper);

  // One confirmation (or one apply) taken off the counter; mounts the queue
  // when nothing is left to confirm.
  void ProcessPendingMounts(DriveMapper& mapper);

  const std::vector<ShareRecord>& Set(ShareSet which) const;
  const std::vector<ShareRecord>& pendingMounts() const { return m_pendingMounts; }
  uint32_t removalsPending() const { return m_removalsPending; }

 private:
  std::vector<ShareRecord>& MutableSet(ShareSet which);

  const bool m_isXpOrLater;
  std::vector<ShareRecord> m_mappedShares;
  std::vector<ShareRecord> m_mountedVolumes;
  std::vector<ShareRecord> m_pendingMounts;
  uint32_t m_removalsPending = 0;
};

}  // namespace mantlet
