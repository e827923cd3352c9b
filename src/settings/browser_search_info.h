// Browser and search-provider information for the host.
#pragma once

#include <cstdint>

namespace mantlet {

class BrowserSearchInfo {
 public:
  BrowserSearchInfo();
  ~BrowserSearchInfo();
  BrowserSearchInfo(const BrowserSearchInfo&) = delete;
  BrowserSearchInfo& operator=(const BrowserSearchInfo&) = delete;

  bool SendStartNotice();
  void HandleBrowsersCommand(uint32_t argument);
};

}  // namespace mantlet
