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

}  // namespace mantlet
