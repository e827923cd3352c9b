// Taskbar, start button and desktop visibility, the monitors' work areas,
// and the taskbar/desktop state reported to the host.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "core/component.h"
#include "core/handles.h"
#include "core/threads.h"
#include "taskbar/taskbar_watch.h"

namespace mantlet {

// Told, on the watcher's thread, that the shell's show-desktop state changed.
using DesktopStateListener = std::function<void(bool desktopShown)>;

class ShowHideTaskBarAndDesktop final : public Component {
 public:
  explicit ShowHideTaskBarAndDesktop(DesktopStateListener onDesktopStateChanged = {});
  ~ShowHideTaskBarAndDesktop() override;

  bool Start() override;
  // True when nothing of the component runs any more; false when its
  // watcher could not be told to stop, and the object must then stay alive.
  bool Stop() override;
  void SetTaskbarVisible(bool visible);
  void ToggleDesktop();
  // `abandon`, when given, ends a wait for the shell's answer early.
  void ReapplyWorkAreas(HANDLE abandon = nullptr);

 private:
  enum class ApplyScope { kWorkAreas, kTaskbarsAndWorkAreas };

  void Watch(HANDLE stop);
  // Applies `applied` and then whatever the host asked for meanwhile, until
  // the request read after applying is the one applied.
  void ApplyLatest(TaskbarRequest applied, ApplyScope scope, HANDLE abandon);

  const DesktopStateListener m_onDesktopStateChanged;
  UniqueFile m_device;
  WatcherMemory m_watch;  // the handler thread's alone
  // Written whole by the command worker and the stopping thread, read whole
  // by every thread that applies it.
  std::atomic<TaskbarRequest> m_requested = kTaskbarRequestNone;
  OwnedThread m_handlerThread;  // after all it uses, so that it goes first
};

}  // namespace mantlet
