#include "core/host_transfer.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

using namespace mantlet;
namespace {

using Bytes = std::vector<uint8_t>;
struct Answer {
  int32_t state = 0;
  uint32_t replyBytes = 0, announced = 0;  // words 3 and 4
};

// The hypervisor side of the six-word call, one transfer buffer at a time:
// reads each chunk from the locked buffer that word 5 must name, by the
// handle it gave, and answers 1 while bytes are missing, `last` for the chunk
// that completes the message and doneState after it, unless the chunk's
// answer is scripted (by chunk number, from 0).
class SimulatedHost final : public HostCallPort {
 public:
  bool present = true, failAllocate = false, failLock = false, failUnlock = false;
  uint32_t version = 2, size = 64, probeWord = 0;  // probeWord: one of words 3 to 5 set
  Answer last;
  int32_t doneState = 0;
  std::map<size_t, Answer> scripted;
  uint32_t handle = 6, total = 0;  // the latest transfer's: 7, 8, ...
  std::vector<Bytes> chunks;
  std::vector<uint32_t> ends;
  Bytes buffer, sent;
  bool allocated = false, locked = false;

  void Probe(HostCallWords& w) override {
    const uint32_t p = probeWord;
    if (w == HostCallWords{kHostCallProbe, kHostCallProbe, 0, 0, 0, 0})
      w = {present ? kHostCallPresent : 0, version, size, p == 3, p == 4, p == 5};
  }
  void Call(HostCallWords& w) override {
    if (w[0] == kHostCallEndTransfer) {
      ends.push_back(w[1]);
      w[5] = 0;
      return;
    }
    if (w[0] == kHostCallFirstChunk)
      std::tie(total, w[1], sent) = std::make_tuple(w[1], ++handle, Bytes{});
    ASSERT_TRUE(w[1] == handle && w[3] == size && w[4] <= size && locked && w[5] == 0x10000);
    const bool done = sent.size() >= total;
    chunks.emplace_back(buffer.begin(), buffer.begin() + w[4]);
    sent.insert(sent.end(), chunks.back().begin(), chunks.back().end());
    Answer answer = done ? Answer{doneState} : sent.size() >= total ? last : Answer{1};
    answer = scripted.count(chunks.size() - 1) != 0 ? scripted[chunks.size() - 1] : answer;
    for (uint32_t i = 0; i < answer.replyBytes && i < buffer.size(); ++i)
      buffer[i] = static_cast<uint8_t>('a' + i);
    w = {w[0], w[1], 0, answer.replyBytes, answer.announced, static_cast<uint32_t>(answer.state)};
  }
  uint8_t* Allocate(uint32_t bytes) override {
    buffer.assign(bytes, 0xCC);
    return (allocated = !failAllocate) ? buffer.data() : nullptr;
  }
  bool Lock(uint8_t* b, uint32_t) override {
    return !failLock && b == buffer.data() && !std::exchange(locked, true);
  }
  bool Unlock(uint8_t* b, uint32_t) override {
    return !failUnlock && b == buffer.data() && std::exchange(locked, false);
  }
  void Free(uint8_t* b, uint32_t) override {
    EXPECT_TRUE(b == buffer.data() && !locked) << "freed while locked";
    allocated = false;
  }
  uint32_t AddressWord(const uint8_t* b) override { return b == buffer.data() ? 0x10000 : 0; }
};

const ToolIdentity kTool{
    "corvane.MantletUser.guest.win", "Guest desktop utilities", {1, 4, 2, 318}};

int LogLine(SimulatedHost& host, const std::string& text) {
  return SendHostLogLine(host, nullptr, text.data(), text.size());
}

// Sends 100 bytes (two chunks of 64) on a channel of its own.
int Message(SimulatedHost& host, uint32_t room, uint8_t* reply, uint32_t& replyLength,
            HostChannel& channel) {
  EXPECT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
  const Bytes data(100, 0x5A);
  return SendHostMessage(&channel, data.data(), 100, reply, room, &replyLength);
}

}  // namespace

TEST(HostTransfer, failed_probe_or_buffer_fails_every_operation_before_any_chunk) {
  // Each on its own: no hypervisor, versions 1 and 3, a probe word that must
  // be 0, no memory, transfer size 0, a lock that fails.
  const std::pair<void (*)(SimulatedHost&), int> cases[] = {
      // clang-format off
      {[](SimulatedHost& h) { h.present = false; }, kHostCallNoHypervisor}, {[](SimulatedHost& h) { h.version = 1; }, kHostCallWrongVersion},
      {[](SimulatedHost& h) { h.version = 3; }, kHostCallWrongVersion},     {[](SimulatedHost& h) { h.probeWord = 3; }, kHostCallNoHypervisor},
      {[](SimulatedHost& h) { h.probeWord = 4; }, kHostCallNoHypervisor},   {[](SimulatedHost& h) { h.failAllocate = true; }, kHostCallNoMemory},
      {[](SimulatedHost& h) { h.size = 0; }, kHostCallNoMemory},            {[](SimulatedHost& h) { h.failLock = true; }, kHostCallLockFailed},
      // clang-format on
  };
  for (const auto& [setup, open] : cases) {
    SimulatedHost host;
    setup(host);
    HostChannel channel;
    EXPECT_EQ(OpenHostChannel(host, &channel), open);
    EXPECT_EQ(LogLine(host, "a line\n"), open);
    EXPECT_EQ(AnnounceTool(host, kTool, false), kHostCallNoHypervisor);  // whatever went wrong
    EXPECT_TRUE(host.chunks.empty() && !host.allocated) << open;
  }
}

TEST(HostTransfer, log_line_goes_in_chunks_of_the_transfer_size_after_the_header) {
  const std::pair<uint32_t, std::vector<size_t>> cases[] = {
      {32, {20, 32, 32, 32, 4}}, {20, {20, 20, 20, 20, 20, 20}}, {4096, {20, 100}}};
  std::string text;
  for (size_t i = 0; i < 100; ++i)
    text += static_cast<char>('0' + i % 10);
  for (const auto& [size, chunkLengths] : cases) {
    SimulatedHost host;
    host.size = size;
    ASSERT_EQ(LogLine(host, text), kHostCallOk);
    std::vector<size_t> lengths;
    for (const Bytes& chunk : host.chunks)
      lengths.push_back(chunk.size());
    EXPECT_EQ(lengths, chunkLengths) << size;
    Bytes expected = {17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '[', 'G', ']', ' '};
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(host.sent, expected);
    EXPECT_EQ(host.handle, 7u);  // one transfer; the rest went by its handle
  }
}

TEST(HostTransfer, results_and_end_calls_for_the_hosts_last_answer) {
  enum Op { kLog, kRegister, kUnregister };
  const struct {
    Op op;
    Answer last;
    int result;
    size_t ends;
    uint32_t size = 64;
  } cases[] = {
      // clang-format off
      {kLog, {0}, kHostCallOk, 0},  {kLog, {1}, kHostCallOk, 1},  {kLog, {2}, kHostCallOk, 1},
      {kLog, {3}, kHostCallOk, 0},  {kLog, {-1}, kHostCallRefused, 0},
      {kLog, {2, 1}, kHostCallReplyTooLarge, 1},  // no room for reply bytes
      {kLog, {0}, kHostCallBadArgument, 0, 16},   // no room for the header
      {kRegister, {-1}, kHostCallUnlockFailed, 0},       {kUnregister, {-1}, kHostCallWrongVersion, 0},
      {kRegister, {2, 0, 8}, kHostCallUnlockFailed, 1},  // reply announced, state 2
      {kUnregister, {1, 0, 8}, kHostCallUnlockFailed, 0},
      {kRegister, {2}, kHostCallOk, 0},  // goes on with an empty chunk
      // clang-format on
  };
  for (const auto& c : cases) {
    SimulatedHost host;
    host.size = c.size;
    host.last = c.last;
    const int result = c.op == kLog ? LogLine(host, std::string(10, 'x'))
                                    : AnnounceTool(host, kTool, c.op == kRegister);
    EXPECT_EQ(result, c.result) << c.op << " answered " << c.last.state;
    EXPECT_EQ(host.ends, std::vector<uint32_t>(c.ends, 7u)) << c.op << " " << c.last.state;
    EXPECT_FALSE(host.allocated);
  }
}

TEST(HostTransfer, message_reply_is_collected_and_limited_to_the_room) {
  const std::tuple<std::map<size_t, Answer>, int, std::string, size_t> cases[] = {
      {{{1, {1, 3, 5}}, {2, {1, 2, 0}}, {3, {0}}},
       kHostCallOk,
       "abcab",
       0},                                                // bytes count, not the announcement
      {{{0, {2, 9, 9}}}, kHostCallReplyTooLarge, "", 0},  // bytes beyond the room
      {{{1, {2, 0, 9}}}, kHostCallReplyTooLarge, "", 1},  // announced beyond it
      {{{1, {-6}}}, kHostCallRefused, "", 0},
  };
  for (const auto& [answers, result, text, ends] : cases) {
    SimulatedHost host;
    host.scripted = answers;
    HostChannel channel;
    uint8_t reply[8] = {};
    uint32_t replyLength = 0;
    EXPECT_EQ(Message(host, 8, reply, replyLength, channel), result);
    EXPECT_EQ(std::string(reply, reply + replyLength), text);
    EXPECT_EQ(channel.state, result == kHostCallRefused ? -6 : 0);  // the host's last state
    EXPECT_EQ(host.ends.size(), ends);
    EXPECT_EQ(CloseHostChannel(&channel), kHostCallOk);
  }
}

TEST(HostTransfer, host_that_never_ends_a_transfer_is_given_up_after_1000_idle_exchanges) {
  for (int32_t state : {1, 2, 3}) {
    SimulatedHost host;
    host.last.state = host.doneState = state;
    HostChannel channel;
    uint32_t replyLength = 0;
    EXPECT_EQ(Message(host, 0, nullptr, replyLength, channel), kHostCallRefused);
    EXPECT_EQ(host.sent, Bytes(100, 0x5A));
    EXPECT_EQ(host.chunks.size(), 2u + 1000u);  // the message, then the idle ones
    EXPECT_EQ(host.ends.size(), state == 3 ? 0u : 1u) << state;
  }
  SimulatedHost host;
  host.last.state = host.doneState = 1;
  EXPECT_EQ(AnnounceTool(host, kTool, true), kHostCallUnlockFailed);  // the start goes on
}

TEST(HostTransfer, damaged_closed_or_unlockable_channels) {
  SimulatedHost host;
  HostChannel channel;
  ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
  // clang-format off
  const std::pair<int32_t, int> states[] = {{kChannelClosed, kHostCallChannelClosed}, {4, kHostCallInvalidChannel}, {-12, kHostCallInvalidChannel}, {-666, kHostCallOk}};
  // clang-format on
  for (auto [state, expected] : states) {
    HostChannel copy = channel;
    copy.state = state;
    EXPECT_EQ(CheckHostChannel(&copy), expected) << state;
    copy.magic ^= 1;
    EXPECT_EQ(SendHostLogLine(host, &copy, "x", 1), kHostCallInvalidChannel) << state;
  }
  EXPECT_TRUE(host.chunks.empty());
  EXPECT_EQ(SendHostLogLine(host, &channel, "abc", 3), kHostCallOk);  // stays open
  uint32_t length = 0;
  const uint8_t data[1] = {};
  HostChannel unbuffered = channel;
  unbuffered.buffer = nullptr;
  EXPECT_EQ(SendHostMessage(&unbuffered, data, 1, nullptr, 0, &length), kHostCallBadArgument);
  EXPECT_EQ(SendHostMessage(&channel, data, 1, nullptr, 8, &length), kHostCallBadArgument);
  EXPECT_EQ(SendHostMessage(&channel, data, 1, nullptr, 0, nullptr), kHostCallBadArgument);
  host.failUnlock = true;
  EXPECT_EQ(CloseHostChannel(&channel), kHostCallUnlockFailed);
  EXPECT_TRUE(host.allocated);  // still locked, so not given back
  EXPECT_EQ(SendHostMessage(&channel, nullptr, 0, nullptr, 0, &length), kHostCallChannelClosed);
}
