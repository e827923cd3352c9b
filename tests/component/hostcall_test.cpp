// The hypervisor call and its guard, linked in and run for real, on a
// machine (Wine) without the hypervisor.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "core/hostcall_port.h"
#include "core/hypercall.h"

namespace mantlet {
namespace {

bool AtRdpmc(const CONTEXT& context) {
  const auto* ip = reinterpret_cast<const uint8_t*>(context.Rip);
  return ip[0] == 0x0F && ip[1] == 0x33;
}

// Handlers that the test puts around the guard.
std::atomic<int> g_caught{0};
std::atomic<DWORD> g_lastCode{0};

// Added after the guard: sees what the guard passed on, and steps over an
// rdpmc so that the test survives it.
LONG CALLBACK CatchPassedOn(EXCEPTION_POINTERS* info) {
  ++g_caught;
  g_lastCode = info->ExceptionRecord->ExceptionCode;
  if (info->ExceptionRecord->ExceptionCode >= 0xE0000000)
    return EXCEPTION_CONTINUE_EXECUTION;
  if (AtRdpmc(*info->ContextRecord)) {
    info->ContextRecord->Rip += 2;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// Added first: reports an rdpmc fault the way Windows does, as a
// privileged-instruction fault, instead of Wine's access violation.
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
    g_caught = 0;
    g_lastCode = 0;
  }
  void TearDown() override {
    for (PVOID handler : handlers_)
      RemoveVectoredExceptionHandler(handler);
    RemoveHostCallGuard();
  }
  void Add(bool first, PVECTORED_EXCEPTION_HANDLER handler) {
    handlers_.push_back(AddVectoredExceptionHandler(first ? 1 : 0, handler));
  }

  static bool ProbeComesBackEmpty() {
    uint32_t words[6] = {0x5F9E652, 0x5F9E652, 7, 7, 7, 7};
    HypercallProbe(words);
    const uint32_t zero[6] = {};
    return memcmp(words, zero, sizeof(words)) == 0;
  }

  std::vector<PVOID> handlers_;
};

TEST_F(HostCallGuard, probe_without_hypervisor_reports_no_hypervisor_everywhere) {
  Add(false, &CatchPassedOn);
  EXPECT_TRUE(ProbeComesBackEmpty());
  HostChannel channel;
  EXPECT_EQ(OpenHostChannel(SystemHostCallPort(), &channel), kHostCallNoHypervisor);
  EXPECT_EQ(SendHostLogLine(SystemHostCallPort(), nullptr, "line\n", 5), kHostCallNoHypervisor);
  ToolIdentity tool;
  tool.identifier = "corvane.MantletUser.guest.win";
  EXPECT_EQ(AnnounceTool(SystemHostCallPort(), tool, true), kHostCallNoHypervisor);
  EXPECT_EQ(g_caught, 0) << "the guard passed its own fault on";
}

TEST_F(HostCallGuard, privileged_instruction_fault_at_the_probe_is_handled_too) {
  Add(true, &AsOnWindows);
  Add(false, &CatchPassedOn);
  EXPECT_TRUE(ProbeComesBackEmpty());
  EXPECT_EQ(g_caught, 0);
}

TEST_F(HostCallGuard, every_other_fault_passes_on) {
  Add(true, &AsOnWindows);
  Add(false, &CatchPassedOn);
  // The unguarded call's instruction, although it is the same rdpmc.
  uint32_t words[6] = {0x5F9E653, 1, 0, 16, 0, 0};
  Hypercall(words);
  EXPECT_EQ(g_caught, 1);
  EXPECT_EQ(g_lastCode, static_cast<DWORD>(EXCEPTION_PRIV_INSTRUCTION));
  EXPECT_EQ(words[0], 0x5F9E653u);  // untouched: stepped over, not answered

  RaiseException(0xE0424242, 0, 0, nullptr);
  EXPECT_EQ(g_caught, 2);
  EXPECT_EQ(g_lastCode, 0xE0424242u);
}

TEST_F(HostCallGuard, probes_on_many_threads_at_once) {
  std::atomic<int> empty{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i)
        empty += ProbeComesBackEmpty() ? 1 : 0;
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(empty, 600);
}

TEST(HostCallPort, transfer_buffer_lies_below_4_gib_and_can_be_locked) {
  HostCallPort& port = SystemHostCallPort();
  for (uint32_t size : {16u, 4096u, 65536u, 1u << 20}) {
    uint8_t* buffer = port.Allocate(size);
    ASSERT_NE(buffer, nullptr) << size;
    EXPECT_LT(reinterpret_cast<uintptr_t>(buffer), uintptr_t{1} << 32) << size;
    EXPECT_EQ(uintptr_t{port.AddressWord(buffer)}, reinterpret_cast<uintptr_t>(buffer));
    buffer[size - 1] = 1;
    EXPECT_TRUE(port.Lock(buffer, size)) << size;
    EXPECT_TRUE(port.Unlock(buffer, size)) << size;
    port.Free(buffer, size);
  }
}

}  // namespace
}  // namespace mantlet
