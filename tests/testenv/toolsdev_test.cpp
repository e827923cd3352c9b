// The tools device stand-in's rules that only the simulated guest's scenarios
// use ("device cancellable", "device hang <ms>", delayed answers): the e2e
// suites exercise the rest of it on every run. The driver must be running in
// the prefix (wineenv.sh up).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "toolsdev_client.h"

namespace {

using testenv::DevResponse;
using testenv::ToolsDevControl;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kStatusCancelled = static_cast<int32_t>(0xC0000120);
// Long enough for a completion already under way to arrive.
constexpr DWORD kStaysPendingMs = 300;

// A request block: the header, `inlineSize` zero payload bytes and, for a
// `buffer`, one writable descriptor of it.
Bytes Block(uint32_t code, uint16_t inlineSize, Bytes* buffer = nullptr) {
  const size_t descriptors = (16 + inlineSize + 7) & ~size_t{7};
  Bytes b(buffer ? descriptors + 16 : 16 + inlineSize);
  std::memcpy(b.data(), &code, 4);
  std::memcpy(b.data() + 8, &inlineSize, 2);
  if (buffer) {
    b[10] = 1;
    const uint64_t address = reinterpret_cast<uintptr_t>(buffer->data());
    const uint32_t words[] = {static_cast<uint32_t>(address), static_cast<uint32_t>(address >> 32),
                              static_cast<uint32_t>(buffer->size()), 1};
    std::memcpy(b.data() + descriptors, words, sizeof(words));
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

TEST_F(ToolsDevTest, a_delayed_answer_does_not_hold_up_other_requests) {
  DevResponse slow;
  slow.blockStatus = 3;
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
  EXPECT_EQ(delayed[4], 3u);
}

// A patch that runs past the block keeps to the block; descriptor data with
// no copier to write it is refused with a status of its own (the host
// stand-in always runs one).
TEST_F(ToolsDevTest, a_patch_is_clipped_to_the_block_and_data_needs_a_copier) {
  DevResponse r;
  r.patchOffset = 22;  // 2 of its 4 bytes fall beyond a 24-byte block
  r.patch = {0x11, 0x22, 0x33, 0x44};
  ASSERT_TRUE(dev_.SetResponse(0x8500, r, true));
  Bytes report = Block(0x8500, 8);
  ASSERT_TRUE(Send(report).ok);
  EXPECT_EQ(report[22], 0x11);
  EXPECT_EQ(report[23], 0x22);

  DevResponse data;
  data.hasDescriptorData = true;
  data.descriptorData.assign(64, 0x5A);
  ASSERT_TRUE(dev_.SetResponse(0x8041, data, true));
  Bytes buffer(64, 0xEE);
  Bytes block = Block(0x8041, 4, &buffer);
  ASSERT_TRUE(Send(block).ok);
  uint32_t status = 0;
  std::memcpy(&status, block.data() + 4, 4);
  EXPECT_EQ(status, static_cast<uint32_t>(TD_STATUS_NO_COPIER));
  EXPECT_EQ(buffer, Bytes(64, 0xEE));
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

TEST_F(ToolsDevTest, a_hang_for_a_time_ends_by_itself) {
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
