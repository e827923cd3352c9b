// Browser and search-provider information for the host, through the search
// library of the tools' installation.
#pragma once

#include <cstdint>

#include "core/component.h"
#include "core/handles.h"

namespace mantlet {

class BrowserSearchInfo final : public Component {
 public:
  BrowserSearchInfo();
  ~BrowserSearchInfo() override;

  // The thread of StartTool, once per start, once the tool runs: tells the
  // host the tool started.
  bool Start() override;
  bool Stop() override { return true; }
  // Command worker thread: 3 applies the tools' search settings, 4 reports.
  void HandleBrowsersCommand(uint32_t argument);

 private:
  void SendBrowsersInformation();
  bool SendReport(uint32_t flags, uint32_t startNotice);

  UniqueFile m_device;
};

}  // namespace mantlet
