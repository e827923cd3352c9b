// Memory running out at any allocation of a start, of a command or of a stop:
// the host lives on, and the tool ends either started or fully stopped. The
// switch is this executable's own operator new: armed, it fails the Nth
// allocation made from then on, on whichever thread of the module makes it.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>
#include <vector>

#include "tool/commands.h"
#include "core/hypercall.h"
#include "tool/lifecycle.h"
#include "core/windows_version.h"
#include "tool_channel.h"

namespace {

std::atomic<long> g_failAt{0};  // 0: disarmed; LONG_MAX: counting only
std::atomic<long> g_counted{0};

bool NextAllocationFails() {
  if (g_failAt.load(std::memory_order_relaxed) == 0)
    return false;
  return g_counted.fetch_add(1) + 1 == g_failAt.load();
}

void* Allocate(std::size_t size) {
  return std::malloc(size != 0 ? size : 1);
}

}  // namespace

void* operator new(std::size_t size) {
  void* p = NextAllocationFails() ? nullptr : Allocate(size);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return NextAllocationFails() ? nullptr : Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace mantlet {
namespace {

// Counts allocations from now on and fails the nth (0: none fails).
class AllocationFault {
 public:
  explicit AllocationFault(long nth) {
    g_counted = 0;
    g_failAt = nth != 0 ? nth : LONG_MAX;
  }
  ~AllocationFault() { g_failAt = 0; }
  static long Counted() { return g_counted.load(); }
};

int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
  CloseHandle(snapshot);
  return count;
}

bool FullyStopped() {
  return !g_tool.started && !g_tool.mailslot && !g_tool.commandEvent && !g_tool.worker.running() &&
         !g_components.shareMapping && !g_components.showHide && !g_components.weave &&
         !g_components.relocate && !g_components.messageBoxes && !g_components.keyboard &&
         !g_components.cursor && !g_components.browsers;
}

// Records whose payloads allocate on their way to the components.
std::vector<testenv::Bytes> PayloadRecords() {
  return {
      testenv::Record(6, 14, testenv::Utf8Names({"Music", "Photos"})),
      testenv::Record(9, 0, testenv::MessageBoxPayload(MB_OK, u"text", u"caption")),
      testenv::Record(17, 48,
                      testenv::IndentsPayload({{0, 0, -1, 30, -1, -1}, {0, 0, 0, 0, 0, 0}})),
      testenv::Record(6, 0),
  };
}

class AllocationFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CacheWindowsVersion();
    // Without it the host call probe's instruction would end this process.
    ASSERT_TRUE(InstallHostCallGuard());
  }
  static void TearDownTestSuite() { RemoveHostCallGuard(); }
};

TEST_F(AllocationFaults, a_start_failing_at_any_allocation_ends_started_or_fully_stopped) {
  const int threadsBefore = ThreadCount();
  long allocations = 0;
  {
    AllocationFault count(0);
    ASSERT_EQ(StartTool(), 0);
    allocations = AllocationFault::Counted();
  }
  StopTool();
  ASSERT_TRUE(FullyStopped());
  ASSERT_GT(allocations, 10) << "the start allocates nothing this switch can fail";

  for (long nth = 1; nth <= allocations; ++nth) {
    int result = 0;
    {
      AllocationFault fault(nth);
      result = StartTool();
    }
    if (result == 0) {
      EXPECT_TRUE(g_tool.started) << "allocation " << nth;
      StopTool();
    } else {
      EXPECT_EQ(result, -1) << "allocation " << nth;
    }
    ASSERT_TRUE(FullyStopped()) << "allocation " << nth << ", start result " << result;
  }
  EXPECT_LE(ThreadCount(), threadsBefore) << "a failed start left a thread running";
}

TEST_F(AllocationFaults, a_command_failing_at_any_allocation_is_dropped_and_the_next_runs) {
  ASSERT_EQ(StartTool(), 0);
  for (const testenv::Bytes& record : PayloadRecords()) {
    long allocations = 0;
    {
      AllocationFault count(0);
      RunCommandRecord(record);
      allocations = AllocationFault::Counted();
    }
    for (long nth = 1; nth <= allocations; ++nth) {
      AllocationFault fault(nth);
      RunCommandRecord(record);
    }
  }
  // The components are still there and still take commands.
  EXPECT_TRUE(g_components.relocate && g_components.messageBoxes && g_components.shareMapping);
  RunCommandRecord(PayloadRecords().back());
  StopTool();
  EXPECT_TRUE(FullyStopped());
}

TEST_F(AllocationFaults, a_stop_failing_at_any_allocation_still_ends_fully_stopped) {
  for (long nth = 1;; ++nth) {
    ASSERT_EQ(StartTool(), 0);
    RunCommandRecord(PayloadRecords()[2]);  // an appbar to remove at stop
    long counted = 0;
    {
      AllocationFault fault(nth);
      StopTool();
      counted = AllocationFault::Counted();
    }
    ASSERT_TRUE(FullyStopped()) << "allocation " << nth;
    if (counted < nth)
      break;  // the stop made fewer allocations than nth: every one was tried
  }
}

}  // namespace
}  // namespace mantlet
