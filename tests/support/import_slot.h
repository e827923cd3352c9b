// One import slot of the test executable pointed elsewhere for a scope. The
// module's code linked into a component test calls Windows through the
// executable's import slots (`__imp_<name>`), so a test can watch a call or
// make it fail where Windows would not fail on cue.
#pragma once

#include <windows.h>

namespace testsupport {

class ScopedImportSlot {
 public:
  ScopedImportSlot(void** slot, void* replacement) : slot_(slot), original_(Swap(replacement)) {}
  ~ScopedImportSlot() { Swap(original_); }
  ScopedImportSlot(const ScopedImportSlot&) = delete;
  ScopedImportSlot& operator=(const ScopedImportSlot&) = delete;

  template <typename Fn>
  Fn original() const {
    return reinterpret_cast<Fn>(original_);
  }

 private:
  void* Swap(void* value) {
    DWORD protection = 0;
    VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &protection);
    void* previous = InterlockedExchangePointer(slot_, value);
    VirtualProtect(slot_, sizeof(void*), protection, &protection);
    return previous;
  }

  void** slot_;
  void* original_;
};

}  // namespace testsupport
