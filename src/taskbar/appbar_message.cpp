#include "taskbar/appbar_message.h"

#include <atomic>
#include <memory>
#include <new>

#include "core/threads.h"

namespace mantlet {

APPBARDATA AppBarData(HWND window) {
  APPBARDATA data = {};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  return data;
}

std::optional<UINT_PTR> CallShellAppBar(const char* what, DWORD message, const APPBARDATA& data,
                                        DWORD boundMs, HANDLE abandon) {
  try {
    // The call may outlive this frame: it owns its copy of the data and
    // shares only the answer.
    auto answer = std::make_shared<std::atomic<UINT_PTR>>(0);
    auto work = [answer, copy = data, message]() mutable {
      answer->store(SHAppBarMessage(message, &copy));
    };
    if (!RunBounded(what, work, boundMs, abandon))
      return std::nullopt;
    return answer->load();
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace mantlet
