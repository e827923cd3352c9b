// The typed reads every kept user value goes through: what counts as the
// value, as absent, as of another type or size, and as a failed read.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "core/registry.h"
#include "log_tail.h"
#include "scoped_registry.h"

namespace mantlet {
namespace {

const std::wstring kScratch = L"Software\\MantletTest\\Registry";
constexpr wchar_t kName[] = L"Kept";
constexpr size_t kUnits = 5;  // four units of text and the terminator

std::vector<BYTE> Text(const std::wstring& units) {
  const auto* bytes = reinterpret_cast<const BYTE*>(units.data());
  return std::vector<BYTE>(bytes, bytes + units.size() * sizeof(wchar_t));
}

TEST(SavedValueReads, take_only_their_own_type_and_size_and_remove_anything_else) {
  constexpr auto kFound = ValueState::kFound;
  constexpr auto kAbsent = ValueState::kAbsent;
  constexpr auto kMalformed = ValueState::kMalformed;
  const struct {
    const char* what;
    DWORD type;  // REG_NONE: no value at all
    std::vector<BYTE> data;
    ValueState asDword;
    ValueState asText;
    std::wstring text;  // when found as text
  } cases[] = {
      {"absent", REG_NONE, {}, kAbsent, kAbsent},
      {"dword", REG_DWORD, {7, 0, 0, 0}, kFound, kMalformed},
      {"dword of 2 bytes", REG_DWORD, {7, 0}, kMalformed, kMalformed},
      {"dword of 5 bytes", REG_DWORD, {7, 0, 0, 0, 0}, kMalformed, kMalformed},
      {"qword", REG_QWORD, {7, 0, 0, 0, 0, 0, 0, 0}, kMalformed, kMalformed},
      {"binary of 4 bytes", REG_BINARY, {7, 0, 0, 0}, kMalformed, kMalformed},
      {"big-endian dword", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 7}, kMalformed, kMalformed},
      {"text of 4 bytes", REG_SZ, Text(std::wstring(L"7\0", 2)), kMalformed, kFound, L"7"},
      {"empty text", REG_SZ, Text(std::wstring(1, L'\0')), kMalformed, kFound, L""},
      {"text of no bytes", REG_SZ, {}, kMalformed, kFound, L""},
      {"longest text", REG_SZ, Text(std::wstring(L"abcd\0", 5)), kMalformed, kFound, L"abcd"},
      {"longest text unterminated", REG_SZ, Text(L"abcd"), kMalformed, kFound, L"abcd"},
      {"text one unit too long", REG_SZ, Text(std::wstring(L"abcde\0", 6)), kMalformed, kMalformed},
      {"text too long unterminated", REG_SZ, Text(L"abcde"), kMalformed, kMalformed},
      {"text up to its terminator", REG_SZ, Text(std::wstring(L"ab\0cd", 5)), kMalformed, kFound,
       L"ab"},
      {"odd byte count", REG_SZ, {'a', 0, 'b'}, kMalformed, kMalformed},
      {"expandable text", REG_EXPAND_SZ, Text(std::wstring(L"7\0", 2)), kMalformed, kMalformed},
  };
  testenv::LogTail log;
  for (const auto& c : cases) {
    for (const bool asText : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (asText ? " read as text" : " read as a dword"));
      testsupport::ScopedKeyReset value(HKEY_CURRENT_USER, kScratch);
      HKEY key = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratch.c_str(), 0, nullptr, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr),
                ERROR_SUCCESS);
      if (c.type != REG_NONE) {
        ASSERT_EQ(
            RegSetValueExW(key, kName, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
            ERROR_SUCCESS);
      }
      log.Mark();
      DWORD number = 0xBEEF;
      wchar_t text[kUnits] = L"none";
      const ValueRead read = asText ? ReadSavedString(key, kName, "TEST", text, kUnits)
                                    : ReadSavedDword(key, kName, "TEST", &number);
      const ValueState expected = asText ? c.asText : c.asDword;
      EXPECT_EQ(read.state, expected);
      if (!asText)
        EXPECT_EQ(number, expected == kFound ? 7u : 0xBEEFu);
      else
        EXPECT_EQ(std::wstring(text), expected == kFound ? c.text : L"none");
      const bool kept =
          RegQueryValueExW(key, kName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
      EXPECT_EQ(kept, expected == kFound) << "only a value of another type or size is removed";
      EXPECT_EQ(log.Count("saved Kept is of another type or size"),
                expected == kMalformed ? 1u : 0u);
      RegCloseKey(key);
    }
  }
}

TEST(SavedValueReads, a_refused_read_is_a_failure_and_keeps_the_value) {
  testsupport::ScopedKeyReset scratch(HKEY_CURRENT_USER, kScratch);
  ASSERT_TRUE(testsupport::SetDword(HKEY_CURRENT_USER, kScratch, kName, 7));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kScratch.c_str(), 0, KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  DWORD number = 0xBEEF;
  const ValueRead read = ReadSavedDword(key, kName, "TEST", &number);
  RegCloseKey(key);
  EXPECT_EQ(read.state, ValueState::kFailed);
  EXPECT_EQ(read.status, ERROR_ACCESS_DENIED);
  EXPECT_EQ(number, 0xBEEFu);
  EXPECT_TRUE(testsupport::ValueExists(HKEY_CURRENT_USER, kScratch, kName));
}

}  // namespace
}  // namespace mantlet
