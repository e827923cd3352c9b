// Components are created with a non-throwing allocation: one that fails
// leaves its holder null and the tool runs without that component.
#pragma once

#include <memory>
#include <new>

namespace mantlet {

template <typename T>
std::unique_ptr<T> NewComponent() {
  return std::unique_ptr<T>(new (std::nothrow) T());
}

}  // namespace mantlet
