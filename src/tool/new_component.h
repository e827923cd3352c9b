// Components are created with a non-throwing allocation: one that fails
// leaves its holder null and the tool runs without that component.
#pragma once

#include <memory>
#include <new>
#include <utility>

namespace mantlet {

template <typename T, typename... Args>
std::unique_ptr<T> NewComponent(Args&&... args) {
  return std::unique_ptr<T>(new (std::nothrow) T(std::forward<Args>(args)...));
}

}  // namespace mantlet
