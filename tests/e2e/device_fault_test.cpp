// The tools device failing every request the module makes, once with each
// status that means something to one of the requests and once with the call
// itself failing. Each request gives up, or asks again a bounded number of
// times, logs what it logs, and the tool keeps serving the host: the next
// share-list refresh works, and later commands still reach the device.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "core/device_request.h"
#include "distributor_control.h"
#include "links_folder.h"
#include "scoped_registry.h"
#include "shell_control.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

using namespace mantlet;

struct Fault {
  const char* name;
  uint32_t blockStatus;
  int32_t irpStatus;  // fails DeviceIoControl itself
};

const Fault kFaults[] = {
    {"buffer too small", kDeviceStatusBufferTooSmall, 0},
    {"wait again", kDeviceStatusWaitAgain, 0},
    {"send again", kDeviceStatusRetry, 0},
    {"another status", 0xF0000001, 0},
    {"call asks for a retry", 0, static_cast<int32_t>(0xC000022D)},  // ERROR_RETRY
    {"call fails", 0, static_cast<int32_t>(0xC0000001)},             // ERROR_GEN_FAILURE
};

// Requests a fault may make the module send for one occasion: only the
// share list grows its buffer, and only the platform code is asked again.
size_t Tries(uint32_t code, const Fault& fault) {
  if (code == kHostShareListRequest && fault.blockStatus == kDeviceStatusBufferTooSmall)
    return 17;  // 256 bytes doubled up to 16 MiB
  if (code == kHostPlatformCodeRequest && fault.blockStatus == kDeviceStatusRetry)
    return 1000;
  return 1;
}

const std::wstring kToggle = L"Keyboard Layout\\Toggle";
const std::wstring kInstallKey = L"SOFTWARE\\Corvane\\Corvane Tools";

class DeviceFaults : public ToolTest {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    EmptyLinksFolder();
    ASSERT_TRUE(shell.Launch()) << "shell stand-in did not start or is not found";
    // The hotkeys can be read, so a failed check is the device's doing.
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kToggle, L"Language Hotkey", L"1"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kToggle, L"Layout Hotkey", L"2"));
    // The search library reports something after an upgrade.
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kInstallKey, L"VersionPrevious", L"1.0.0"));
    ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, testenv::distributor::kControlKey,
                         testenv::distributor::kCheckResult, 0x1));
    ToolTest::SetUp();
  }
  void TearDown() override {
    ToolTest::TearDown();
    shell.Close();
    DeleteValue(HKEY_LOCAL_MACHINE, kInstallKey, L"VersionPrevious");
    EmptyLinksFolder();
    CoUninitialize();
  }

  size_t Count(uint32_t code) { return device.Records(since_, code).size(); }
  bool WaitCount(uint32_t code, size_t count, DWORD timeoutMs = 15000) {
    return WaitUntil([&] { return Count(code) >= count; }, timeoutMs);
  }
  void Fail(uint32_t code, const Fault& fault) {
    DevResponse response;
    response.blockStatus = fault.blockStatus;
    response.irpStatus = fault.irpStatus;
    ASSERT_TRUE(device.SetResponse(code, response, false));
  }

  void Walk(const Fault& fault) {
    for (uint32_t code : {kHostShareListRequest, kHostPlatformCodeRequest, kTaskbarStateReport,
                          kKeyboardHotkeysReport, kBrowserInfoReport}) {
      Fail(code, fault);
    }
    ASSERT_EQ(StartTool(), 0);

    // At start: the watcher's first report, the hotkeys, the start notice,
    // the host event wait and, half a second later, the first refresh.
    ASSERT_TRUE(WaitCount(kTaskbarStateReport, 1));
    const ULONGLONG firstReport = GetTickCount64();
    ASSERT_TRUE(WaitCount(kKeyboardHotkeysReport, 1));
    ASSERT_TRUE(WaitCount(kBrowserInfoReport, 1));
    ASSERT_TRUE(log.WaitFor("failed to get shares", 15000));
    EXPECT_EQ(Count(kHostShareListRequest), Tries(kHostShareListRequest, fault));
    EXPECT_TRUE(log.WaitFor("CheckCurrentHotkey failed", 5000));

    // The pending host event wait completing with the fault is sent again,
    // and the refresh it brings finds the share list working again.
    DevResponse list;
    list.hasDescriptorData = true;
    list.descriptorData = EncodeHostShares({{0x20, 1, "Docs"}});
    ASSERT_TRUE(device.SetResponse(kHostShareListRequest, list, false));
    ASSERT_TRUE(device.WaitPendingHostWaits(1, 10000));
    ASSERT_EQ(device.FireHostEvent(fault.blockStatus, fault.irpStatus), 1u);
    EXPECT_TRUE(device.WaitPendingHostWaits(1, 10000));
    EXPECT_EQ(Count(kHostEventWaitRequest), 2u);
    // The shortcut has no suffix: the platform code counts as not given.
    EXPECT_TRUE(WaitUntil([] { return ReadLinksFolder().count(L"Docs.lnk") == 1; }, 15000));
    EXPECT_EQ(Count(kHostPlatformCodeRequest), Tries(kHostPlatformCodeRequest, fault));
    EXPECT_EQ(log.Count("failed to get shares"), 1u);

    // A refused report is not repeated while its values stay the same: the
    // watcher has made more than one pass since its first report.
    const ULONGLONG waited = GetTickCount64() - firstReport;
    if (waited < 1500)
      Sleep(static_cast<DWORD>(1500 - waited));
    EXPECT_EQ(Count(kTaskbarStateReport), 1u);
    EXPECT_EQ(Count(kKeyboardHotkeysReport), 1u);

    // Later commands still reach the device.
    ASSERT_TRUE(SendRecords({Record(10, 0), Record(18, 4), Record(4, 0)}));
    WorkerCaughtUp();
    EXPECT_EQ(Count(kKeyboardHotkeysReport), 2u);
    EXPECT_EQ(log.Count("CheckCurrentHotkey failed"), 2u);
    EXPECT_EQ(Count(kBrowserInfoReport), 2u);  // the notice, then the report
    EXPECT_EQ(log.Count("Failed to send browsers information to a host"), 1u);
    EXPECT_TRUE(WaitCount(kTaskbarStateReport, 2, 5000)) << "the hidden taskbar is not reported";
    EXPECT_EQ(device.ReportWords(kTaskbarStateReport, since_).back().second, 0u);
    EXPECT_EQ(StopTool(), 0);
  }

  ScopedKeyReset toggle_{HKEY_CURRENT_USER, kToggle};
  ScopedKeyReset library_{HKEY_CURRENT_USER, testenv::distributor::kControlKey};
  ShellStandIn shell;
  uint32_t since_ = 0;
};

TEST_F(DeviceFaults, every_request_kind_survives_every_status_and_the_tool_keeps_serving) {
  for (const Fault& fault : kFaults) {
    SCOPED_TRACE(fault.name);
    if (&fault != kFaults) {  // a fresh host: the platform code is asked once per process
      host.Close();
      EmptyLinksFolder();
      log.Mark();
      ASSERT_TRUE(device.Reset());
      ASSERT_EQ(host.Launch(), "load=ok");
    }
    since_ = device.Stats()->lastSeq;
    const ULONGLONG started = GetTickCount64();
    Walk(fault);
    if (HasFatalFailure())
      return;
    printf("%s: %llu ms\n", fault.name, GetTickCount64() - started);
  }
}

}  // namespace
}  // namespace testsupport
