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

// A host behind the six-word call, as the hypervisor side behaves: it reads
// each chunk from the buffer named by word 5, reassembles the transfers by
// handle, answers 1 while bytes are missing, finalState for the chunk that
// completes a message and 0 after that, unless a chunk's answer is scripted.
// Its transfer buffers are plain memory named by small numbers, so a chunk
// read through any other address fails the test.
class SimulatedHost final : public HostCallPort {
 public:
  bool present = true;
  uint32_t version = kHostCallProtocolVersion;
  uint32_t size = 64;
  uint32_t probeTail[3] = {0, 0, 0};  // words 3 to 5 of the probe's answer
  int32_t finalState = 0;
  std::map<size_t, Answer> scripted;  // by chunk number, counted from 0
  bool failAllocate = false, failLock = false, failUnlock = false;

  std::vector<HostCallWords> calls;  // words as the host received them
  std::vector<Bytes> chunks;
  std::vector<Bytes> messages;  // completed, in order of completion
  std::vector<int32_t> ends;
  int probes = 0;
  std::map<uint32_t, Bytes> memory;  // by address word
  std::set<uint32_t> locked;

  void Probe(HostCallWords& w) override {
    ++probes;
    calls.push_back(w);
    if (!present) {  // what the guard leaves behind
      w = {};
      return;
    }
    if (w[0] != kHostCallProbe || w[1] != kHostCallProbe)
      return;
    w = {kHostCallPresent, version, size, probeTail[0], probeTail[1], probeTail[2]};
  }

  void Call(HostCallWords& w) override {
    calls.push_back(w);
    switch (w[0]) {
      case kHostCallFirstChunk: {
        const int32_t handle = nextHandle_++;
        transfers_[handle].total = w[1];
        Chunk(handle, w);
        break;
      }
      case kHostCallNextChunk:
        ASSERT_EQ(transfers_.count(static_cast<int32_t>(w[1])), 1u) << "unknown handle";
        Chunk(static_cast<int32_t>(w[1]), w);
        break;
      case kHostCallEndTransfer:
        ends.push_back(static_cast<int32_t>(w[1]));
        w[5] = 0;
        break;
      default:
        ADD_FAILURE() << "unknown call " << w[0];
    }
  }

  uint8_t* Allocate(uint32_t bytes) override {
    if (failAllocate)
      return nullptr;
    const uint32_t word = 0x10000 * ++allocations_;
    memory[word].assign(bytes, 0xCC);
    return memory[word].data();
  }
  bool Lock(uint8_t* buffer, uint32_t) override {
    if (failLock)
      return false;
    locked.insert(AddressWord(buffer));
    return true;
  }
  bool Unlock(uint8_t* buffer, uint32_t) override {
    if (failUnlock)
      return false;
    return locked.erase(AddressWord(buffer)) == 1;
  }
  void Free(uint8_t* buffer, uint32_t) override {
    const uint32_t word = AddressWord(buffer);
    EXPECT_EQ(locked.count(word), 0u) << "freed while locked";
    memory.erase(word);
  }
  uint32_t AddressWord(const uint8_t* buffer) override {
    for (auto& [word, bytes] : memory) {
      if (bytes.data() == buffer)
        return word;
    }
    return 0xBAD;
  }

  std::vector<HostCallWords> CallsOf(uint32_t op) const {
    std::vector<HostCallWords> found;
    for (const HostCallWords& w : calls) {
      if (w[0] == op)
        found.push_back(w);
    }
    return found;
  }

 private:
  struct Transfer {
    uint32_t total = 0;
    Bytes bytes;
    bool complete = false;
  };

  void Chunk(int32_t handle, HostCallWords& w) {
    EXPECT_EQ(w[2], 0u);
    EXPECT_EQ(w[3], size);
    EXPECT_LE(w[4], size);
    ASSERT_EQ(memory.count(w[5]), 1u) << "chunk outside the transfer buffer";
    ASSERT_EQ(locked.count(w[5]), 1u) << "buffer not locked";
    Bytes& buffer = memory[w[5]];
    const Bytes chunk(buffer.begin(), buffer.begin() + w[4]);
    const size_t number = chunks.size();
    chunks.push_back(chunk);
    Transfer& t = transfers_[handle];
    t.bytes.insert(t.bytes.end(), chunk.begin(), chunk.end());

    Answer answer;
    if (!t.complete && t.bytes.size() >= t.total) {
      t.complete = true;
      messages.push_back(t.bytes);
      answer.state = finalState;
    } else if (!t.complete) {
      answer.state = 1;
    }
    if (scripted.count(number) != 0)
      answer = scripted[number];
    for (uint32_t i = 0; i < answer.replyBytes && i < buffer.size(); ++i)
      buffer[i] = static_cast<uint8_t>('a' + i % 26);
    w = {w[0],
         static_cast<uint32_t>(handle),
         0,
         answer.replyBytes,
         answer.announced,
         static_cast<uint32_t>(answer.state)};
  }

  std::map<int32_t, Transfer> transfers_;
  int32_t nextHandle_ = 7;
  uint32_t allocations_ = 0;
};

Bytes LogMessage(const std::string& text) {
  Bytes message = {17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '[', 'G', ']', ' '};
  message.insert(message.end(), text.begin(), text.end());
  return message;
}

ToolIdentity Tool() {
  ToolIdentity tool;
  tool.identifier = "corvane.MantletUser.guest.win";
  tool.description = "Guest desktop utilities (user-side tool)";
  tool.version = {1, 4, 2, 318};
  return tool;
}

Bytes Announcement(bool registration) {
  HostMessageBuilder message(kToolAnnouncementType);
  BuildToolAnnouncement(message, Tool(), registration);
  return Bytes(message.data(), message.data() + message.size());
}

int LogLine(SimulatedHost& host, const std::string& text) {
  return SendHostLogLine(host, nullptr, text.data(), text.size());
}

class HostTransfer : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!host.failUnlock) {
      EXPECT_TRUE(host.memory.empty()) << "a transfer buffer was not freed";
    }
  }
  SimulatedHost host;
};

TEST_F(HostTransfer, probe_decides_presence_version_and_transfer_size) {
  struct Case {
    const char* what;
    bool present;
    uint32_t version;
    uint32_t tail3;
    int expected;
  };
  const Case cases[] = {
      {"no hypervisor", false, 2, 0, kHostCallNoHypervisor},
      {"version 1", true, 1, 0, kHostCallWrongVersion},
      {"version 3", true, 3, 0, kHostCallWrongVersion},
      {"word 3 not 0", true, 2, 5, kHostCallNoHypervisor},
      {"present", true, 2, 0, kHostCallOk},
  };
  for (const Case& c : cases) {
    SimulatedHost h;
    h.present = c.present;
    h.version = c.version;
    h.probeTail[0] = c.tail3;
    h.size = 48;
    HostChannel channel;
    EXPECT_EQ(OpenHostChannel(h, &channel), c.expected) << c.what;
    EXPECT_EQ(h.probes, 1) << c.what;
    if (c.expected == kHostCallOk) {
      EXPECT_EQ(channel.transferSize, 48u);
      EXPECT_EQ(channel.allocatedSize, 48u);
      EXPECT_EQ(channel.state, kChannelOpen);
      EXPECT_EQ(channel.magic, kHostChannelMagic);
      EXPECT_EQ(h.locked.size(), 1u);
      EXPECT_EQ(CloseHostChannel(&channel), kHostCallOk);
      EXPECT_EQ(channel.state, kChannelClosed);
    } else {
      EXPECT_EQ(channel.state, kChannelClosed) << c.what;
      EXPECT_TRUE(h.memory.empty()) << c.what;
    }
  }
  EXPECT_EQ(OpenHostChannel(host, nullptr), kHostCallBadArgument);
}

TEST_F(HostTransfer, buffer_failures_release_what_was_taken) {
  HostChannel channel;
  host.failAllocate = true;
  EXPECT_EQ(OpenHostChannel(host, &channel), kHostCallNoMemory);
  host.failAllocate = false;
  host.failLock = true;
  EXPECT_EQ(OpenHostChannel(host, &channel), kHostCallLockFailed);
  EXPECT_TRUE(host.memory.empty());
  host.failLock = false;
  host.size = 0;
  EXPECT_EQ(OpenHostChannel(host, &channel), kHostCallNoMemory);
  EXPECT_EQ(LogLine(host, "x"), kHostCallNoMemory);
}

TEST_F(HostTransfer, version_1_fails_every_operation_before_any_transfer) {
  host.version = 1;
  HostChannel channel;
  EXPECT_EQ(OpenHostChannel(host, &channel), kHostCallWrongVersion);
  EXPECT_EQ(LogLine(host, "a line\n"), kHostCallWrongVersion);
  // The announcement reports any failure to open its channel as no hypervisor.
  EXPECT_EQ(AnnounceTool(host, Tool(), true), kHostCallNoHypervisor);
  EXPECT_EQ(AnnounceTool(host, Tool(), false), kHostCallNoHypervisor);
  EXPECT_TRUE(host.chunks.empty());
  EXPECT_EQ(host.probes, 4);
}

TEST_F(HostTransfer, log_line_goes_in_chunks_of_s_after_the_header) {
  struct Case {
    uint32_t size;
    size_t textLength;
    std::vector<uint32_t> chunkLengths;
  };
  const Case cases[] = {
      {32, 100, {20, 32, 32, 32, 4}}, {32, 64, {20, 32, 32}}, {20, 41, {20, 20, 20, 1}},
      {4096, 300, {20, 300}},         {64, 0, {20}},
  };
  for (const Case& c : cases) {
    SimulatedHost h;
    h.size = c.size;
    std::string text;
    for (size_t i = 0; i < c.textLength; ++i)
      text += static_cast<char>('0' + i % 10);
    ASSERT_EQ(LogLine(h, text), kHostCallOk) << c.size << "/" << c.textLength;
    std::vector<uint32_t> lengths;
    for (const Bytes& chunk : h.chunks)
      lengths.push_back(static_cast<uint32_t>(chunk.size()));
    EXPECT_EQ(lengths, c.chunkLengths) << c.size << "/" << c.textLength;
    ASSERT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(h.messages[0], LogMessage(text));

    // First chunk announces the total; later ones carry the host's handle.
    const auto first = h.CallsOf(kHostCallFirstChunk);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0][1], 20 + c.textLength);
    for (const HostCallWords& w : h.CallsOf(kHostCallNextChunk))
      EXPECT_EQ(w[1], 7u);
    EXPECT_TRUE(h.ends.empty());
    EXPECT_TRUE(h.memory.empty());
  }
}

TEST_F(HostTransfer, transfer_size_16_fails_log_lines_while_registration_still_sends) {
  host.size = 16;
  EXPECT_EQ(LogLine(host, "short"), kHostCallBadArgument);
  EXPECT_TRUE(host.chunks.empty());
  EXPECT_EQ(host.probes, 1);

  EXPECT_EQ(AnnounceTool(host, Tool(), true), kHostCallOk);
  const Bytes expected = Announcement(true);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0], expected);
  EXPECT_EQ(host.chunks.size(), (expected.size() + 15) / 16);
  EXPECT_EQ(host.CallsOf(kHostCallFirstChunk)[0][1], expected.size());
}

TEST_F(HostTransfer, announcements_carry_the_built_messages) {
  EXPECT_EQ(AnnounceTool(host, Tool(), true), kHostCallOk);
  EXPECT_EQ(AnnounceTool(host, Tool(), false), kHostCallOk);
  ASSERT_EQ(host.messages.size(), 2u);
  EXPECT_EQ(host.messages[0], Announcement(true));
  EXPECT_EQ(host.messages[1], Announcement(false));
  ToolIdentity anonymous = Tool();
  anonymous.identifier = nullptr;
  EXPECT_EQ(AnnounceTool(host, anonymous, true), kHostCallBadArgument);
  EXPECT_EQ(host.probes, 2);
}

TEST_F(HostTransfer, announcement_results_for_host_answers) {
  struct Case {
    const char* what;
    int32_t finalState;
    uint32_t announced;
    int registration;
    int unregistration;
    size_t ends;  // per announcement
  };
  const Case cases[] = {
      {"refused", -3, 0, kHostCallUnlockFailed, kHostCallWrongVersion, 0},
      {"reply offered, state 2", 2, 8, kHostCallUnlockFailed, kHostCallUnlockFailed, 1},
      {"reply offered, state 1", 1, 8, kHostCallUnlockFailed, kHostCallUnlockFailed, 0},
      {"done", 0, 0, kHostCallOk, kHostCallOk, 0},
  };
  for (const Case& c : cases) {
    SimulatedHost h;
    h.finalState = c.finalState;
    const size_t lastChunk = (Announcement(true).size() + h.size - 1) / h.size - 1;
    h.scripted[lastChunk] = {c.finalState, 0, c.announced};
    EXPECT_EQ(AnnounceTool(h, Tool(), true), c.registration) << c.what;
    h.scripted.clear();
    h.scripted[h.chunks.size()] = {c.finalState, 0, c.announced};
    EXPECT_EQ(AnnounceTool(h, Tool(), false), c.unregistration) << c.what;
    EXPECT_EQ(h.ends.size(), 2 * c.ends) << c.what;
    EXPECT_TRUE(h.memory.empty()) << c.what;
  }
}

TEST_F(HostTransfer, message_reply_is_collected_up_to_the_room_given) {
  HostChannel channel;
  ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
  const Bytes data(100, 0x5A);  // two chunks of 64
  host.scripted[1] = {1, 10, 30};
  host.scripted[2] = {1, 20, 30};
  host.scripted[3] = {0, 0, 30};
  uint8_t reply[40] = {};
  uint32_t replyLength = 0;
  ASSERT_EQ(SendHostMessage(&channel, data.data(), 100, reply, sizeof(reply), &replyLength),
            kHostCallOk);
  EXPECT_EQ(replyLength, 30u);
  EXPECT_EQ(std::string(reply, reply + 10), "abcdefghij");
  EXPECT_EQ(std::string(reply + 10, reply + 30), "abcdefghijklmnopqrst");
  // After the data the message goes on with empty chunks while the state is not 0.
  ASSERT_EQ(host.chunks.size(), 4u);
  EXPECT_EQ(host.chunks[2].size(), 0u);
  EXPECT_EQ(host.chunks[3].size(), 0u);
  EXPECT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(CloseHostChannel(&channel), kHostCallOk);
}

TEST_F(HostTransfer, reply_larger_than_the_room_gives_minus_7) {
  struct Case {
    const char* what;
    Answer last;
    uint32_t room;
    size_t ends;
  };
  const Case cases[] = {
      {"bytes beyond the room, state 2", {2, 9, 9}, 8, 0},  // refused before any end
      {"announced beyond the room, state 2", {2, 0, 9}, 8, 1},
      {"announced beyond the room, state 1", {1, 0, 9}, 8, 0},
      {"announced beyond no room", {2, 0, 1}, 0, 1},
  };
  for (const Case& c : cases) {
    SimulatedHost h;
    HostChannel channel;
    ASSERT_EQ(OpenHostChannel(h, &channel), kHostCallOk);
    h.scripted[0] = c.last;
    uint8_t reply[16] = {};
    uint32_t replyLength = 0;
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(SendHostMessage(&channel, data, 4, reply, c.room, &replyLength),
              kHostCallReplyTooLarge)
        << c.what;
    EXPECT_EQ(h.ends.size(), c.ends) << c.what;
    CloseHostChannel(&channel);
  }
}

TEST_F(HostTransfer, negative_state_gives_minus_8_and_is_handed_to_the_channel) {
  HostChannel channel;
  ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
  host.scripted[0] = {-4, 0, 0};
  const Bytes data(200, 1);
  uint32_t replyLength = 0;
  EXPECT_EQ(SendHostMessage(&channel, data.data(), 200, nullptr, 0, &replyLength),
            kHostCallRefused);
  EXPECT_EQ(channel.state, -4);
  EXPECT_EQ(host.chunks.size(), 1u);  // nothing after the refusal
  EXPECT_TRUE(host.ends.empty());
  EXPECT_EQ(CloseHostChannel(&channel), kHostCallOk);
}

TEST_F(HostTransfer, log_line_ends_the_transfer_when_the_last_state_is_1_or_2) {
  struct Case {
    int32_t lastState;
    uint32_t replyBytes;
    int result;
    size_t ends;
  };
  const Case cases[] = {
      {0, 0, kHostCallOk, 0},
      {1, 0, kHostCallOk, 1},
      {2, 0, kHostCallOk, 1},
      {3, 0, kHostCallOk, 0},
      {-1, 0, kHostCallRefused, 0},
      {-11, 0, kHostCallRefused, 0},
      {2, 4, kHostCallReplyTooLarge, 1},  // no reply room: still ended
  };
  for (const Case& c : cases) {
    SimulatedHost h;
    h.scripted[1] = {c.lastState, c.replyBytes, 0};
    EXPECT_EQ(LogLine(h, "the line\n"), c.result) << c.lastState;
    ASSERT_EQ(h.ends.size(), c.ends) << c.lastState;
    if (c.ends == 1) {
      EXPECT_EQ(h.ends[0], 7);
    }
    EXPECT_TRUE(h.memory.empty());
  }

  // A refusal of the header stops the line there.
  SimulatedHost refusing;
  refusing.scripted[0] = {-2, 0, 0};
  EXPECT_EQ(LogLine(refusing, "never sent"), kHostCallRefused);
  EXPECT_EQ(refusing.chunks.size(), 1u);
}

TEST_F(HostTransfer, log_line_on_a_given_channel_leaves_it_open_with_the_last_state) {
  HostChannel channel;
  ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
  host.scripted[1] = {2, 0, 0};
  EXPECT_EQ(SendHostLogLine(host, &channel, "abc", 3), kHostCallOk);
  EXPECT_EQ(channel.state, 2);
  EXPECT_EQ(host.ends.size(), 1u);
  EXPECT_EQ(host.probes, 1);
  EXPECT_EQ(host.memory.size(), 1u);
  EXPECT_EQ(SendHostLogLine(host, &channel, nullptr, 0), kHostCallBadArgument);
  EXPECT_EQ(CloseHostChannel(&channel), kHostCallOk);
}

TEST_F(HostTransfer, damaged_or_closed_channels_are_refused) {
  HostChannel channel;
  ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
  const uint8_t data[1] = {0};
  uint32_t replyLength = 0;
  struct Case {
    uint32_t magic;
    int32_t state;
    int expected;
  };
  const Case cases[] = {
      {kHostChannelMagic, kChannelClosed, kHostCallChannelClosed},
      {kHostChannelMagic, 4, kHostCallInvalidChannel},
      {kHostChannelMagic, -12, kHostCallInvalidChannel},
      {kHostChannelMagic, -778, kHostCallInvalidChannel},
      {0x3F2E8A04, kChannelOpen, kHostCallInvalidChannel},
      {kHostChannelMagic, -666, kHostCallOk},
      {kHostChannelMagic, 3, kHostCallOk},
      {kHostChannelMagic, -10, kHostCallOk},
  };
  for (const Case& c : cases) {
    HostChannel copy = channel;
    copy.magic = c.magic;
    copy.state = c.state;
    EXPECT_EQ(CheckHostChannel(&copy), c.expected) << c.state;
    if (c.expected != kHostCallOk) {
      EXPECT_EQ(SendHostMessage(&copy, data, 1, nullptr, 0, &replyLength), c.expected);
      EXPECT_EQ(SendHostLogLine(host, &copy, "x", 1), c.expected);
    }
  }
  EXPECT_TRUE(host.chunks.empty());
  EXPECT_EQ(CloseHostChannel(&channel), kHostCallOk);
  EXPECT_EQ(CloseHostChannel(&channel), kHostCallBadArgument);
  EXPECT_EQ(SendHostMessage(&channel, data, 1, nullptr, 0, &replyLength), kHostCallChannelClosed);
}

TEST_F(HostTransfer, failed_unlock_keeps_the_memory_and_reports_minus_4) {
  HostChannel channel;
  ASSERT_EQ(OpenHostChannel(host, &channel), kHostCallOk);
  host.failUnlock = true;
  EXPECT_EQ(CloseHostChannel(&channel), kHostCallUnlockFailed);
  EXPECT_EQ(channel.state, kChannelClosed);
  EXPECT_EQ(host.memory.size(), 1u);  // still locked, so not given back
}

}  // namespace
}  // namespace mantlet
