// Placeholders for the subsystems that are still being built. Their objects
// are never created (see pending_components.h), so the members below only
// satisfy the linker; each block goes away with the change that builds it.
#include "core/pending_components.h"

#include "core/education.h"
#include "core/host_announce.h"
#include "sharemapping/guest_share_mapping.h"
#include "sharemapping/share_shortcuts.h"

namespace mantlet {

// --- share mapping and shortcuts ---------------------------------------------

template <>
std::unique_ptr<GuestShareMapping> NewComponent<GuestShareMapping>() {
  return nullptr;
}
GuestShareMapping::GuestShareMapping() = default;
GuestShareMapping::~GuestShareMapping() = default;
void GuestShareMapping::ChangeShareMapping(bool) {}
void GuestShareMapping::ToggleMountedVolumes(const std::vector<std::u16string>&) {}
void GuestShareMapping::NotifyTool(uint32_t) {}
void RefreshShareShortcuts() {}

}  // namespace mantlet
