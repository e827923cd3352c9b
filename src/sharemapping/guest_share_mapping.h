// Host shared folders and host volumes mapped to drive letters.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/component.h"
#include "sharemapping/share_reconciler.h"

namespace mantlet {

// Commands 3 and 6 come in on the worker thread, notification 10 on the
// host's thread; both hold m_lock for the whole operation. Construction and
// destruction run while no other thread can reach the object.
class GuestShareMapping final : public Component {
 public:
  GuestShareMapping();
  ~GuestShareMapping() override;

  // Nothing is mapped until the host asks.
  bool Start() override { return true; }
  // Unmaps every drive the component holds, unless the session ended on
  // Windows 5.0. The tool's stop calls it; the destructor does it for an
  // object that was never stopped.
  bool Stop() override;

  void ChangeShareMapping(bool enabled);
  void ToggleMountedVolumes(const std::vector<std::u16string>& names);
  void OnNotify(HostNotification code) override;

 private:
  void ApplyShareSet(ShareSet which, const std::vector<ShareRecord>& wanted);

  const std::u16string m_providerName;
  CRITICAL_SECTION m_lock;
  ShareReconciler m_sets;  // guarded by m_lock
  // Set by the host's thread at the end of the session; read by the
  // destructor after every other thread is done.
  std::atomic<bool> m_keepMappingsAtExit = false;
  bool m_stopped = false;  // the stopping thread's alone
};

}  // namespace mantlet
