// A user with settings of their own, the tool started in the host stand-in
// (its tripwire counting the module's calls), and command 8 as the host
// sends it. The prefix's settings are put back at the end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "core/device_request.h"
#include "desktop_settings.h"
#include "scoped_registry.h"
#include "settings_listener.h"
#include "shell_control.h"
#include "tool_fixture.h"

namespace testsupport {

class WeaveTest : public ToolTest {
 protected:
  virtual std::wstring WineVersion() { return {}; }  // Wine's name; empty: 6.1
  virtual DesktopSettings User() { return TypicalUser(); }
  // The shell stand-in's desktop and icon view, and the taskbar watcher
  // reporting what it sees; without it there is no icon view to hide.
  virtual bool WithShell() { return false; }
  // How that shell answers: its own default (late) unless a test asks.
  virtual std::optional<ShellAnswers> ShellPace() { return std::nullopt; }
  // Runs right before the host is launched and the tool started.
  virtual void BeforeStart() {}

  void SetUp() override {
    original_ = ReadDesktopSettings();
    if (!WineVersion().empty())
      version_.emplace(L"mantlet_host.exe", WineVersion());
    user_ = User();
    WriteDesktopSettings(user_);
    ASSERT_EQ(ReadDesktopSettings(), user_) << "the session did not take the user's settings";
    if (WithShell()) {
      ASSERT_TRUE(shell_.Launch(std::nullopt, ShellPace()));
    }
    BeforeStart();
    ToolTest::SetUp();
    ASSERT_EQ(host.Call("tripwire arm 0").rfind("tripwire=armed", 0), 0u);
    ASSERT_EQ(StartTool(), 0);
    if (WithShell()) {
      ASSERT_TRUE(NextDesktopReport()) << "the watcher did not report";
    }
    NewCalls();
  }

  void TearDown() override {
    ToolTest::TearDown();
    shell_.Close();
    WriteDesktopSettings(original_);
  }

  // The watcher's next report; its first word is whether the desktop is shown.
  std::optional<DevRecord> NextDesktopReport() {
    const auto report = device.WaitForRecord(mantlet::kTaskbarStateReport, reportSeq_, 10000);
    if (report)
      reportSeq_ = report->seq;
    return report;
  }

  // The shell's icon view, under "Progman" or, while the desktop is shown,
  // under a "WorkerW".
  static bool IconsVisible() {
    HWND view = nullptr;
    for (const wchar_t* parent : {L"Progman", L"WorkerW"}) {
      for (HWND top = FindWindowW(parent, nullptr); top != nullptr && view == nullptr;
           top = FindWindowExW(nullptr, top, parent, nullptr)) {
        view = FindWindowExW(top, nullptr, L"SHELLDLL_DefView", nullptr);
      }
    }
    return view != nullptr && IsWindowVisible(view);
  }

  // Sends the record and waits until the worker has run it.
  void Run(const Bytes& record) {
    ASSERT_TRUE(SendRecord(record));
    WorkerCaughtUp();
  }

  // Entering ends with the border thread's broadcast of new metrics (6.0+).
  void EnterWeave() {
    const long broadcasts = listener_.MetricsBroadcasts();
    Run(Record(8, 1));
    if (WineVersion() != L"winxp") {
      ASSERT_TRUE(listener_.WaitForMetricsBroadcasts(broadcasts + 1, 20000));
    }
  }

  // Leaving ends with the border thread deleting the backup.
  void LeaveWeave() {
    Run(Record(8, 0));
    ASSERT_TRUE(WaitUntil([] { return !Saved(L"BorderWidth"); }, 20000));
  }

  // The module's settings-changing calls since the last look, one letter each
  // (testenv/host/call_tripwire.h); ForgetCalls() after a new host.
  std::string NewCalls() {
    const std::string answer = host.Call("tripwire calls");
    const std::string all = answer.substr(std::min(answer.size(), answer.find(' ') + 1));
    const std::string fresh = all.substr(std::min(all.size(), seen_));
    seen_ = all.size();
    return fresh;
  }
  void ForgetCalls() { seen_ = 0; }
  // Command 8 with argument 0 also shows the taskbar again (ShowWindow, W),
  // after the controller and beside its border thread.
  static std::string WithoutShowWindow(std::string calls) {
    std::erase(calls, 'W');
    return calls;
  }

  DesktopSettings user_;
  SettingsListener listener_;

 private:
  ScopedKeyReset settingsKey_{HKEY_CURRENT_USER, kSettingsKey};
  ScopedKeyReset script_{HKEY_CURRENT_USER, kDesktopObjectScriptKey};
  DesktopSettings original_;
  std::optional<ScopedWineVersion> version_;
  size_t seen_ = 0;
  uint32_t reportSeq_ = 0;
  ShellStandIn shell_;
};

}  // namespace testsupport
