// The logging facility, linked in and running for real under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "log_tail.h"
#include "test_paths.h"

namespace mantlet {
namespace {

using testenv::LogTail;

TEST(LogFile, lines_land_in_the_windows_logs_folder_in_the_exact_layout) {
  LogTail tail;
  LogWrite("LOGTEST", kModuleName, kLogInfo, "layout %d %s %ws", 42, "text", L"wide");
  LogWrite("", kModuleName, 7, "no tag");
  const auto lines = tail.Lines();
  ASSERT_EQ(lines.size(), 2u) << tail.Text();
  char expected[128];
  snprintf(expected, sizeof(expected), " I LOGTEST /Mantlet:%lu:%lx/ layout 42 text wide",
           GetCurrentProcessId(), GetCurrentThreadId());
  const std::regex stamp(R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d .*)");
  EXPECT_TRUE(std::regex_match(lines[0], stamp)) << lines[0];
  EXPECT_EQ(lines[0].substr(18), expected);
  snprintf(expected, sizeof(expected), " O(7) /Mantlet:%lu:%lx/ no tag", GetCurrentProcessId(),
           GetCurrentThreadId());
  EXPECT_EQ(lines[1].substr(18), expected);
}

TEST(LogFile, level_test_at_the_call_site_formats_nothing_above_information) {
  LogTail tail;
  int evaluated = 0;
  MLOG(kLogDebug, "LOGTEST", "debug %d", ++evaluated);
  MLOG(kLogInfo, "LOGTEST", "info %d", ++evaluated);
  EXPECT_EQ(evaluated, 1);
  EXPECT_EQ(tail.Count("debug"), 0u);
  EXPECT_EQ(tail.Count("info 1"), 1u);
}

// The system's text for an error, as MLOG_FAILURE appends it: one line, its
// line break and trailing blanks cut, and the caller's last error kept.
TEST(LogFile, system_error_text_is_one_line_in_brackets) {
  SetLastError(1234);
  const std::string text = DescribeError(ERROR_ACCESS_DENIED).text;
  EXPECT_EQ(GetLastError(), 1234u);
  ASSERT_GT(text.size(), 4u);
  EXPECT_EQ(text.substr(0, 2), " (") << text;
  EXPECT_EQ(text.back(), ')') << text;
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  EXPECT_NE(text[text.size() - 2], ' ') << text;
  LogWrite("LOGTEST", kModuleName, kLogInfo, "keeps the last error");
  EXPECT_EQ(GetLastError(), 1234u);
}

std::string ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return "<missing>";
  std::string text(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
  CloseHandle(file);
  text.resize(read);
  return text;
}

// A deletion takes the name away at once on current Windows; Wine keeps a
// deleted file's name until its last handle closes, so the test moves the
// file off the name first and deletes it there.
TEST(LogFile, deleted_file_comes_back_with_a_line_logged_a_second_later) {
  const std::wstring path = testenv::LogFilePath();
  const std::wstring aside = path + L".deleted";
  LogWrite("LOGTEST", kModuleName, kLogInfo, "before the deletion");
  ASSERT_TRUE(MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING))
      << GetLastError();
  ASSERT_TRUE(DeleteFileW(aside.c_str())) << GetLastError();
  Sleep(1100);
  LogWrite("LOGTEST", kModuleName, kLogInfo, "after the deletion");
  const std::string text = ReadWholeFile(path);
  EXPECT_NE(text.find("after the deletion"), std::string::npos) << text;
  EXPECT_EQ(text.find("before the deletion"), std::string::npos) << text;
}

TEST(LogFile, threads_logging_at_once_lose_no_line_in_the_file) {
  LogTail tail;
  constexpr int kThreads = 4, kLines = 1000;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        LogWrite("APPEND", kModuleName, kLogInfo, "line %d.%d", t, i);
    });
  }
  for (auto& w : writers)
    w.join();
  EXPECT_EQ(tail.Count("line "), static_cast<size_t>(kThreads * kLines));
}

}  // namespace
}  // namespace mantlet
