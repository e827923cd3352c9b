// The hotkey component on its own, for the notification the host cannot
// bring to it: code 6 stops the tool before the components hear of it.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "interaction/keyboard_layout.h"
#include "scoped_registry.h"
#include "toolsdev_client.h"

namespace mantlet {
namespace {

const std::wstring kToggle = L"Keyboard Layout\\Toggle";
constexpr uint32_t kHotkeysReport = 0x8501;

class KeyboardLayoutChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device.Open());
    ASSERT_TRUE(device.Reset());
    testsupport::SetString(HKEY_CURRENT_USER, kToggle, L"Language Hotkey", L"2");
    testsupport::SetString(HKEY_CURRENT_USER, kToggle, L"Layout Hotkey", L"3");
    ASSERT_TRUE(keyboard.Start());
  }
  void TearDown() override { keyboard.Stop(); }
  std::vector<std::pair<uint32_t, uint32_t>> Reports() {
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (const auto& r : device.Records(0, kHotkeysReport))
      pairs.emplace_back(r.PayloadWord(0), r.PayloadWord(1));
    return pairs;
  }

  testsupport::ScopedKeyReset toggle_{HKEY_CURRENT_USER, kToggle};
  testenv::ToolsDevControl device;
  CKeyboardLayout keyboard;
};

TEST_F(KeyboardLayoutChecks, code_6_checks_the_default_user_last_and_code_5_resumes) {
  keyboard.OnNotify(6);
  EXPECT_FALSE(keyboard.CheckCurrentHotkey(true, true));
  keyboard.OnNotify(5);
  using P = std::pair<uint32_t, uint32_t>;
  EXPECT_EQ(Reports(), (std::vector<P>{{2, 3}, {1, 2}, {2, 3}}));
}

}  // namespace
}  // namespace mantlet
