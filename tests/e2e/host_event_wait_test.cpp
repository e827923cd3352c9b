// The worker's host event wait on the tools device.
#include <gtest/gtest.h>

#include "core/device_request.h"
#include "tool_fixture.h"

namespace testsupport {
namespace {

constexpr uint32_t kHostEventWait = 0x8040;
constexpr int32_t kStatusRetry = static_cast<int32_t>(0xC000022D);  // becomes ERROR_RETRY

class HostEventWait : public ToolTest {
 protected:
  size_t Waits() { return device.Records(0, kHostEventWait).size(); }
  // No further request within a second and a half.
  bool StaysQuiet(size_t count) {
    Sleep(1500);
    return Waits() == count;
  }
};

TEST_F(HostEventWait, pending_right_after_start) {
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(device.WaitPendingHostWaits(1, 3000));
  const auto waits = device.Records(0, kHostEventWait);
  ASSERT_EQ(waits.size(), 1u);
  const auto wait = mantlet::DecodeDeviceRequest(waits[0].block);
  ASSERT_TRUE(wait);
  EXPECT_EQ(wait->status, 0u);
  EXPECT_TRUE(wait->payload.empty());
  EXPECT_TRUE(wait->buffers.empty());
  EXPECT_EQ(waits[0].inputLength, waits[0].block.size());
  EXPECT_TRUE(StaysQuiet(1));
}

// A failed completion (any status, or the call itself failing) goes back to
// the wait too: the device fault suite walks every status the device gives.
TEST_F(HostEventWait, sent_again_after_success_and_wait_again) {
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(device.WaitPendingHostWaits(1, 3000));
  EXPECT_EQ(device.FireHostEvent(0), 1u);
  ASSERT_TRUE(device.WaitPendingHostWaits(1, 3000));
  EXPECT_EQ(Waits(), 2u);
  EXPECT_EQ(device.FireHostEvent(0xF0000020), 1u);
  ASSERT_TRUE(device.WaitPendingHostWaits(1, 3000));
  EXPECT_EQ(Waits(), 3u);
  // Each resend starts with a clean status field.
  for (const auto& wait : device.Records(0, kHostEventWait))
    EXPECT_EQ(mantlet::DeviceRequestStatus(wait.block), 0u);
}

TEST_F(HostEventWait, immediate_answers_are_followed_until_one_fails) {
  testenv::DevResponse ok, again, retry, bad;
  again.blockStatus = 0xF0000020;
  retry.irpStatus = kStatusRetry;
  bad.blockStatus = 0xF0000007;
  for (const auto* r : {&ok, &again, &retry, &bad})
    ASSERT_TRUE(device.SetResponse(kHostEventWait, *r, true));
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitUntil([&] { return Waits() == 4; }, 3000));
  EXPECT_TRUE(StaysQuiet(4));  // the failed answer ends the wait for good
  EXPECT_EQ(device.Stats()->pendingHostWaits, 0u);
  WorkerCaughtUp();  // commands still run without it
}

TEST_F(HostEventWait, immediate_failure_of_the_call_ends_the_wait) {
  testenv::DevResponse failed;
  failed.irpStatus = static_cast<int32_t>(0xC0000001);
  ASSERT_TRUE(device.SetResponse(kHostEventWait, failed, true));
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(WaitUntil([&] { return Waits() == 1; }, 3000));
  EXPECT_TRUE(StaysQuiet(1));
}

TEST_F(HostEventWait, a_device_answering_at_once_for_ever_does_not_hold_the_worker) {
  testenv::DevResponse ok;
  constexpr size_t kAnswers = 3000;
  for (size_t i = 0; i < kAnswers; ++i)
    ASSERT_TRUE(device.SetResponse(kHostEventWait, ok, true));
  ASSERT_EQ(StartTool(), 0);
  WorkerCaughtUp();
  ASSERT_EQ(StopTool(), 0);
  // The stop was heard between two turns, long before the answers ran out.
  EXPECT_LT(Waits(), kAnswers / 2);
}

TEST_F(HostEventWait, stop_ends_the_pending_request) {
  ASSERT_EQ(StartTool(), 0);
  ASSERT_TRUE(device.WaitPendingHostWaits(1, 3000));
  ASSERT_EQ(StopTool(), 0);
  EXPECT_TRUE(device.WaitPendingHostWaits(0, 3000));
  ASSERT_EQ(StartTool(), 0);
  EXPECT_TRUE(device.WaitPendingHostWaits(1, 3000));
}

}  // namespace
}  // namespace testsupport
