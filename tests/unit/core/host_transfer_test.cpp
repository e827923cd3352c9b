#include "core/host_transfer.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace mantlet {
namespace {

using Bytes = std::vector<uint8_t>;

struct Answer {
  int32_t state = 0;
  uint32_t replyBytes = 0;  // word 3: bytes the host put into the buffer
  uint32_t announced = 0;   // word 4: the reply length it announces
};

// The hypervisor side of the six-word call: reads each chunk from the buffer
// named by word 5, reassembles transfers by handle, and answers 1 while bytes
// are missing, finalState for the chunk that completes a message and 0 after
// that, unless the chunk's answer is scripted. Its buffers are named by small
// numbers, so a chunk read through any other address fails the test.
class SimulatedHost final : public HostCallPort {
 public:
  bool present = true;
  uint32_t version = 2, size = 64, probeWord3 = 0;
  int32_t finalState = 0, doneState = 0;  // doneState: after the completing chunk
  std::map<size_t, Answer> scripted;      // by chunk number, from 0
  bool failAllocate = false, failLock = false, failUnlock = false;

  int probes = 0;
  std::vector<HostCallWords> firstChunks;
  std::vector<Bytes> chunks, messages;
  std::vector<uint32_t> ends;
  std::map<uint32_t, Bytes> memory;  // by address word
  std::set<uint32_t> locked;

  void Probe(HostCallWords& w) override {
    ++probes;
    if (!present)
      w = {};  // what the guard leaves behind
    else if (w == HostCallWords{kHostCallProbe, kHostCallProbe, 0, 0, 0, 0})
      w = {kHostCallPresent, version, size, probeWord3, 0, 0};
  }

  void Call(HostCallWords& w) override {
    if (w[0] == kHostCallEndTransfer) {
      ends.push_back(w[1]);
      w[5] = 0;
      return;
    }
    ASSERT_TRUE(w[0] == kHostCallFirstChunk || w[0] == kHostCallNextChunk);
    if (w[0] == kHostCallFirstChunk) {
      firstChunks.push_back(w);
      w[1] = static_cast<uint32_t>(firstChunks.size()) + 6;  // handles 7, 8, ...
      transfers_[w[1]].total = firstChunks.back()[1];
    }
    ASSERT_EQ(transfers_.count(w[1]), 1u) << "unknown handle";
    EXPECT_EQ(w[3], size);
    ASSERT_LE(w[4], size);
    ASSERT_EQ(locked.count(w[5]), 1u) << "chunk outside the locked buffer";
    Bytes& buffer = memory[w[5]];
    chunks.emplace_back(buffer.begin(), buffer.begin() + w[4]);
    Transfer& t = transfers_[w[1]];
    t.bytes.insert(t.bytes.end(), chunks.back().begin(), chunks.back().end());
    Answer answer{t.complete ? doneState : 1};
    if (!t.complete && t.bytes.size() >= t.total) {
      t.complete = true;
      messages.push_back(t.bytes);
      answer.state = finalState;
    }
    if (scripted.count(chunks.size() - 1) != 0)
      answer = scripted[chunks.size() - 1];
    for (uint32_t i = 0; i < answer.replyBytes && i < buffer.size(); ++i)
      buffer[i] = static_cast<uint8_t>('a' + i);
    w = {w[0], w[1], 0, answer.replyBytes, answer.announced, static_cast<uint32_t>(answer.state)};
  }

  uint8_t* Allocate(uint32_t bytes) override {
    if (failAllocate)
      return nullptr;
    Bytes& block = memory[0x10000 * (++allocations_)];
    block.assign(bytes, 0xCC);
    return block.data();
  }
  bool Lock(uint8_t* buffer, uint32_t) override {
    return !failLock && locked.insert(AddressWord(buffer)).second;
  }
  bool Unlock(uint8_t* buffer, uint32_t) override {
    return !failUnlock && locked.erase(AddressWord(buffer)) == 1;
  }
  void Free(uint8_t* buffer, uint32_t) override {
    EXPECT_EQ(locked.count(AddressWord(buffer)), 0u) << "freed while locked";
    memory.erase(AddressWord(buffer));
  }
  uint32_t AddressWord(const uint8_t* buffer) override {
    for (auto& [word, bytes] : memory) {
      if (bytes.data() == buffer)
        return word;
    }
    return 0xBAD;
  }

 private:
  struct Transfer {
    uint32_t total = 0;
    Bytes bytes;
    bool complete = false;
  };
  std::map<uint32_t, Transfer> transfers_;
  uint32_t allocations_ = 0;
};

const ToolIdentity kTool{
    "corvane.MantletUser.guest.win", "Guest desktop utilities", {1, 4, 2, 318}};

Bytes Announcement(bool registration) {
  HostMessageBuilder message(kToolAnnouncementType);
  BuildToolAnnouncement(message, kTool, registration);
  return Bytes(message.data(), message.data() + message.size());
}

int LogLine(SimulatedHost& host, const std::string& text) {
  return SendHostLogLine(host, nullptr, text.data(), text.size());
}

TEST(HostTransfer, failed_probe_or_buffer_fails_every_operation_before_any_chunk) {
  struct Case {
    const char* what;
    void (*setup)(SimulatedHost&);
    int open;  // also the log line's result; an announcement reports -5
  };
  const Case cases[] = {
      {"no hypervisor", [](SimulatedHost& h) { h.present = false; }, kHostCallNoHypervisor},
      {"version 1", [](SimulatedHost& h) { h.version = 1; }, kHostCallWrongVersion},
      {"version 3", [](SimulatedHost& h) { h.version = 3; }, kHostCallWrongVersion},
      {"word 3 set", [](SimulatedHost& h) { h.probeWord3 = 1; }, kHostCallNoHypervisor},
      {"no memory", [](SimulatedHost& h) { h.failAllocate = true; }, kHostCallNoMemory},
      {"transfer size 0", [](SimulatedHost& h) { h.size = 0; }, kHostCallNoMemory},
      {"lock fails", [](SimulatedHost& h) { h.failLock = true; }, kHostCallLockFailed},
  };
  for (const Case& c : cases) {
    SimulatedHost host;
    c.setup(host);
    HostChannel channel;
    EXPECT_EQ(OpenHostChannel(host, &channel), c.open) << c.what;
    EXPECT_EQ(LogLine(host, "a line\n"), c.open) << c.what;
    EXPECT_EQ(AnnounceTool(host, kTool, true), kHostCallNoHypervisor) << c.what;
    EXPECT_EQ(AnnounceTool(host, kTool, false), kHostCallNoHypervisor) << c.what;
    EXPECT_EQ(host.probes, 4) << c.what;
    EXPECT_TRUE(host.chunks.empty()) << c.what;
    EXPECT_TRUE(host.memory.empty()) << c.what;
  }
}

TEST(HostTransfer, log_line_goes_in_chunks_of_s_after_the_header) {
  struct Case {
    uint32_t size;
    size_t textLength;
    std::vector<size_t> chunkLengths;
  };
  const Case cases[] = {
      {32, 100, {20, 32, 32, 32, 4}}, {32, 64, {20, 32, 32}}, {20, 41, {20, 20, 20, 1}},
      {4096, 300, {20, 300}},         {64, 0, {20}},
  };
  for (const Case& c : cases) {
    SimulatedHost host;
    host.size = c.size;
    std::string text;
    for (size_t i = 0; i < c.textLength; ++i)
      text += static_cast<char>('0' + i % 10);
    ASSERT_EQ(LogLine(host, text), kHostCallOk) << c.size << "/" << c.textLength;
    std::vector<size_t> lengths;
    for (const Bytes& chunk : host.chunks)
      lengths.push_back(chunk.size());
    EXPECT_EQ(lengths, c.chunkLengths) << c.size << "/" << c.textLength;
    Bytes expected = {17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '[', 'G', ']', ' '};
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(host.messages, std::vector<Bytes>{expected});
    EXPECT_EQ(host.firstChunks.size(), 1u);  // one transfer; the rest went by its handle
    EXPECT_TRUE(host.ends.empty());
    EXPECT_TRUE(host.memory.empty());
  }
}

TEST(HostTransfer, transfer_size_16_fails_log_lines_while_registration_still_sends) {
  SimulatedHost host;
  host.size = 16;
  EXPECT_EQ(LogLine(host, "short"), kHostCallBadArgument);
  EXPECT_TRUE(host.chunks.empty());
  EXPECT_EQ(AnnounceTool(host, kTool, true), kHostCallOk);
  EXPECT_EQ(AnnounceTool(host, kTool, false), kHostCallOk);
  EXPECT_EQ(host.messages, (std::vector<Bytes>{Announcement(true), Announcement(false)}));
  EXPECT_EQ(host.chunks.size(),
            (Announcement(true).size() + 15) / 16 + (Announcement(false).size() + 15) / 16);
  EXPECT_TRUE(host.memory.empty());
}

TEST(HostTransfer, results_and_end_calls_for_the_hosts_last_answer) {
  enum Op { kLog, kRegister, kUnregister };
  struct Case {
    Op op;
    Answer last;
    int result;
    size_t ends;
  };
  const Case cases[] = {
      {kLog, {0}, kHostCallOk, 0},
      {kLog, {1}, kHostCallOk, 1},
      {kLog, {2}, kHostCallOk, 1},
      {kLog, {3}, kHostCallOk, 0},
      {kLog, {-1}, kHostCallRefused, 0},
      {kLog, {2, 4}, kHostCallReplyTooLarge, 1},  // no room for reply bytes
      {kRegister, {-1}, kHostCallUnlockFailed, 0},
      {kUnregister, {-1}, kHostCallWrongVersion, 0},
      {kRegister, {2, 0, 8}, kHostCallUnlockFailed, 1},  // reply announced, state 2
      {kUnregister, {1, 0, 8}, kHostCallUnlockFailed, 0},
      {kRegister, {2}, kHostCallOk, 0},  // goes on with an empty chunk
  };
  for (const Case& c : cases) {
    SimulatedHost host;
    // A log line goes as header and text; an announcement in chunks of 64.
    const size_t chunks = c.op == kLog ? 2 : (Announcement(c.op == kRegister).size() + 63) / 64;
    host.scripted[chunks - 1] = c.last;
    const int result = c.op == kLog ? LogLine(host, std::string(10, 'x'))
                                    : AnnounceTool(host, kTool, c.op == kRegister);
    EXPECT_EQ(result, c.result) << c.op << " answered " << c.last.state;
    EXPECT_EQ(host.ends, std::vector<uint32_t>(c.ends, 7u)) << c.op << " answered " << c.last.state;
    EXPECT_TRUE(host.memory.empty());
  }
}

TEST(HostTransfer, message_reply_is_collected_and_limited_to_the_room) {
  struct Case {
    std::map<size_t, Answer> answers;
    uint32_t room;
    int result;
    std::string reply;
    size_t ends;
  };
  const Case cases[] = {
      {{{1, {1, 3, 5}}, {2, {1, 2, 5}}, {3, {0}}}, 8, kHostCallOk, "abcab", 0},
      {{{0, {2, 9, 9}}}, 8, kHostCallReplyTooLarge, "", 0},  // bytes beyond the room
      {{{1, {2, 0, 9}}}, 8, kHostCallReplyTooLarge, "", 1},  // announced beyond it
      {{{1, {-6}}}, 8, kHostCallRefused, "", 0},
  };
  for (const Case& c : cases) {
    SimulatedHost host;
    host.scripted = c.answers;
    HostChannel channel;
    ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
    const Bytes data(100, 0x5A);  // two chunks of 64
    uint8_t reply[8] = {};
    uint32_t replyLength = 0;
    EXPECT_EQ(SendHostMessage(&channel, data.data(), 100, reply, c.room, &replyLength), c.result);
    if (c.result == kHostCallOk) {
      EXPECT_EQ(std::string(reply, reply + replyLength), c.reply);
    } else if (c.result == kHostCallRefused) {
      EXPECT_EQ(channel.state, -6);  // handed back to the channel
    }
    EXPECT_EQ(host.ends.size(), c.ends);
    EXPECT_EQ(CloseHostChannel(&channel), kHostCallOk);
  }
}

TEST(HostTransfer, host_that_never_ends_a_transfer_is_given_up_after_1000_idle_exchanges) {
  for (int32_t state : {1, 2, 3}) {
    SimulatedHost host;
    host.finalState = host.doneState = state;
    HostChannel channel;
    ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
    const Bytes data(100, 0x5A);
    uint32_t replyLength = 0;
    EXPECT_EQ(SendHostMessage(&channel, data.data(), 100, nullptr, 0, &replyLength),
              kHostCallRefused)
        << state;
    EXPECT_EQ(host.messages, std::vector<Bytes>{data}) << state;
    EXPECT_EQ(host.chunks.size(), 2u + 1000u) << state;  // the message, then the idle ones
    EXPECT_EQ(host.ends.size(), state == 3 ? 0u : 1u) << state;
    EXPECT_EQ(CloseHostChannel(&channel), kHostCallOk);
  }
  SimulatedHost host;
  host.finalState = host.doneState = 1;
  EXPECT_EQ(AnnounceTool(host, kTool, true), kHostCallUnlockFailed);  // the start goes on
}

TEST(HostTransfer, damaged_closed_or_unlockable_channels) {
  SimulatedHost host;
  HostChannel channel;
  ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
  const std::pair<int32_t, int> states[] = {{kChannelClosed, kHostCallChannelClosed},
                                            {4, kHostCallInvalidChannel},
                                            {-12, kHostCallInvalidChannel},
                                            {-666, kHostCallOk}};
  for (auto [state, expected] : states) {
    HostChannel copy = channel;
    copy.state = state;
    EXPECT_EQ(CheckHostChannel(&copy), expected) << state;
    copy.magic ^= 1;
    EXPECT_EQ(SendHostLogLine(host, &copy, "x", 1), kHostCallInvalidChannel) << state;
  }
  EXPECT_TRUE(host.chunks.empty());
  EXPECT_EQ(SendHostLogLine(host, &channel, "abc", 3), kHostCallOk);  // stays open
  EXPECT_EQ(channel.state, 0);                                        // the transfer's last state
  host.failUnlock = true;
  EXPECT_EQ(CloseHostChannel(&channel), kHostCallUnlockFailed);
  EXPECT_EQ(host.memory.size(), 1u);  // still locked, so not given back
  uint32_t replyLength = 0;
  EXPECT_EQ(SendHostMessage(&channel, nullptr, 0, nullptr, 0, &replyLength),
            kHostCallChannelClosed);
}

}  // namespace
}  // namespace mantlet
