// Components whose subsystems are still being built are absent: their
// factories give nothing, exactly as a failed allocation would.
#pragma once

#include <memory>
#include <new>

namespace mantlet {

template <typename T>
std::unique_ptr<T> NewComponent() {
  return std::unique_ptr<T>(new (std::nothrow) T());
}

class GuestShareMapping;
class ShowHideTaskBarAndDesktop;
class WeaveStateController;
class RelocateTaskbar;
class MessageBoxHandler;
class CKeyboardLayout;
class CCursorUtils;
class BrowserSearchInfo;

template <>
std::unique_ptr<GuestShareMapping> NewComponent<GuestShareMapping>();
template <>
std::unique_ptr<ShowHideTaskBarAndDesktop> NewComponent<ShowHideTaskBarAndDesktop>();
template <>
std::unique_ptr<RelocateTaskbar> NewComponent<RelocateTaskbar>();
template <>
std::unique_ptr<MessageBoxHandler> NewComponent<MessageBoxHandler>();
template <>
std::unique_ptr<CKeyboardLayout> NewComponent<CKeyboardLayout>();
template <>
std::unique_ptr<CCursorUtils> NewComponent<CCursorUtils>();
template <>
std::unique_ptr<BrowserSearchInfo> NewComponent<BrowserSearchInfo>();

}  // namespace mantlet
