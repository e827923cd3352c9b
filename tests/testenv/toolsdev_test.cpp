// Self-test of the tools device stand-in: the driver must be running in the
// prefix (wineenv.sh up), and every test talks to it as the module would.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "toolsdev_client.h"

namespace {

using testenv::DescriptorCopier;
using testenv::DevResponse;
using testenv::ToolsDevControl;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kStatusRetry = static_cast<int32_t>(0xC000022D);
constexpr int32_t kStatusCancelled = static_cast<int32_t>(0xC0000120);
constexpr int32_t kStatusDeviceNotReady = static_cast<int32_t>(0xC00000A3);
// Long enough for a completion already under way to arrive.
constexpr DWORD kStaysPendingMs = 300;

void Put32(Bytes& b, size_t offset, uint32_t v) {
  std::memcpy(b.data() + offset, &v, 4);
}
uint32_t Get32(const Bytes& b, size_t offset) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + offset, 4);
  return v;
}

// A request block: header, `inlineSize` payload bytes (words given), then
// one writable descriptor for `buffer` when it is not null.
Bytes Block(uint32_t code, uint16_t inlineSize, std::vector<uint32_t> words = {},
            Bytes* buffer = nullptr) {
  const size_t descriptors = (16 + inlineSize + 7) & ~size_t{7};
  Bytes b(buffer ? descriptors + 16 : 16 + inlineSize);
  Put32(b, 0, code);
  b[8] = static_cast<uint8_t>(inlineSize);
  b[9] = static_cast<uint8_t>(inlineSize >> 8);
  b[10] = buffer ? 1 : 0;
  for (size_t i = 0; i < words.size(); ++i)
    Put32(b, 16 + 4 * i, words[i]);
  if (buffer) {
    const auto address = reinterpret_cast<uintptr_t>(buffer->data());
    Put32(b, descriptors, static_cast<uint32_t>(address));
    Put32(b, descriptors + 4, static_cast<uint32_t>(static_cast<uint64_t>(address) >> 32));
    Put32(b, descriptors + 8, static_cast<uint32_t>(buffer->size()));
    Put32(b, descriptors + 12, 1);
  }
  return b;
}

struct Sent {
  bool ok = false;
  DWORD error = 0;
  DWORD bytes = 0;
};

// One synchronous request on a handle of its own, the way the module's
// reporters send theirs.
Sent Send(Bytes& block) {
  Sent s;
  HANDLE h = CreateFileW(TD_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return {false, GetLastError(), 0};
  const DWORD size = static_cast<DWORD>(block.size());
  s.ok = DeviceIoControl(h, TD_IOCTL_REQUEST, block.data(), size, block.data(), size, &s.bytes,
                         nullptr) != FALSE;
  s.error = s.ok ? 0 : GetLastError();
  CloseHandle(h);
  return s;
}

HANDLE OpenOverlapped() {
  return CreateFileW(TD_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED, nullptr);
}

DevResponse Status(uint32_t blockStatus) {
  DevResponse r;
  r.blockStatus = blockStatus;
  return r;
}

class ToolsDevTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dev_.Open()) << "the stand-in is not running (wineenv.sh up)";
    ASSERT_TRUE(dev_.Reset());
    base_ = dev_.Stats()->lastSeq;
  }
  void TearDown() override { dev_.Reset(); }
  ToolsDevControl dev_;
  uint32_t base_ = 0;
};

TEST_F(ToolsDevTest, records_the_block_as_it_arrived_and_answers_status_zero_by_default) {
  Bytes block = Block(0x8500, 8, {1, 0});
  Put32(block, 4, 0xAAAA);  // the device, not the caller, sets the status
  const Bytes sent = block;
  LARGE_INTEGER before, after;
  QueryPerformanceCounter(&before);
  const Sent s = Send(block);
  QueryPerformanceCounter(&after);
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.bytes, 24u);
  EXPECT_EQ(Get32(block, 4), 0u);

  const auto records = dev_.Records(base_);
  ASSERT_EQ(records.size(), 1u);
  const auto& r = records[0];
  EXPECT_EQ(r.seq, base_ + 1);
  EXPECT_EQ(r.code, 0x8500u);
  EXPECT_EQ(r.inputLength, 24u);
  EXPECT_EQ(r.block, sent);
  EXPECT_EQ(r.PayloadWord(0), 1u);
  EXPECT_EQ(r.blockStatus, 0u);
  EXPECT_EQ(r.irpStatus, 0);
  EXPECT_GT(r.qpcFrequency, 0);
  // Wine's kernel and user-mode performance counters are one clock.
  EXPECT_GE(r.qpc, before.QuadPart);
  EXPECT_LE(r.qpc, after.QuadPart);
}

TEST_F(ToolsDevTest, one_shots_answer_first_in_order_then_the_default_for_good) {
  ASSERT_TRUE(dev_.SetResponse(0x8320, Status(7), false));
  ASSERT_TRUE(dev_.SetResponse(0x8320, Status(1), true));
  ASSERT_TRUE(dev_.SetResponse(0x8320, Status(0xF0000025), true));
  for (uint32_t expected : {1u, 0xF0000025u, 7u, 7u}) {
    Bytes block = Block(0x8320, 248);
    ASSERT_TRUE(Send(block).ok);
    EXPECT_EQ(Get32(block, 4), expected);
  }
  Bytes other = Block(0x8502, 8);
  ASSERT_TRUE(Send(other).ok);
  EXPECT_EQ(Get32(other, 4), 0u) << "responses belong to their code";
  ASSERT_TRUE(dev_.ClearResponses(0x8320));
  Bytes cleared = Block(0x8320, 248);
  ASSERT_TRUE(Send(cleared).ok);
  EXPECT_EQ(Get32(cleared, 4), 0u);
}

TEST_F(ToolsDevTest, patch_writes_at_its_offset_and_is_clipped_to_the_block) {
  DevResponse r;
  r.patchOffset = 36;
  r.patch = {0x2A, 0, 0, 0};
  ASSERT_TRUE(dev_.SetResponse(0x8320, r, true));
  Bytes block = Block(0x8320, 248, {1, 0, 1, 0, 0, 17});
  ASSERT_TRUE(Send(block).ok);
  EXPECT_EQ(Get32(block, 36), 0x2Au);
  EXPECT_EQ(Get32(block, 16), 1u);

  r.patchOffset = 22;  // 2 of its 4 bytes fall beyond a 24-byte block
  r.patch = {0x11, 0x22, 0x33, 0x44};
  ASSERT_TRUE(dev_.SetResponse(0x8500, r, true));
  Bytes report = Block(0x8500, 8, {5, 6});
  ASSERT_TRUE(Send(report).ok);
  EXPECT_EQ(Get32(report, 20), 0x22110006u);
}

TEST_F(ToolsDevTest, a_failed_irp_reaches_the_caller_as_the_mapped_win32_error) {
  const struct {
    uint32_t ntstatus;
    DWORD win32;
  } cases[] = {{0xC000022D, ERROR_RETRY},
               {0xC0000120, ERROR_OPERATION_ABORTED},
               {0xC0000001, ERROR_GEN_FAILURE},
               {0xC0000010, ERROR_INVALID_FUNCTION},
               {0xC000000D, ERROR_INVALID_PARAMETER},
               {0xC00000A3, ERROR_NOT_READY},
               {0xC00000B5, ERROR_SEM_TIMEOUT},
               {0x80000005, ERROR_MORE_DATA}};
  for (const auto& c : cases) {
    DevResponse r = Status(0x77);
    r.irpStatus = static_cast<int32_t>(c.ntstatus);
    ASSERT_TRUE(dev_.SetResponse(0x8501, r, true));
    Bytes block = Block(0x8501, 8);
    const Sent s = Send(block);
    EXPECT_FALSE(s.ok) << std::hex << c.ntstatus;
    EXPECT_EQ(s.error, c.win32) << std::hex << c.ntstatus;
    // After an error nothing comes back; after a warning the block does.
    const bool warning = (c.ntstatus >> 30) == 2;
    EXPECT_EQ(Get32(block, 4), warning ? 0x77u : 0u) << std::hex << c.ntstatus;
  }
  const auto records = dev_.Records(base_, 0x8501);
  ASSERT_EQ(records.size(), std::size(cases));
  EXPECT_EQ(static_cast<uint32_t>(records[0].irpStatus), 0xC000022Du);
}

TEST_F(ToolsDevTest, a_delayed_answer_does_not_hold_up_other_requests) {
  DevResponse slow = Status(3);
  slow.delayMs = 300;
  ASSERT_TRUE(dev_.SetResponse(0x8502, slow, true));
  Bytes delayed = Block(0x8502, 8);
  Sent delayedResult;
  const ULONGLONG start = GetTickCount64();
  std::thread sender([&] { delayedResult = Send(delayed); });
  const bool arrived = dev_.WaitForRecord(0x8502, base_, 2000).has_value();
  Bytes quick = Block(0x8500, 8);
  EXPECT_TRUE(Send(quick).ok);
  EXPECT_LT(GetTickCount64() - start, 250u) << "the quick request waited for the delayed one";
  sender.join();
  ASSERT_TRUE(arrived);
  EXPECT_GE(GetTickCount64() - start, 290u);
  ASSERT_TRUE(delayedResult.ok);
  EXPECT_EQ(Get32(delayed, 4), 3u);
}

TEST_F(ToolsDevTest, host_wait_pends_until_fired_with_the_chosen_status) {
  HANDLE h = OpenOverlapped();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Bytes block = Block(0x8040, 0);
  auto wait = [&](OVERLAPPED& ov) {
    ov = {};
    ov.hEvent = event;
    DWORD bytes = 0;
    const BOOL done =
        DeviceIoControl(h, TD_IOCTL_REQUEST, block.data(), 16, block.data(), 16, &bytes, &ov);
    return done ? ERROR_SUCCESS : GetLastError();
  };
  OVERLAPPED ov;
  ASSERT_EQ(wait(ov), static_cast<DWORD>(ERROR_IO_PENDING));
  ASSERT_TRUE(dev_.WaitPendingHostWaits(1, 2000));
  EXPECT_EQ(WaitForSingleObject(event, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(dev_.FireHostEvent(0xF0000020), 1u);
  DWORD bytes = 0;
  ASSERT_TRUE(GetOverlappedResult(h, &ov, &bytes, TRUE));
  EXPECT_EQ(bytes, 16u);
  EXPECT_EQ(Get32(block, 4), 0xF0000020u);

  ASSERT_EQ(wait(ov), static_cast<DWORD>(ERROR_IO_PENDING));
  ASSERT_TRUE(dev_.WaitPendingHostWaits(1, 2000));
  EXPECT_EQ(dev_.FireHostEvent(0, kStatusRetry), 1u);
  EXPECT_FALSE(GetOverlappedResult(h, &ov, &bytes, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RETRY));

  // A one-shot queued for the host wait answers it at once.
  ASSERT_TRUE(dev_.SetResponse(0x8040, Status(0x55), true));
  const DWORD r = wait(ov);
  ASSERT_TRUE(r == ERROR_SUCCESS || r == ERROR_IO_PENDING) << r;
  ASSERT_EQ(WaitForSingleObject(event, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
  ASSERT_TRUE(GetOverlappedResult(h, &ov, &bytes, FALSE));
  EXPECT_EQ(Get32(block, 4), 0x55u);
  EXPECT_EQ(dev_.Stats()->pendingHostWaits, 0u);
  CloseHandle(event);
  CloseHandle(h);
}

TEST_F(ToolsDevTest, wait_record_returns_the_next_record_of_its_code_or_times_out) {
  HANDLE h = OpenOverlapped();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const TdWaitRecord wait{base_, 0x8501};
  uint8_t answer[4 + sizeof(TdRecordHeader) + TD_MAX_RECORD_BLOCK] = {};
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(DeviceIoControl(h, TD_IOCTL_WAIT_RECORD, const_cast<TdWaitRecord*>(&wait),
                               sizeof(wait), answer, sizeof(answer), nullptr, &ov));
  // Wine hands IRPs to the driver in the order they were sent: once this
  // control is answered, the wait above is pending in the driver.
  ASSERT_TRUE(dev_.Stats().has_value());
  Bytes other = Block(0x8500, 8);
  Bytes wanted = Block(0x8501, 8, {9, 10});
  EXPECT_TRUE(Send(other).ok);
  EXPECT_TRUE(Send(wanted).ok);
  DWORD bytes = 0;
  ASSERT_EQ(WaitForSingleObject(ov.hEvent, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  ASSERT_TRUE(GetOverlappedResult(h, &ov, &bytes, FALSE));
  ASSERT_EQ(bytes, 4 + sizeof(TdRecordHeader) + 24);  // the seq, then the record itself
  TdRecordHeader header;
  std::memcpy(&header, answer + 4, sizeof(header));
  EXPECT_EQ(header.seq, base_ + 2);
  EXPECT_EQ(header.code, 0x8501u);
  EXPECT_EQ(std::memcmp(answer + 4 + sizeof(header), wanted.data(), 16), 0);
  CloseHandle(ov.hEvent);
  CloseHandle(h);

  // Already there: at once, through the client; nothing newer: time-out,
  // which cancels the wait.
  const auto first = dev_.WaitForRecord(0, base_, 0);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->seq, base_ + 1);
  EXPECT_EQ(dev_.WaitForRecord(0x8501, base_, 0)->PayloadWord(1), 10u);
  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(dev_.WaitForRecord(0, base_ + 2, 100).has_value());
  EXPECT_LT(GetTickCount64() - start, 1000u);
}

TEST_F(ToolsDevTest, descriptor_data_is_written_into_the_callers_buffer_by_the_copier) {
  DevResponse r;
  r.hasDescriptorData = true;
  r.tooSmallStatus = 0xF0000009;
  for (size_t i = 0; i < 100000; ++i)
    r.descriptorData.push_back(static_cast<uint8_t>(i * 7));
  ASSERT_TRUE(dev_.SetResponse(0x8041, r, false));

  Bytes small(256, 0xEE);
  Bytes block = Block(0x8041, 4, {62}, &small);
  ASSERT_TRUE(Send(block).ok);
  EXPECT_EQ(Get32(block, 4), 0xF0000009u);
  EXPECT_EQ(small, Bytes(256, 0xEE)) << "a too-small buffer is left alone";

  Bytes large(100016, 0xEE);
  block = Block(0x8041, 4, {62}, &large);
  ASSERT_TRUE(Send(block).ok);
  EXPECT_EQ(Get32(block, 4), TD_STATUS_NO_COPIER) << "no copier registered";

  DescriptorCopier copier;
  ASSERT_TRUE(copier.Start());
  block = Block(0x8041, 4, {62}, &large);
  const Sent s = Send(block);
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(Get32(block, 4), 0u);
  EXPECT_EQ(Get32(block, 32), 100000u) << "byte count holds the answer's length";
  EXPECT_TRUE(std::equal(r.descriptorData.begin(), r.descriptorData.end(), large.begin()));
  EXPECT_EQ(large[100000], 0xEE);
  copier.Stop();
  EXPECT_EQ(dev_.Stats()->copierWaiting, 0u);
}

TEST_F(ToolsDevTest, closing_a_handle_ends_its_pending_waits) {
  HANDLE h = OpenOverlapped();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  Bytes hostWait = Block(0x8040, 0);
  const TdWaitRecord never{0xFFFFFF00u, 0};
  uint32_t seq = 0;
  OVERLAPPED ov1{}, ov2{};
  ov1.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ov2.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(DeviceIoControl(h, TD_IOCTL_REQUEST, hostWait.data(), 16, hostWait.data(), 16,
                               nullptr, &ov1));
  EXPECT_FALSE(DeviceIoControl(h, TD_IOCTL_WAIT_RECORD, const_cast<TdWaitRecord*>(&never),
                               sizeof(never), &seq, sizeof(seq), nullptr, &ov2));
  ASSERT_TRUE(dev_.WaitPendingHostWaits(1, 2000));
  CloseHandle(h);
  const HANDLE events[] = {ov1.hEvent, ov2.hEvent};
  EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 3000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(static_cast<int32_t>(ov1.Internal), kStatusCancelled);
  EXPECT_EQ(static_cast<int32_t>(ov2.Internal), kStatusCancelled);
  EXPECT_EQ(dev_.Stats()->pendingHostWaits, 0u);
  CloseHandle(ov1.hEvent);
  CloseHandle(ov2.hEvent);
}

// One overlapped request on a handle of its own, left pending.
struct HeldRequest {
  HANDLE handle = OpenOverlapped();
  Bytes block;
  OVERLAPPED ov{};
  explicit HeldRequest(Bytes b) : block(std::move(b)) {
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const DWORD size = static_cast<DWORD>(block.size());
    DeviceIoControl(handle, TD_IOCTL_REQUEST, block.data(), size, block.data(), size, nullptr, &ov);
  }
  ~HeldRequest() {
    Close();
    WaitForSingleObject(ov.hEvent, 5000);  // the block must outlive the request
    CloseHandle(ov.hEvent);
  }
  bool Ended(DWORD withinMs) { return WaitForSingleObject(ov.hEvent, withinMs) == WAIT_OBJECT_0; }
  int32_t Status() const { return static_cast<int32_t>(ov.Internal); }
  void Close() {
    if (handle != INVALID_HANDLE_VALUE)
      CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
};

TEST_F(ToolsDevTest, cancel_ends_what_the_device_holds_only_on_a_cancellable_device) {
  DevResponse slow;
  slow.delayMs = 60000;
  for (const bool cancellable : {false, true}) {
    ASSERT_TRUE(dev_.SetCancellable(cancellable));
    ASSERT_TRUE(dev_.SetResponse(0x8502, slow, true));
    HeldRequest wait(Block(0x8040, 0)), delayed(Block(0x8502, 8));
    ASSERT_TRUE(dev_.WaitPendingHostWaits(1, 2000));
    ASSERT_TRUE(dev_.WaitForRecord(0x8502, base_, 2000).has_value());
    CancelIoEx(wait.handle, &wait.ov);
    CancelIoEx(delayed.handle, &delayed.ov);
    EXPECT_EQ(wait.Ended(kStaysPendingMs), cancellable) << cancellable;
    EXPECT_EQ(delayed.Ended(kStaysPendingMs), cancellable) << cancellable;
    // Closing the handles ends them whatever the device is.
    wait.Close();
    delayed.Close();
    ASSERT_TRUE(wait.Ended(3000) && delayed.Ended(3000));
    EXPECT_EQ(wait.Status(), kStatusCancelled);
    EXPECT_EQ(delayed.Status(), kStatusCancelled);
    base_ = dev_.Stats()->lastSeq;
  }
  ASSERT_TRUE(dev_.Reset());
  EXPECT_EQ(dev_.Stats()->cancellable, 0u) << "a reset makes the device strict again";
}

TEST_F(ToolsDevTest, a_hung_device_holds_requests_past_close_until_the_hang_ends) {
  HeldRequest before(Block(0x8040, 0));
  ASSERT_TRUE(dev_.WaitPendingHostWaits(1, 2000));
  ASSERT_TRUE(dev_.Hang());
  HeldRequest during(Block(0x8500, 8));
  ASSERT_TRUE(dev_.WaitForRecord(0x8500, base_, 2000).has_value());
  EXPECT_EQ(dev_.Stats()->heldByHang, 2u);
  before.Close();
  during.Close();
  EXPECT_EQ(dev_.FireHostEvent(0), 0u);
  EXPECT_FALSE(before.Ended(kStaysPendingMs) || during.Ended(0));
  ASSERT_TRUE(dev_.EndHang());
  ASSERT_TRUE(before.Ended(3000) && during.Ended(3000));
  EXPECT_EQ(before.Status(), kStatusDeviceNotReady);
  EXPECT_EQ(during.Status(), kStatusDeviceNotReady);

  // A hang for a time ends by itself.
  ASSERT_TRUE(dev_.HangFor(400));
  const ULONGLONG start = GetTickCount64();
  Bytes report = Block(0x8501, 8);
  const Sent s = Send(report);
  EXPECT_GE(GetTickCount64() - start, 300u);
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.error, static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_EQ(dev_.Stats()->hung, 0u);
}

}  // namespace
