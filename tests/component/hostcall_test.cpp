// The hypervisor call and its guard, linked in and run for real, on a
// machine (Wine) without the hypervisor.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <vector>

#include "core/host_announce.h"
#include "core/hostcall_port.h"
#include "core/hypercall.h"
#include "tool/lifecycle.h"
#include "core/log.h"
#include "import_slot.h"
#include "log_tail.h"

namespace mantlet {
namespace {

bool AtRdpmc(const CONTEXT& context) {
  const auto* ip = reinterpret_cast<const uint8_t*>(context.Rip);
  return ip[0] == 0x0F && ip[1] == 0x33;
}

std::atomic<int> g_passedOn{0};
std::atomic<DWORD> g_lastCode{0};

// Added behind the guard: counts what the guard passed on, stepping over an
// rdpmc so that the test survives it.
LONG CALLBACK CatchPassedOn(EXCEPTION_POINTERS* info) {
  ++g_passedOn;
  g_lastCode = info->ExceptionRecord->ExceptionCode;
  if (info->ExceptionRecord->ExceptionCode >= 0xE0000000)
    return EXCEPTION_CONTINUE_EXECUTION;
  if (!AtRdpmc(*info->ContextRecord))
    return EXCEPTION_CONTINUE_SEARCH;
  info->ContextRecord->Rip += 2;
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Added first: reports an rdpmc fault as Windows does (a privileged
// instruction) instead of Wine's access violation.
LONG CALLBACK AsOnWindows(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
      AtRdpmc(*info->ContextRecord)) {
    info->ExceptionRecord->ExceptionCode = EXCEPTION_PRIV_INSTRUCTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

class HostCallGuard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InstallHostCallGuard());
    handlers_.push_back(AddVectoredExceptionHandler(0, &CatchPassedOn));
    g_passedOn = 0;
  }
  void TearDown() override {
    for (PVOID handler : handlers_)
      RemoveVectoredExceptionHandler(handler);
    RemoveHostCallGuard();
  }

  static bool ProbeComesBackEmpty() {
    uint32_t words[6] = {0x5F9E652, 0x5F9E652, 7, 7, 7, 7};
    HypercallProbe(words);
    return words[0] == 0 && words[1] == 0 && words[2] == 0 && words[5] == 0;
  }

  std::vector<PVOID> handlers_;
};

TEST_F(HostCallGuard, probe_fault_in_either_form_means_no_hypervisor_and_goes_no_further) {
  for (bool asOnWindows : {false, true}) {
    if (asOnWindows)
      handlers_.push_back(AddVectoredExceptionHandler(1, &AsOnWindows));
    EXPECT_TRUE(ProbeComesBackEmpty()) << asOnWindows;
    HostChannel channel;
    EXPECT_EQ(OpenHostChannel(SystemHostCallPort(), &channel), kHostCallNoHypervisor);
    EXPECT_EQ(SendHostLogLine(SystemHostCallPort(), nullptr, "line\n", 5), kHostCallNoHypervisor);
    EXPECT_EQ(AnnounceTool(SystemHostCallPort(), {"id", "text", {}}, true), kHostCallNoHypervisor);
    EXPECT_EQ(g_passedOn, 0) << asOnWindows;
  }
}

TEST_F(HostCallGuard, every_other_fault_passes_on) {
  handlers_.push_back(AddVectoredExceptionHandler(1, &AsOnWindows));
  uint32_t words[6] = {0x5F9E653, 1, 0, 16, 0, 0};
  Hypercall(words);  // the same instruction, but not the probe's
  EXPECT_EQ(g_passedOn, 1);
  EXPECT_EQ(g_lastCode, static_cast<DWORD>(EXCEPTION_PRIV_INSTRUCTION));
  EXPECT_EQ(words[0], 0x5F9E653u);
  RaiseException(0xE0424242, 0, 0, nullptr);
  EXPECT_EQ(g_passedOn, 2);
  EXPECT_EQ(g_lastCode, 0xE0424242u);
}

}  // namespace
}  // namespace mantlet

extern "C" void* __imp_AddVectoredExceptionHandler;

namespace mantlet {
namespace {

PVOID WINAPI RefuseHandler(ULONG, PVECTORED_EXCEPTION_HANDLER) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

std::atomic<int> g_rdpmcFaults{0};

// Counts and steps over any fault of the hypervisor call's instruction (a
// logged line raises the debug output's own exception, which passes on).
LONG CALLBACK CatchRdpmc(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if ((code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_PRIV_INSTRUCTION) ||
      !AtRdpmc(*info->ContextRecord)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ++g_rdpmcFaults;
  info->ContextRecord->Rip += 2;
  return EXCEPTION_CONTINUE_EXECUTION;
}

// A load whose guard cannot be added: the lines go to the file only, and
// neither they nor the announcement execute the unguarded probe.
TEST(HostLogForwarder, is_left_out_and_no_probe_made_when_the_guard_cannot_be_added) {
  const PVOID catcher = AddVectoredExceptionHandler(0, &CatchRdpmc);
  const HMODULE instance = g_tool.instance;
  bool loaded = false;
  {
    testsupport::ScopedImportSlot refuse(&__imp_AddVectoredExceptionHandler,
                                         reinterpret_cast<void*>(&RefuseHandler));
    loaded = OnProcessAttach(GetModuleHandleW(nullptr));
  }
  testenv::LogTail tail;
  LogWrite("HOSTTEST", kModuleName, kLogInfo, "no guard, no forwarder");
  EXPECT_EQ(RegisterTool(), kHostCallNoHypervisor);
  // What the load changed in this process is put back before anything is checked.
  const LogHook hook = SetLogHook(&LogFileWriter);
  OnProcessDetach();
  g_tool.instance = instance;
  RemoveVectoredExceptionHandler(catcher);

  EXPECT_TRUE(loaded);
  EXPECT_EQ(hook, &LogFileWriter) << "the forwarder was installed";
  EXPECT_EQ(g_rdpmcFaults, 0) << "the unguarded probe faulted";
  EXPECT_EQ(tail.Count("no guard, no forwarder"), 1u);
}

TEST(HostCallPort, transfer_buffer_lies_below_4_gib_and_can_be_locked) {
  HostCallPort& port = SystemHostCallPort();
  for (uint32_t size : {16u, 4096u, 1u << 20}) {
    uint8_t* buffer = port.Allocate(size);
    ASSERT_NE(buffer, nullptr) << size;
    EXPECT_EQ(uintptr_t{port.AddressWord(buffer)}, reinterpret_cast<uintptr_t>(buffer));
    buffer[size - 1] = 1;
    EXPECT_TRUE(port.Lock(buffer, size)) << size;
    EXPECT_TRUE(port.Unlock(buffer, size)) << size;
    port.Free(buffer, size);
  }
}

}  // namespace
}  // namespace mantlet
