// The host call channel against a host whose every answer comes from the
// input: probe words, transfer size, memory that fails, transfer states,
// reply byte counts and announced lengths, and a host that keeps answering
// the same once the input runs out. Properties: every chunk stays inside the
// locked buffer and names the transfer's handle; a reply never lands past
// the room given; locked memory is never freed and nothing else is kept; a
// sent message arrives whole (an announcement with its fields in order); and
// every operation ends after a bounded number of calls.
#include <cstring>
#include <map>
#include <memory>

#include "core/bytes.h"
#include "core/host_transfer.h"
#include "fuzz_input.h"

namespace {

using namespace mantlet;
using fuzzing::Bytes;
using fuzzing::Check;

// Far more calls than any answer sequence in an input can justify.
constexpr size_t kCallLimit = 100000;

class FuzzedHost final : public HostCallPort {
 public:
  FuzzedHost(fuzzing::Input& setup, fuzzing::Input& answers) : answers_(answers) {
    const uint8_t probe = setup.U8();
    const uint16_t size = setup.U16();
    size_ = (size & 0x8000) != 0 ? 4096 : size % 97;
    probe_ = {kHostCallPresent, kHostCallProtocolVersion, size_, 0, 0, 0};
    if (probe % 8 == 6)
      probe_[1] = probe >> 3;
    else if (probe % 8 == 7)
      probe_[3 + (probe >> 3) % 3] = 1;
    const uint8_t failures = setup.U8();
    failAllocate_ = (failures & 3) == 3;
    failLock_ = (failures & 12) == 12;
    failUnlock_ = (failures & 48) == 48;
    stuck_ = (failures & 64) != 0;
  }

  ~FuzzedHost() {
    // Memory kept locked after a failed unlock is the module's to lose; the
    // test gives it back so that the leak checker sees only real leaks.
    for (auto& [buffer, block] : blocks_)
      Check(block.locked);
  }

  void Probe(HostCallWords& words) override {
    Check(words == HostCallWords{kHostCallProbe, kHostCallProbe, 0, 0, 0, 0});
    words = probe_;
  }

  void Call(HostCallWords& w) override {
    Check(++calls_ <= kCallLimit);
    if (w[0] == kHostCallEndTransfer) {
      Check(transfers_.count(w[1]) == 1 && !transfers_[w[1]].ended);
      Check(w[2] == 0 && w[3] == 0 && w[4] == 0 && w[5] == 0);
      transfers_[w[1]].ended = true;
      w[5] = static_cast<uint32_t>(NextAnswer().state);
      return;
    }
    Check(w[0] == kHostCallFirstChunk || w[0] == kHostCallNextChunk);
    Check(w[2] == 0 && w[3] == size_ && w[4] <= size_);
    Block* block = BlockOf(w[5]);
    Check(block != nullptr && block->locked && block->size >= size_);
    if (w[0] == kHostCallFirstChunk) {
      const uint32_t total = w[1];
      transfers_[w[1] = nextHandle_++].total = total;
    }
    Check(transfers_.count(w[1]) == 1 && !transfers_[w[1]].ended);
    Transfer& t = transfers_[w[1]];
    t.bytes.insert(t.bytes.end(), block->data.get(), block->data.get() + w[4]);
    const Answer a = NextAnswer();
    t.cutShort = t.cutShort || (a.state == 0 && t.bytes.size() < t.total);
    const uint32_t written = std::min<uint32_t>(a.replyBytes, block->size);
    for (uint32_t i = 0; i < written; ++i)
      block->data[i] = static_cast<uint8_t>(calls_ * 31 + i);
    if (a.state >= 0 && a.replyBytes <= size_)
      t.replies.insert(t.replies.end(), block->data.get(), block->data.get() + written);
    w = {w[0], w[1], 0, a.replyBytes, a.announced, static_cast<uint32_t>(a.state)};
  }

  uint8_t* Allocate(uint32_t size) override {
    Check(size >= size_);
    if (failAllocate_)
      return nullptr;
    Block block{std::make_unique<uint8_t[]>(size), size, false};
    uint8_t* data = block.data.get();
    blocks_.emplace(data, std::move(block));
    return data;
  }
  bool Lock(uint8_t* buffer, uint32_t size) override {
    Check(blocks_.count(buffer) == 1 && !blocks_[buffer].locked && blocks_[buffer].size == size);
    return !failLock_ && (blocks_[buffer].locked = true);
  }
  bool Unlock(uint8_t* buffer, uint32_t size) override {
    Check(blocks_.count(buffer) == 1 && blocks_[buffer].locked && blocks_[buffer].size == size);
    return !failUnlock_ && !(blocks_[buffer].locked = false);
  }
  void Free(uint8_t* buffer, uint32_t size) override {
    Check(blocks_.count(buffer) == 1 && !blocks_[buffer].locked && blocks_[buffer].size == size);
    blocks_.erase(buffer);
  }
  uint32_t AddressWord(const uint8_t* buffer) override {
    Check(blocks_.count(const_cast<uint8_t*>(buffer)) == 1);
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer) >> 4);
  }

  struct Transfer {
    uint32_t total = 0;
    bool cutShort = false;  // the host said done before the whole message came
    Bytes bytes;
    Bytes replies;
    bool ended = false;
  };
  uint32_t size() const { return size_; }
  size_t calls() const { return calls_; }
  const std::map<uint32_t, Transfer>& transfers() const { return transfers_; }
  bool Present() const {
    return probe_[0] == kHostCallPresent && probe_[1] == kHostCallProtocolVersion &&
           probe_[3] == 0 && probe_[4] == 0 && probe_[5] == 0;
  }

 private:
  struct Answer {
    int32_t state = 0;
    uint32_t replyBytes = 0;
    uint32_t announced = 0;
  };
  struct Block {
    std::unique_ptr<uint8_t[]> data;
    uint32_t size = 0;
    bool locked = false;
  };

  // Mostly the states 0, 1 and 2 with small replies; any value now and then.
  Answer NextAnswer() {
    if (answers_.empty())
      return stuck_ ? last_ : Answer{};
    const uint8_t state = answers_.U8();
    const uint8_t reply = answers_.U8();
    last_.state = state < 0xF0 ? state % 3 : static_cast<int8_t>(state << 4) >> 4;
    last_.replyBytes = reply < 0xF0 ? reply % 8 : answers_.U32();
    last_.announced = answers_.U8();
    return last_;
  }

  Block* BlockOf(uint32_t word) {
    for (auto& [buffer, block] : blocks_) {
      if (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer) >> 4) == word)
        return &block;
    }
    return nullptr;
  }

  fuzzing::Input& answers_;
  HostCallWords probe_;
  uint32_t size_ = 0;
  bool failAllocate_ = false, failLock_ = false, failUnlock_ = false, stuck_ = false;
  Answer last_;
  size_t calls_ = 0;
  uint32_t nextHandle_ = 7;
  std::map<uint8_t*, Block> blocks_;
  std::map<uint32_t, Transfer> transfers_;
};

std::string WithoutNul(std::string s) {
  std::erase(s, '\0');
  return s;
}

bool IsResult(int r) {
  return r <= kHostCallOk && r >= kHostCallChannelClosed;
}

// The announcement as it arrived: header, then fields with indices 0, 1, ...
// and the tags and data a registration or unregistration carries.
void CheckAnnouncement(const Bytes& m, const ToolIdentity& tool, bool registration) {
  Check(m.size() >= kHostMessageHeaderSize && LoadU32(m.data()) == kToolAnnouncementType &&
        LoadU32(m.data() + 16) == m.size() - kHostMessageHeaderSize);
  std::vector<std::pair<uint32_t, Bytes>> fields;
  for (size_t at = kHostMessageHeaderSize; at < m.size();) {
    Check(at + kHostFieldHeaderSize <= m.size());
    const uint32_t length = LoadU32(m.data() + at);
    Check(LoadU32(m.data() + at + 8) == fields.size());
    Check(length <= m.size() - at - kHostFieldHeaderSize);
    const uint8_t* d = m.data() + at + kHostFieldHeaderSize;
    fields.emplace_back(LoadU32(m.data() + at + 4), Bytes(d, d + length));
    at += kHostFieldHeaderSize + length;
  }
  const auto text = [](const char* s) { return Bytes(s, s + strlen(s)); };
  Check(fields.size() == (registration ? 4u : 3u));
  Check(fields.front().first == kFieldProtocol && fields.back().first == kFieldIdentifier &&
        fields.back().second == text(tool.identifier));
  if (registration) {
    const auto version = EncodeVersionRecord(tool.version);
    Check(fields[1].first == kFieldDescription && fields[1].second == text(tool.description));
    Check(fields[2].first == kFieldVersion &&
          fields[2].second == Bytes(version.begin(), version.end()));
  } else {
    Check(fields[1].first == kFieldToolState && fields[1].second == Bytes{2, 0, 0, 0});
  }
}

}  // namespace

// Input: operation, host setup (probe, u16 size, failures), reply room (u16),
// channel damage (u8 + u32), two length-prefixed texts, then the host's
// answers, three bytes each.
FUZZ_TARGET(input) {
  const uint8_t op = input.U8() % 5;
  fuzzing::Input& setup = input;
  FuzzedHost host(setup, input);
  const uint16_t replyRoom = input.U16();
  const uint8_t damage = input.U8();
  const uint32_t damageWord = input.U32();
  const std::string first = input.Text();
  const std::string second = input.Text();

  switch (op) {
    case 0: {  // a log line on a channel of its own
      const Bytes text(first.begin(), first.end());
      const int r = SendHostLogLine(host, nullptr, first.data(), first.size());
      Check(IsResult(r));
      if (r == kHostCallOk) {
        Check(host.transfers().size() == 1);
        const auto& t = host.transfers().begin()->second;
        const auto header = EncodeLogLineHeader();
        Bytes expected(header.begin(), header.end());
        expected.insert(expected.end(), text.begin(), text.end());
        Check(t.bytes == expected);
      }
      break;
    }
    case 1: {  // a log line on a channel the caller opened, perhaps damaged since
      HostChannel channel;
      const int opened = OpenHostChannel(host, &channel);
      Check(IsResult(opened) && (opened == kHostCallOk || channel.buffer == nullptr));
      if ((damage & 1) != 0)
        channel.state = static_cast<int32_t>(damageWord);
      if ((damage & 2) != 0)
        channel.magic = damageWord;
      const size_t callsBefore = host.calls();
      const int r = SendHostLogLine(host, &channel, first.data(), first.size());
      Check(IsResult(r));
      if (r == kHostCallInvalidChannel || r == kHostCallChannelClosed)
        Check(host.calls() == callsBefore);
      if (channel.buffer != nullptr)
        Check(IsResult(CloseHostChannel(&channel)));
      break;
    }
    case 2:
    case 3: {  // registration and unregistration
      const std::string identifier = WithoutNul(first), description = WithoutNul(second);
      const ToolIdentity tool{(damage & 1) != 0 ? nullptr : identifier.c_str(),
                              description.c_str(),
                              {damageWord, replyRoom, damage, 318}};
      const bool registration = op == 2;
      const int r = AnnounceTool(host, tool, registration);
      Check(IsResult(r));
      if (tool.identifier == nullptr)
        Check(r == kHostCallBadArgument && host.calls() == 0);
      if (r == kHostCallOk) {
        Check(host.transfers().size() == 1);
        const auto& t = host.transfers().begin()->second;
        HostMessageBuilder sent(kToolAnnouncementType);
        Check(BuildToolAnnouncement(sent, tool, registration) && t.total == sent.size() &&
              std::equal(t.bytes.begin(), t.bytes.end(), sent.data()));
        if (!t.cutShort)
          CheckAnnouncement(t.bytes, tool, registration);
      }
      break;
    }
    default: {  // any message, with room for a reply
      HostChannel channel;
      if (OpenHostChannel(host, &channel) != kHostCallOk)
        break;
      const Bytes message(first.begin(), first.end());
      // Exactly the room, so that a reply written past it is caught.
      const std::unique_ptr<uint8_t[]> reply(new uint8_t[replyRoom]);
      uint32_t replyLength = 0xFFFFFFFF;
      const int r = SendHostMessage(&channel, message.data(), static_cast<uint32_t>(message.size()),
                                    reply.get(), replyRoom, &replyLength);
      Check(IsResult(r));
      if (r == kHostCallOk) {
        Check(host.transfers().size() == 1);
        const auto& t = host.transfers().begin()->second;
        Check(t.total == message.size() && t.bytes.size() <= message.size() &&
              std::equal(t.bytes.begin(), t.bytes.end(), message.begin()));
        Check(t.cutShort || t.bytes == message);
        Check(replyLength <= replyRoom && replyLength == t.replies.size() &&
              std::equal(t.replies.begin(), t.replies.end(), reply.get()));
      }
      Check(IsResult(CloseHostChannel(&channel)));
      break;
    }
  }
  Check(host.Present() || host.calls() == 0);
}
