// The shape every component of the tool has. The tool makes each one with
// what it needs, starts it, passes it the host's notifications and stops it;
// the calls come one at a time, on whichever thread the host uses.
#pragma once

#include "core/host_notification.h"

namespace mantlet {

class Component {
 public:
  Component() = default;
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;
  virtual ~Component() = default;

  // false: the component could not start and holds nothing; the tool goes on
  // without it.
  virtual bool Start() = 0;
  // false: a thread of the component could not be told to end. The tool then
  // keeps the object alive rather than destroy it under that thread.
  virtual bool Stop() = 0;
  virtual void OnNotify(HostNotification /*code*/) {}
};

}  // namespace mantlet
