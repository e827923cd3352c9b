// COM for the span of one operation, whatever the calling thread has done.
// The host may call the entry points from any of its threads, one that never
// initialised COM among them; the shell's desktop object and the notification
// platform need an apartment on the calling thread.
#pragma once

#include <objbase.h>

namespace mantlet {

// Enters a single-threaded apartment for the scope and leaves it again. A
// thread that is already in one only has its count raised; one in the
// multithreaded apartment stays there (creation still works from it), and
// nothing is undone for it.
class ComScope {
 public:
  ComScope() : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(m_result))
      CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT m_result;
};

}  // namespace mantlet
