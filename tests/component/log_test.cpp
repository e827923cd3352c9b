// The logging facility, linked in and running for real under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "log_tail.h"
#include "test_paths.h"
#include "wait_until.h"

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
}

TEST(LogFile, last_error_survives_logging) {
  for (DWORD code : {0ul, 5ul, 1234ul, 0xDEADBEEFul}) {
    SetLastError(code);
    LogWrite("LOGTEST", kModuleName, kLogInfo, "keeps %lu", code);
    EXPECT_EQ(GetLastError(), code);
  }
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

TEST(LogFile, replaced_file_is_followed_to_the_new_one) {
  const std::wstring path = testenv::LogFilePath();
  const std::wstring aside = path + L".old";
  LogWrite("LOGTEST", kModuleName, kLogInfo, "into the first file");
  ASSERT_TRUE(MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING));
  HANDLE other = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  CloseHandle(other);
  Sleep(1100);
  LogWrite("LOGTEST", kModuleName, kLogInfo, "into the replacement");
  EXPECT_NE(ReadWholeFile(path).find("into the replacement"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(aside).find("into the replacement"), std::string::npos);
  DeleteFileW(aside.c_str());
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

// The file is moved away again and again while threads append: each move
// makes the next identity check open a new file and close the old handle
// while other threads wait for the append lock. A writer that held on to
// the old handle would write to a closed handle (the line lost) or to what
// the process opened next under the same value (the victim file, which a
// thread keeps opening).
TEST(LogFile, lines_land_whole_while_the_file_is_replaced_under_many_writers) {
  const std::wstring path = testenv::LogFilePath();
  const std::wstring victim = path + L".victim";
  const std::string run = "reopen-race-" + std::to_string(GetCurrentProcessId()) + " ";
  constexpr int kWriters = 6, kMoves = 8;
  // The echo to standard error is not what is tested; it would only flood the output.
  const int savedStderr = _dup(2);
  const int nul = _open("NUL", _O_WRONLY);
  _dup2(nul, 2);

  std::atomic<bool> stop{false};
  std::atomic<int> written[kWriters] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; !stop; ++i) {
        const std::string line =
            run + std::to_string(t) + "." + std::to_string(i) + " " + std::string(40, 'w') + "\n";
        LogFileWriter(line.c_str(), line.size());
        written[t] = i + 1;
      }
    });
  }
  threads.emplace_back([&] {
    while (!stop) {
      HANDLE h = CreateFileW(victim.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, 0, nullptr);
      SwitchToThread();
      CloseHandle(h);
    }
  });
  std::vector<std::wstring> files;
  for (int move = 0; move < kMoves; ++move) {
    files.push_back(path + L".moved" + std::to_wstring(move));
    const bool moved = MoveFileExW(path.c_str(), files.back().c_str(), MOVEFILE_REPLACE_EXISTING);
    const bool back =
        moved &&
        testenv::WaitUntil(
            [&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }, 10000, 5);
    if (!back) {
      ADD_FAILURE() << "move " << move << ": moved " << moved << ", file back " << back;
      break;
    }
  }
  stop = true;
  for (auto& thread : threads)
    thread.join();
  _dup2(savedStderr, 2);
  _close(savedStderr);
  _close(nul);

  files.push_back(path);
  std::map<std::string, int> seen;
  for (const std::wstring& file : files) {
    std::istringstream text(ReadWholeFile(file));
    for (std::string line; std::getline(text, line);) {
      if (line.rfind(run, 0) == 0)
        ++seen[line];
    }
    if (file != path)
      DeleteFileW(file.c_str());
  }
  size_t lost = 0, twice = 0, total = 0;
  for (int t = 0; t < kWriters; ++t) {
    for (int i = 0; i < written[t]; ++i, ++total) {
      const auto found =
          seen.find(run + std::to_string(t) + "." + std::to_string(i) + " " + std::string(40, 'w'));
      lost += found == seen.end();
      twice += found != seen.end() && found->second != 1;
    }
  }
  EXPECT_EQ(lost, 0u) << "of " << total;
  EXPECT_EQ(twice, 0u);
  EXPECT_EQ(seen.size(), total) << "lines cut or run together";
  EXPECT_EQ(ReadWholeFile(victim), "");
  DeleteFileW(victim.c_str());
}

// Lines logged while hooks are swapped underneath: every line reaches at
// least one hook, and SetLogHook never returns while the old hook is in use.
std::mutex g_seenLock;
std::set<std::string> g_seen;
std::atomic<int> g_insideA{0};

void RecordLine(const char* line, size_t length) {
  std::string text(line, length);
  std::lock_guard<std::mutex> hold(g_seenLock);
  g_seen.insert(text.substr(text.rfind(' ') + 1));
}

void HookA(const char* line, size_t length) {
  ++g_insideA;
  RecordLine(line, length);
  Sleep(0);
  --g_insideA;
}

void HookB(const char* line, size_t length) {
  RecordLine(line, length);
}

TEST(LogHook, swapping_while_threads_log_loses_no_line) {
  LogHook original = SetLogHook(&HookA);
  constexpr int kThreads = 4, kLines = 1500;
  std::atomic<bool> go{false};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t, &go] {
      while (!go)
        Sleep(0);
      for (int i = 0; i < kLines; ++i) {
        LogWrite("HOOKTEST", kModuleName, kLogInfo, "id=%d.%d", t, i);
      }
    });
  }
  go = true;
  bool violated = false;
  for (int swap = 0; swap < 200; ++swap) {
    if (SetLogHook(&HookB) == &HookA && g_insideA.load() != 0)
      violated = true;
    SetLogHook(&HookA);
  }
  for (auto& w : writers)
    w.join();
  EXPECT_EQ(SetLogHook(original), &HookA);
  EXPECT_FALSE(violated) << "SetLogHook returned while the old hook was still running";
  std::lock_guard<std::mutex> hold(g_seenLock);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) {
      const std::string id = "id=" + std::to_string(t) + "." + std::to_string(i) + "\n";
      ASSERT_TRUE(g_seen.count(id)) << "lost " << id;
    }
  }
}

}  // namespace
}  // namespace mantlet
