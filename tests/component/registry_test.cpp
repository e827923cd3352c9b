// The registry layer every component goes through: what each typed read
// takes as the value, as absent, as of another type or size, and as a failed
// read; and which of them a saved read removes.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "core/handles.h"
#include "core/registry.h"
#include "log_tail.h"
#include "scoped_registry.h"

namespace mantlet {
namespace {

const std::wstring kScratch = L"Software\\MantletTest\\Registry";
constexpr wchar_t kName[] = L"Kept";
constexpr size_t kUnits = 5;      // ReadStringValue: four units of text and the terminator
constexpr size_t kMaxBytes = 10;  // ReadLongStringValue: as many bytes, terminator included

std::vector<BYTE> Text(const std::wstring& units) {
  const auto* bytes = reinterpret_cast<const BYTE*>(units.data());
  return std::vector<BYTE>(bytes, bytes + units.size() * sizeof(wchar_t));
}

UniqueRegKey Scratch(REGSAM access) {
  UniqueRegKey key;
  EXPECT_EQ(CreateKey(HKEY_CURRENT_USER, kScratch.c_str(), access, &key), ERROR_SUCCESS);
  return key;
}

bool Kept(HKEY key) {
  return RegQueryValueExW(key, kName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

enum class Reader { kDword, kString, kLongString, kSavedDword, kSavedString };

// One read of kName; `text` holds the text read, or "none"/"0xBEEF" when the
// out-value was left alone.
ValueRead ReadAs(Reader reader, HKEY key, std::wstring* text) {
  DWORD number = 0xBEEF;
  wchar_t units[kUnits] = L"none";
  std::wstring longText = L"none";
  ValueRead read;
  switch (reader) {
    case Reader::kDword:
      read = ReadDwordValue(key, kName, &number);
      break;
    case Reader::kSavedDword:
      read = ReadSavedDword(key, kName, "TEST", &number);
      break;
    case Reader::kString:
      read = ReadStringValue(key, kName, units, kUnits);
      break;
    case Reader::kSavedString:
      read = ReadSavedString(key, kName, "TEST", units, kUnits);
      break;
    case Reader::kLongString:
      read = ReadLongStringValue(key, kName, kMaxBytes, &longText);
      break;
  }
  if (reader == Reader::kDword || reader == Reader::kSavedDword)
    *text = number == 0xBEEF ? L"0xBEEF" : std::to_wstring(number);
  else
    *text = reader == Reader::kLongString ? longText : units;
  return read;
}

TEST(RegistryReads, each_reader_takes_only_its_own_type_and_size) {
  constexpr auto F = ValueState::kFound;
  constexpr auto A = ValueState::kAbsent;
  constexpr auto M = ValueState::kMalformed;
  const struct {
    const char* what;
    DWORD type;  // REG_NONE: no value at all
    std::vector<BYTE> data;
    ValueState dword, text, longText;  // ReadDwordValue, ReadStringValue, ReadLongStringValue
    std::wstring found;                // what a text read reports when it finds the value
  } rows[] = {
      // clang-format off
      {"absent",                     REG_NONE,             {},                               A, A, A},
      {"dword",                      REG_DWORD,            {7, 0, 0, 0},                     F, M, M},
      {"dword of 2 bytes",           REG_DWORD,            {7, 0},                           M, M, M},
      {"dword of 5 bytes",           REG_DWORD,            {7, 0, 0, 0, 0},                  M, M, M},
      {"qword",                      REG_QWORD,            {7, 0, 0, 0, 0, 0, 0, 0},         M, M, M},
      {"binary of 4 bytes",          REG_BINARY,           {7, 0, 0, 0},                     M, M, M},
      {"big-endian dword",           REG_DWORD_BIG_ENDIAN, {0, 0, 0, 7},                     M, M, M},
      {"text of 4 bytes",            REG_SZ,               Text(std::wstring(L"7\0", 2)),    M, F, F, L"7"},
      {"empty text",                 REG_SZ,               Text(std::wstring(1, L'\0')),     M, F, F, L""},
      {"text of no bytes",           REG_SZ,               {},                               M, F, F, L""},
      {"longest text",               REG_SZ,               Text(std::wstring(L"abcd\0", 5)), M, F, F, L"abcd"},
      {"longest text unterminated",  REG_SZ,               Text(L"abcd"),                    M, F, F, L"abcd"},
      {"text one unit too long",     REG_SZ,               Text(std::wstring(L"abcde\0", 6)), M, M, M},
      {"10 bytes unterminated",      REG_SZ,               Text(L"abcde"),                   M, M, F, L"abcde"},
      {"text up to its terminator",  REG_SZ,               Text(std::wstring(L"ab\0cd", 5)), M, F, F, L"ab"},
      {"odd byte count",             REG_SZ,               {'a', 0, 'b'},                    M, M, F, L"a"},
      {"expandable text",            REG_EXPAND_SZ,        Text(std::wstring(L"7\0", 2)),    M, M, F, L"7"},
      {"multi-string",               REG_MULTI_SZ,         Text(std::wstring(L"7\0\0", 3)),  M, M, M},
      // clang-format on
  };
  testenv::LogTail log;
  for (const auto& row : rows) {
    for (const Reader reader : {Reader::kDword, Reader::kString, Reader::kLongString,
                                Reader::kSavedDword, Reader::kSavedString}) {
      SCOPED_TRACE(std::string(row.what) + ", reader " + std::to_string(static_cast<int>(reader)));
      testsupport::ScopedKeyReset reset(HKEY_CURRENT_USER, kScratch);
      UniqueRegKey key = Scratch(KEY_QUERY_VALUE | KEY_SET_VALUE);
      if (row.type != REG_NONE) {
        ASSERT_EQ(RegSetValueExW(key.get(), kName, 0, row.type, row.data.data(),
                                 static_cast<DWORD>(row.data.size())),
                  ERROR_SUCCESS);
      }
      log.Mark();
      std::wstring got;
      const ValueRead read = ReadAs(reader, key.get(), &got);
      const bool dword = reader == Reader::kDword || reader == Reader::kSavedDword;
      const ValueState expected = dword                           ? row.dword
                                  : reader == Reader::kLongString ? row.longText
                                                                  : row.text;
      EXPECT_EQ(read.state, expected);
      EXPECT_EQ(read.status, expected == F   ? ERROR_SUCCESS
                             : expected == A ? ERROR_FILE_NOT_FOUND
                                             : ERROR_INVALID_DATA);
      const std::wstring untouched = dword ? L"0xBEEF" : L"none";
      EXPECT_EQ(got, expected != F ? untouched : dword ? L"7" : row.found);

      const bool saved = reader == Reader::kSavedDword || reader == Reader::kSavedString;
      const bool removed = saved && expected == M;
      EXPECT_EQ(Kept(key.get()), row.type != REG_NONE && !removed)
          << "a saved read removes only a value of another type or size";
      const std::string line = "saved Kept is of another type or size (type " +
                               std::to_string(row.type) + ", " + std::to_string(row.data.size()) +
                               " bytes); removed";
      EXPECT_EQ(log.Count(line), removed ? 1u : 0u) << log.Text();
    }
  }
}

TEST(RegistryReads, long_text_is_read_whole_past_the_first_read_up_to_its_bound) {
  testsupport::ScopedKeyReset reset(HKEY_CURRENT_USER, kScratch);
  UniqueRegKey key = Scratch(KEY_QUERY_VALUE | KEY_SET_VALUE);
  const std::wstring long300(300, L'x');  // 602 bytes with the terminator
  ASSERT_EQ(WriteStringValue(key.get(), kName, long300.c_str()), ERROR_SUCCESS);
  std::wstring text;
  EXPECT_EQ(ReadLongStringValue(key.get(), kName, 602, &text).state, ValueState::kFound);
  EXPECT_EQ(text, long300);
  text = L"none";
  EXPECT_EQ(ReadLongStringValue(key.get(), kName, 601, &text).state, ValueState::kMalformed);
  EXPECT_EQ(text, L"none");
}

TEST(RegistryReads, a_refused_read_is_a_failure_and_keeps_the_value) {
  testsupport::ScopedKeyReset reset(HKEY_CURRENT_USER, kScratch);
  ASSERT_TRUE(testsupport::SetDword(HKEY_CURRENT_USER, kScratch, kName, 7));
  UniqueRegKey key;
  ASSERT_EQ(OpenKey(HKEY_CURRENT_USER, kScratch.c_str(), KEY_SET_VALUE, &key), ERROR_SUCCESS);
  for (const Reader reader : {Reader::kDword, Reader::kString, Reader::kLongString,
                              Reader::kSavedDword, Reader::kSavedString}) {
    std::wstring got;
    const ValueRead read = ReadAs(reader, key.get(), &got);
    EXPECT_EQ(read.state, ValueState::kFailed) << static_cast<int>(reader);
    EXPECT_EQ(read.status, ERROR_ACCESS_DENIED) << static_cast<int>(reader);
    EXPECT_TRUE(got == L"none" || got == L"0xBEEF") << static_cast<int>(reader);
  }
  EXPECT_TRUE(testsupport::ValueExists(HKEY_CURRENT_USER, kScratch, kName));
}

}  // namespace
}  // namespace mantlet
