// A user with settings of their own, the tool started in the host stand-in,
// and the commands that enter and leave Weave mode as the host sends them.
// Whatever the test does, the prefix's settings are put back at the end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "desktop_settings.h"
#include "scoped_registry.h"
#include "settings_listener.h"
#include "tool_fixture.h"

namespace testsupport {

inline constexpr uint32_t kDesktopObjectFailure = 0x80004005;  // E_FAIL

class WeaveTest : public ToolTest {
 protected:
  // Wine's name of the Windows version the host sees; empty: Wine's 6.1.
  virtual std::wstring WineVersion() { return {}; }
  virtual DesktopSettings User() { return TypicalUser(); }
  virtual void BeforeStart() {}

  void SetUp() override {
    original_ = ReadDesktopSettings();
    settingsKey_.emplace(HKEY_CURRENT_USER, kSettingsKey);
    script_.emplace(HKEY_CURRENT_USER, kDesktopObjectScriptKey);
    if (!WineVersion().empty())
      version_.emplace(L"mantlet_host.exe", WineVersion());
    user_ = User();
    WriteDesktopSettings(user_);
    const DesktopSettings seen = ReadDesktopSettings();
    ASSERT_EQ(seen, user_) << "the session did not take the user's settings: " << Describe(seen);
    ToolTest::SetUp();
    ASSERT_EQ(host.Call("tripwire arm 0").rfind("tripwire=armed", 0), 0u);
    BeforeStart();
    ASSERT_EQ(StartTool(), 0);
    trace_ = CallTrace();
  }

  void TearDown() override {
    ToolTest::TearDown();
    WriteDesktopSettings(original_);
  }

  bool HasBorderThread() { return WineVersion() != L"winxp" && WineVersion() != L"win2k"; }

  // Sends the record and waits until the worker has run it (the worker runs
  // records in order; the unsupported command after it logs when it is done).
  void Run(const Bytes& record) {
    const size_t before = log.Count("RelocateTaskBarCommand");
    ASSERT_TRUE(SendRecords({record, Record(7, 0)}));
    ASSERT_TRUE(log.WaitFor("RelocateTaskBarCommand", 20000, before + 1)) << log.Text();
  }

  // Entering ends with the border thread's broadcast of the new metrics.
  void EnterWeave() {
    const long broadcasts = listener_.MetricsBroadcasts();
    Run(Record(8, 1));
    if (HasBorderThread()) {
      ASSERT_TRUE(listener_.WaitForMetricsBroadcasts(broadcasts + 1, 20000))
          << "the border thread did not change the metrics";
    }
  }

  // Leaving ends with the border thread deleting the backup.
  void LeaveWeave() {
    Run(Record(8, 0));
    ASSERT_TRUE(WaitUntil([] { return !Saved(L"BorderWidth"); }, 20000))
        << "the border thread did not restore the borders";
  }

  // The module's calls that change settings since the last look, one letter
  // each (see testenv/host/call_tripwire.h).
  std::string NewCalls() {
    const std::string all = CallTrace();
    const std::string fresh = all.substr(std::min(all.size(), trace_.size()));
    trace_ = all;
    return fresh;
  }

  // For a host launched by the test: its calls so far count as new.
  void ForgetCalls() { trace_.clear(); }

  static bool Saved(const wchar_t* name) {
    return ValueExists(HKEY_CURRENT_USER, kSettingsKey, name);
  }
  static std::optional<DWORD> SavedDword(const wchar_t* name) {
    DWORD value = 0;
    if (GetDword(HKEY_CURRENT_USER, kSettingsKey, name, &value))
      return value;
    return std::nullopt;
  }
  static void ScriptDesktopObject(const wchar_t* name, uint32_t hr) {
    SetDword(HKEY_CURRENT_USER, kDesktopObjectScriptKey, name, hr);
  }
  static DWORD DesktopObjectRecord(const wchar_t* name) {
    DWORD value = 0;
    GetDword(HKEY_CURRENT_USER, kDesktopObjectScriptKey, name, &value);
    return value;
  }

  DesktopSettings user_;
  SettingsListener listener_;

 private:
  std::string CallTrace() {
    const std::string answer = host.Call("tripwire calls");
    const size_t space = answer.find(' ');
    return space == std::string::npos ? std::string() : answer.substr(space + 1);
  }

  DesktopSettings original_;
  std::string trace_;
  std::optional<ScopedKeyReset> settingsKey_;
  std::optional<ScopedKeyReset> script_;
  std::optional<ScopedWineVersion> version_;
};

}  // namespace testsupport
