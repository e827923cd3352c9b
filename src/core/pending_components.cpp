// Placeholders for the subsystems that are still being built. Their objects
// are never created (see pending_components.h), so the members below only
// satisfy the linker; each block goes away with the change that builds it.
#include "core/pending_components.h"

#include "weave/weave_state_controller.h"

namespace mantlet {

// --- integration mode --------------------------------------------------------

template <>
std::unique_ptr<WeaveStateController> NewComponent<WeaveStateController>() {
  return nullptr;
}
WeaveStateController::WeaveStateController() = default;
WeaveStateController::~WeaveStateController() = default;
bool WeaveStateController::Start() {
  return false;
}
void WeaveStateController::Stop() {}
void WeaveStateController::OnWeaveStateChanged(bool) {}
void WeaveStateController::OnDesktopStateChanged(bool) {}
void WeaveStateController::SetVmColor(uint32_t) {}

}  // namespace mantlet
