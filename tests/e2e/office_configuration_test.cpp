// At every start the office suite's hardware graphics acceleration is
// switched off once, and the tool records that it did.
#include <gtest/gtest.h>

#include "scoped_registry.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

const std::wstring& kSettings = kToolSettingsKey;
const std::wstring kSuite = L"Software\\Microsoft\\Office\\15.0";
const std::wstring kCommon = kSuite + L"\\Common";
const std::wstring kGraphics = kCommon + L"\\Graphics";
constexpr wchar_t kRecord[] = L"MSODisableHardwareAcceleration";
constexpr wchar_t kSwitch[] = L"DisableHardwareAcceleration";

class OfficeConfiguration : public ToolTestWithoutSetting {
 protected:
  OfficeConfiguration() : ToolTestWithoutSetting(kRecord) {}
  void Restart() {
    EXPECT_EQ(StopTool(), 0);
    EXPECT_EQ(StartTool(), 0);
  }
  static void InstallSuite() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kCommon.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                    nullptr);
    RegCloseKey(key);
  }
  static DWORD Read(const std::wstring& key, const wchar_t* name) {
    DWORD value = 0xDEAD;
    GetDword(HKEY_CURRENT_USER, key, name, &value);
    return value;
  }

  ScopedKeyReset suite_{HKEY_CURRENT_USER, kSuite};
};

TEST_F(OfficeConfiguration, suite_gets_the_switch_once_and_the_users_choice_stays) {
  InstallSuite();
  EXPECT_EQ(StartTool(), 0);
  EXPECT_EQ(Read(kGraphics, kSwitch), 1u);
  EXPECT_EQ(Read(kSettings, kRecord), 1u);
  SetDword(HKEY_CURRENT_USER, kGraphics, kSwitch, 0);
  Restart();
  EXPECT_EQ(Read(kGraphics, kSwitch), 0u);
  EXPECT_EQ(Read(kSettings, kRecord), 1u);
  EXPECT_EQ(log.Count("PROGCONF"), 0u);
}

TEST_F(OfficeConfiguration, without_the_suite_nothing_is_logged_and_a_reinstall_gets_the_switch) {
  EXPECT_EQ(StartTool(), 0);
  EXPECT_EQ(Read(kSettings, kRecord), 2u);
  InstallSuite();
  Restart();
  EXPECT_EQ(Read(kGraphics, kSwitch), 1u);
  RegDeleteTreeW(HKEY_CURRENT_USER, kSuite.c_str());  // removed: the record resets
  Restart();
  EXPECT_EQ(Read(kSettings, kRecord), 2u);
  InstallSuite();
  Restart();
  EXPECT_EQ(Read(kGraphics, kSwitch), 1u);
  EXPECT_EQ(Read(kSettings, kRecord), 1u);
  EXPECT_EQ(log.Count("PROGCONF"), 0u);
}

// The record is read as four bytes: shorter values zero-extended, longer
// ones unreadable (as "not set"); it is always written back as a DWORD.
TEST_F(OfficeConfiguration, record_of_another_type_or_size) {
  const struct {
    DWORD type;
    std::vector<uint8_t> data;
    bool switched;
  } cases[] = {
      {REG_DWORD, {7, 0, 0, 0}, true}, {REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, true},
      {REG_SZ, {'1', 0, 0, 0}, true},  {REG_BINARY, {1}, false},
      {REG_BINARY, {}, true},
  };
  InstallSuite();
  EXPECT_EQ(StartTool(), 0);
  for (const auto& c : cases) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kGraphics.c_str());
    RegSetKeyValueW(HKEY_CURRENT_USER, kSettings.c_str(), kRecord, c.type, c.data.data(),
                    static_cast<DWORD>(c.data.size()));
    Restart();
    EXPECT_EQ(Read(kGraphics, kSwitch), c.switched ? 1u : 0xDEADu) << c.type;
    EXPECT_EQ(Read(kSettings, kRecord), 1u) << c.type;
  }
}

}  // namespace
}  // namespace testsupport
