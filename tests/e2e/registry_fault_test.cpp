// Registry keys the components read and write made unreadable (a DACL that
// denies the user everything, which Wine 8 enforces). What cannot be saved is
// not changed, what cannot be read is not applied, and once a key is readable
// again the tool catches up. (Kept values of another type or size are the
// typed reads' business: tests/component/registry_test.cpp.)
#include <gtest/gtest.h>

#include <optional>

#include "notifplat_control.h"
#include "weave_fixture.h"

namespace testsupport {
namespace {

namespace np = testenv::notifplat;
const std::wstring kToggle = L"Keyboard Layout\\Toggle";
const std::wstring kSuite = L"Software\\Microsoft\\Office\\15.0";
const std::wstring kCommon = kSuite + L"\\Common";
const std::wstring kGraphics = kCommon + L"\\Graphics";
constexpr wchar_t kSwitch[] = L"DisableHardwareAcceleration";
constexpr wchar_t kRecord[] = L"MSODisableHardwareAcceleration";

void InstallSuite() {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kCommon.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// The tool's own settings key unreadable: the office switch, the saved
// notifications choice and every Weave value live there.
class SettingsKeyDenied : public WeaveTest {
 protected:
  std::wstring WineVersion() override { return L"win8"; }
  void BeforeStart() override {
    InstallSuite();
    denied_.emplace(HKEY_CURRENT_USER, kSettingsKey);
    ASSERT_TRUE(denied_->Denied());
  }
  ScopedKeyReset suite_{HKEY_CURRENT_USER, kSuite};
  ScopedKeyReset platform_{HKEY_CURRENT_USER, np::kControlKey};
  std::optional<ScopedDeniedKey> denied_;
};

TEST_F(SettingsKeyDenied, nothing_whose_old_value_cannot_be_kept_is_changed) {
  EXPECT_EQ(log.Count("Can't create SOFTWARE\\Corvane\\Corvane Tools\\GuestUtilities key, err = 5"),
            1u);
  EXPECT_EQ(log.Count("Error in opening of TOOL_GUEST_UTILS_REGISTRY_PATH occured. Start is "
                      "failed."),
            1u);
  EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kGraphics, kSwitch));

  // Notifications stay on: the user's choice could not be read or kept.
  EXPECT_EQ(host.Call("option 3 1"), "option=ok");
  EXPECT_EQ(host.CallForInt("vconfig"), 0);
  EXPECT_EQ(log.Count("Can't create TOOL_GUEST_UTILS_REGISTRY_PATH key, error = 5"), 1u);
  DWORD created = 0;
  EXPECT_FALSE(GetDword(HKEY_CURRENT_USER, np::kControlKey, np::kCreateCount, &created));

  // Weave mode changes nothing: no value could be kept.
  Run(Record(8, 1));
  ASSERT_TRUE(log.WaitFor("error when adjusting borders, err = 5", 20000));
  EXPECT_EQ(log.Count("Error when saving Taskbar Animations value, err = "), 1u);
  EXPECT_EQ(ReadDesktopSettings(), user_);
  Run(Record(8, 0));
  ASSERT_TRUE(log.WaitFor("error when restoring borders, err = 5", 20000));
  EXPECT_EQ(ReadDesktopSettings(), user_);

  // Readable again: the next start sets the office switch once.
  denied_.reset();
  ASSERT_EQ(StopTool(), 0);
  ASSERT_EQ(StartTool(), 0);
  DWORD value = 0;
  EXPECT_TRUE(GetDword(HKEY_CURRENT_USER, kGraphics, kSwitch, &value) && value == 1);
  EXPECT_TRUE(GetDword(HKEY_CURRENT_USER, kSettingsKey, kRecord, &value) && value == 1);
}

// The hotkeys' and the office suite's keys unreadable at start (a missing
// toggle key takes the same road).
class KeysDenied : public ToolTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kToggle, L"Language Hotkey", L"3"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kToggle, L"Layout Hotkey", L"4"));
    InstallSuite();
    DeleteValue(HKEY_CURRENT_USER, kSettingsKey, kRecord);
    toggle_.emplace(HKEY_CURRENT_USER, kToggle);
    common_.emplace(HKEY_CURRENT_USER, kCommon);
    ASSERT_TRUE(toggle_->Denied() && common_->Denied());
    ToolTest::SetUp();
  }
  void TearDown() override {
    ToolTest::TearDown();
    DeleteValue(HKEY_CURRENT_USER, kSettingsKey, kRecord);
  }
  using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
  Pairs Hotkeys(size_t count) {
    WaitUntil([&] { return device.ReportWords(0x8501).size() >= count; }, 10000);
    return device.ReportWords(0x8501);
  }

  ScopedKeyReset toggleReset_{HKEY_CURRENT_USER, kToggle};
  ScopedKeyReset suite_{HKEY_CURRENT_USER, kSuite};
  std::optional<ScopedDeniedKey> toggle_, common_;
};

TEST_F(KeysDenied, hotkeys_fall_back_to_the_defaults_and_the_suite_waits_until_readable) {
  ASSERT_EQ(StartTool(), 0);
  EXPECT_EQ(Hotkeys(1), (Pairs{{1, 2}}));
  ASSERT_TRUE(SendRecord(Record(10, 0)));  // every check warns again
  EXPECT_EQ(Hotkeys(2), (Pairs{{1, 2}, {1, 2}}));
  const auto warnings = log.Matching("Can't open layout key. currentUserKey=1");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[1].find(" W KBDLAYOUT "), std::string::npos) << warnings[1];
  const auto office = log.Matching("Can't open Office 15.0 Common key, err = 5");
  ASSERT_EQ(office.size(), 1u);
  EXPECT_NE(office[0].find(" W PROGCONF "), std::string::npos) << office[0];
  DWORD record = 0;
  EXPECT_TRUE(GetDword(HKEY_CURRENT_USER, kSettingsKey, kRecord, &record) && record == 2);

  toggle_.reset();
  common_.reset();
  EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, kGraphics, kSwitch));
  ASSERT_TRUE(SendRecord(Record(10, 0)));
  EXPECT_EQ(Hotkeys(3), (Pairs{{1, 2}, {1, 2}, {3, 4}}));
  ASSERT_EQ(StopTool(), 0);
  ASSERT_EQ(StartTool(), 0);
  DWORD value = 0;
  EXPECT_TRUE(GetDword(HKEY_CURRENT_USER, kGraphics, kSwitch, &value) && value == 1);
  EXPECT_TRUE(GetDword(HKEY_CURRENT_USER, kSettingsKey, kRecord, &record) && record == 1);
}

}  // namespace
}  // namespace testsupport
