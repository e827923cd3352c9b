// Points the test executable's own imports of one Windows function at a
// replacement for a scope. The component code linked into a test calls
// Windows through these imports, so a call that Wine cannot be made to fail
// (SetSysColors, SystemParametersInfoW) fails where the test says, while the
// code under test stays the real one. Libraries loaded into the process keep
// their own imports.
#pragma once

#include <windows.h>

#include <vector>

namespace testsupport {

class ScopedImportSwap {
 public:
  ScopedImportSwap(const char* function, const void* replacement);
  ~ScopedImportSwap();
  ScopedImportSwap(const ScopedImportSwap&) = delete;
  ScopedImportSwap& operator=(const ScopedImportSwap&) = delete;

  // False when the executable does not import the function.
  bool swapped() const { return !slots_.empty(); }

  // What the imports pointed at before, for a replacement that passes
  // some calls on.
  template <typename Fn>
  Fn original() const {
    return reinterpret_cast<Fn>(original_);
  }

 private:
  std::vector<ULONG_PTR*> slots_;
  ULONG_PTR original_ = 0;
};

}  // namespace testsupport
