// Placeholders for the subsystems that are still being built. Their objects
// are never created (see pending_components.h), so the members below only
// satisfy the linker; each block goes away with the change that builds it.
#include "core/pending_components.h"

#include "core/education.h"
#include "core/host_announce.h"
#include "interaction/keyboard_layout.h"
#include "interaction/message_box_handler.h"
#include "settings/browser_search_info.h"
#include "settings/notifications.h"
#include "settings/program_configuration.h"
#include "sharemapping/guest_share_mapping.h"
#include "sharemapping/share_shortcuts.h"
#include "taskbar/cursor_utils.h"
#include "taskbar/relocate_taskbar.h"
#include "taskbar/show_hide_taskbar.h"

namespace mantlet {

// --- host call channel and education application ---------------------------

int RegisterTool() {
  return -5;
}
int UnregisterTool() {
  return -5;
}
void InstallHostLogForwarder() {}
void LaunchEducationApp() {}
void EndEducationApp() {}

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

// --- taskbar visibility ------------------------------------------------------

template <>
std::unique_ptr<ShowHideTaskBarAndDesktop> NewComponent<ShowHideTaskBarAndDesktop>() {
  return nullptr;
}
ShowHideTaskBarAndDesktop::ShowHideTaskBarAndDesktop() = default;
ShowHideTaskBarAndDesktop::~ShowHideTaskBarAndDesktop() = default;
bool ShowHideTaskBarAndDesktop::Start() {
  return false;
}
void ShowHideTaskBarAndDesktop::Stop() {}
void ShowHideTaskBarAndDesktop::SetTaskbarVisible(bool) {}
void ShowHideTaskBarAndDesktop::ToggleDesktop() {}
void ShowHideTaskBarAndDesktop::ReapplyWorkAreas() {}
HWND FindDesktopView() {
  return nullptr;
}

// --- appbar indents ----------------------------------------------------------

template <>
std::unique_ptr<RelocateTaskbar> NewComponent<RelocateTaskbar>() {
  return nullptr;
}
RelocateTaskbar::RelocateTaskbar() = default;
RelocateTaskbar::~RelocateTaskbar() = default;
bool RelocateTaskbar::Start() {
  return false;
}
void RelocateTaskbar::Stop() {}
void RelocateTaskbar::SetIndents(const IndentEntry*, size_t) {}
void RelocateTaskbar::NotifyTool(uint32_t) {}

// --- cursor ------------------------------------------------------------------

template <>
std::unique_ptr<CCursorUtils> NewComponent<CCursorUtils>() {
  return nullptr;
}
CCursorUtils::CCursorUtils() = default;
CCursorUtils::~CCursorUtils() = default;
bool CCursorUtils::Start() {
  return false;
}
void CCursorUtils::Stop() {}
bool CCursorUtils::UpdateCursor() {
  return false;
}

// --- message boxes -----------------------------------------------------------

template <>
std::unique_ptr<MessageBoxHandler> NewComponent<MessageBoxHandler>() {
  return nullptr;
}
MessageBoxHandler::MessageBoxHandler() = default;
MessageBoxHandler::~MessageBoxHandler() = default;
bool MessageBoxHandler::Start() {
  return false;
}
void MessageBoxHandler::Stop() {}
void MessageBoxHandler::ShowMessageBox(const std::u16string&, const std::u16string&, uint32_t) {}

// --- keyboard hotkeys --------------------------------------------------------

template <>
std::unique_ptr<CKeyboardLayout> NewComponent<CKeyboardLayout>() {
  return nullptr;
}
CKeyboardLayout::CKeyboardLayout() = default;
CKeyboardLayout::~CKeyboardLayout() = default;
bool CKeyboardLayout::Start() {
  return false;
}
void CKeyboardLayout::Stop() {}
bool CKeyboardLayout::CheckCurrentHotkey(bool, bool) {
  return false;
}
void CKeyboardLayout::OnNotify(uint32_t) {}

// --- browser information, notifications, program configuration --------------

template <>
std::unique_ptr<BrowserSearchInfo> NewComponent<BrowserSearchInfo>() {
  return nullptr;
}
BrowserSearchInfo::BrowserSearchInfo() = default;
BrowserSearchInfo::~BrowserSearchInfo() = default;
bool BrowserSearchInfo::SendStartNotice() {
  return false;
}
void BrowserSearchInfo::HandleBrowsersCommand(uint32_t) {}
void OnNotificationsOption(uint32_t) {}
void ApplyProgramConfiguration() {}

}  // namespace mantlet
