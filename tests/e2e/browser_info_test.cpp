// Command 18 and the start notice (0x8502), with the search library stand-in
// installed below a tools install directory of the test's own.
#include <gtest/gtest.h>

#include "distributor_control.h"
#include "scoped_registry.h"
#include "test_paths.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

namespace dist = testenv::distributor;
const std::wstring kInstallKey = L"SOFTWARE\\Corvane\\Corvane Tools";
using Words = std::vector<std::pair<uint32_t, uint32_t>>;

// A registry value put back as it was (or removed) at the end of a test.
class ScopedValue {
 public:
  ScopedValue(HKEY root, std::wstring path, const wchar_t* name)
      : root_(root), path_(std::move(path)), name_(name) {
    DWORD size = sizeof(data_);
    had_ = RegGetValueW(root_, path_.c_str(), name_, RRF_RT_ANY | RRF_NOEXPAND, &type_, data_,
                        &size) == ERROR_SUCCESS;
    size_ = size;
  }
  ~ScopedValue() {
    if (had_)
      RegSetKeyValueW(root_, path_.c_str(), name_, type_, data_, size_);
    else
      RegDeleteKeyValueW(root_, path_.c_str(), name_);
  }
  void Set(DWORD type, const void* data, size_t size) {
    RegSetKeyValueW(root_, path_.c_str(), name_, type, data, static_cast<DWORD>(size));
  }
  void Set(const std::wstring& text) {
    Set(REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  void Remove() { RegDeleteKeyValueW(root_, path_.c_str(), name_); }

 private:
  HKEY root_;
  std::wstring path_;
  const wchar_t* name_;
  bool had_ = false;
  DWORD type_ = 0, size_ = 0;
  BYTE data_[2048] = {};
};

class BrowserInfo : public ToolTest {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    // Longer than the 128 bytes of the first read.
    dir_ = std::wstring(temp) + L"mantlet tools install directory of the browser tests";
    ASSERT_TRUE(InstallLibrary(dir_));
    location_.Set(dir_);
    version_.Set(L"1.0.0");  // an upgrade
    ToolTest::SetUp();
    ASSERT_EQ(StartTool(), 0);
  }
  void TearDown() override {
    ToolTest::TearDown();
    const std::wstring library = dir_ + dist::kLibraryRelativePath;
    DeleteFileW(library.c_str());
    for (const wchar_t* sub : {L"\\External\\Didirad", L"\\External", L""})
      RemoveDirectoryW((dir_ + sub).c_str());
  }
  static bool InstallLibrary(const std::wstring& dir) {
    for (const wchar_t* sub : {L"", L"\\External", L"\\External\\Didirad"})
      CreateDirectoryW((dir + sub).c_str(), nullptr);
    return CopyFileW(testenv::BinPath(L"Distributor.dll").c_str(),
                     (dir + dist::kLibraryRelativePath).c_str(), FALSE) != FALSE;
  }
  static void Answer(uint32_t searches) {
    SetDword(HKEY_CURRENT_USER, dist::kControlKey, dist::kCheckResult, searches);
  }
  static DWORD Library(const wchar_t* counter) {
    DWORD value = 0;
    GetDword(HKEY_CURRENT_USER, dist::kControlKey, counter, &value);
    return value;
  }
  // Runs command 18 and waits until the worker is past it (it logs nothing).
  void Browsers(uint32_t arg) {
    ASSERT_TRUE(SendRecord(Record(18, arg)));
    WorkerCaughtUp();
  }
  Words Reports() { return device.ReportWords(0x8502); }  // the start notices too

  ScopedKeyReset library_{HKEY_CURRENT_USER, dist::kControlKey};
  ScopedValue location_{HKEY_LOCAL_MACHINE, kInstallKey, L"InstallLocation"};
  ScopedValue version_{HKEY_LOCAL_MACHINE, kInstallKey, L"VersionPrevious"};
  std::wstring dir_;
};

// -1: nothing reported; else one report of those flags.
Words Expected(int flags) {
  return flags < 0 ? Words{} : Words{{static_cast<uint32_t>(flags), 0}};
}

// A refused report is logged (at level 2, with no tag); a refused notice is not.
TEST_F(BrowserInfo, start_notice_goes_once_per_start_and_only_a_failed_report_is_logged) {
  EXPECT_EQ(StartTool(), 0);  // already started
  EXPECT_EQ(Reports(), (Words{{0, 1}}));
  EXPECT_EQ(device.Records(0, 0x8502)[0].inputLength, 24u);
  DevResponse refused;
  refused.blockStatus = 0xC0000001;
  device.SetResponse(0x8502, refused, false);
  Answer(0x1);
  Browsers(4);
  const auto lines = log.Matching("Failed to send browsers information to a host");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" I /Mantlet:"), std::string::npos) << lines[0];
  EXPECT_EQ(StopTool(), 0);
  EXPECT_EQ(StartTool(), 0);
  EXPECT_EQ(Reports(), (Words{{0, 1}, {1, 0}, {0, 1}}));
  EXPECT_EQ(log.Count("Failed to send"), 1u);
}

TEST_F(BrowserInfo, report_follows_the_library_and_the_install_kind) {
  // The flags themselves are the unit tests' table; one row shows them reach the host.
  const struct {
    uint32_t searches;
    const wchar_t* version;  // null: not there
    int flags;               // -1: nothing reported
    DWORD setSearches, checks;
  } cases[] = {
      // clang-format off
      {0x1,      L"1.0.0", 0x1, 0, 2},  // an upgrade: asked again, then reported
      {0x100000, L"1.0.0", -1,  0, 1},  // nothing found: asked once
      {0x1,      nullptr,  -1,  0, 1},  // the install kind unreadable
      {0x1,      L"",      -1,  1, 1},  // a fresh install: the settings applied instead
      // clang-format on
  };
  for (const auto& c : cases) {
    device.Reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, dist::kControlKey);
    Answer(c.searches);
    if (c.version)
      version_.Set(c.version);
    else
      version_.Remove();
    Browsers(4);
    EXPECT_EQ(Reports(), Expected(c.flags)) << std::hex << c.searches;
    EXPECT_EQ(Library(dist::kSetCount), c.setSearches) << std::hex << c.searches;
    EXPECT_EQ(Library(dist::kCheckCount), c.checks);  // asked again after an upgrade
    EXPECT_EQ(Library(dist::kLoadCount), Library(dist::kUnloadCount));  // never kept loaded
  }
}

TEST_F(BrowserInfo, argument_3_applies_the_search_settings_and_others_do_nothing) {
  Browsers(3);
  EXPECT_EQ(Library(dist::kSetCount), 1u);
  Browsers(0);
  Browsers(5);
  EXPECT_EQ(Library(dist::kSetCount), 1u);
  EXPECT_EQ(Library(dist::kCheckCount), 0u);
}

TEST_F(BrowserInfo, missing_library_or_directory_does_nothing_and_logs_nothing) {
  Answer(0x1);
  log.Mark();
  DeleteFileW((dir_ + dist::kLibraryRelativePath).c_str());
  Browsers(4);
  Browsers(3);
  location_.Remove();
  Browsers(4);
  Browsers(3);
  EXPECT_EQ(Reports(), (Words{{0, 1}}));
  EXPECT_EQ(log.Lines().size(), log.Count(kWorkerSync)) << log.Text();
}

// Values of other types: the install directory is read as UTF-16 up to its
// first zero unit (or its end); the previous version only by its size.
TEST_F(BrowserInfo, registry_values_of_other_types_and_sizes) {
  Answer(0x1);
  const std::wstring unterminated = dir_;
  location_.Set(REG_BINARY, unterminated.data(), unterminated.size() * sizeof(wchar_t));
  Browsers(4);
  const DWORD number = 7;
  location_.Set(REG_DWORD, &number, sizeof(number));
  Browsers(4);
  EXPECT_EQ(Reports(), (Words{{0, 1}, {1, 0}}));
  location_.Set(dir_);

  const struct {
    DWORD type;
    std::string data;
    int flags;  // -1: nothing reported
    DWORD setSearches;
  } versions[] = {
      {REG_DWORD, std::string("\x01\0\0\0", 4), 1, 0},
      {REG_BINARY, std::string(1, 'x'), -1, 1},       // counts as the empty string
      {REG_SZ, std::string(159, '9') + '\0', 1, 0},   // 160 bytes fit
      {REG_SZ, std::string(160, '9') + '\0', -1, 0},  // 161 do not: unreadable
  };
  for (const auto& v : versions) {
    device.Reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, dist::kControlKey);
    Answer(0x1);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane\\Corvane Tools", "VersionPrevious",
                    v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    Browsers(4);
    EXPECT_EQ(Reports(), Expected(v.flags)) << v.data.size();
    EXPECT_EQ(Library(dist::kSetCount), v.setSearches) << v.data.size();
  }
}

}  // namespace
}  // namespace testsupport
