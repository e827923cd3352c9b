// The host call channel against a host whose every answer comes from the
// input: probe words, transfer size, memory that fails, transfer states,
// reply byte counts and announced lengths, and a host that keeps answering
// the same once the input runs out. Properties: every chunk stays inside the
// locked buffer and names the transfer's handle; a reply never lands past
// the room given (the room is an exact allocation); locked memory is never
// freed and nothing else is kept; a sent message arrives whole; and every
// operation ends after a bounded number of calls.
#include <memory>
#include <tuple>
#include <utility>

#include "core/host_transfer.h"
#include "fuzz_input.h"

namespace {

using namespace mantlet;
using fuzzing::Bytes;
using fuzzing::Check;

// One operation opens at most one channel, so the host has at most one
// buffer and one transfer (handle 7) to keep.
class FuzzedHost final : public HostCallPort {
 public:
  uint32_t total = 0;  // as the first chunk announced it
  Bytes bytes, replies;
  bool present, started = false, cutShort = false;  // cut short: done before the whole message came
  size_t calls = 0;

  FuzzedHost(fuzzing::Input& in) : in_(in) {
    const uint8_t probe = in.U8();
    const uint16_t size = in.U16();
    size_ = (size & 0x8000) != 0 ? 4096 : size % 97;
    probe_ = {kHostCallPresent, kHostCallProtocolVersion, size_, 0, 0, 0};
    if (probe % 8 == 6)
      probe_[1] = probe >> 3;
    else if (probe % 8 == 7)
      probe_[3 + (probe >> 3) % 3] = 1;
    failures_ = in.U8();
    present = probe % 8 < 6 || (probe % 8 == 6 && probe >> 3 == kHostCallProtocolVersion);
  }
  // Memory kept locked after a failed unlock is the module's to lose.
  ~FuzzedHost() {
    Check(buffer_ == nullptr || locked_);
    delete[] buffer_;
  }

  void Probe(HostCallWords& w) override { w = probe_; }
  void Call(HostCallWords& w) override {
    // Far more calls than any answer sequence in an input can justify.
    Check(++calls <= 100000 && (w[0] == kHostCallFirstChunk ? !started : started && w[1] == 7));
    const bool chunk = w[0] != kHostCallEndTransfer;
    if (chunk) {
      Check(w[2] == 0 && w[3] == size_ && w[4] <= size_ && locked_ && w[5] == AddressWord(buffer_));
      if (w[0] == kHostCallFirstChunk)
        std::tie(started, total, w[1]) = std::make_tuple(true, w[1], 7u);
      bytes.insert(bytes.end(), buffer_, buffer_ + w[4]);
    }
    // Reply bytes, announced length and state: mostly the states 0, 1 and 2
    // with small replies, any value now and then; a stuck host repeats itself.
    if (!in_.empty()) {
      const uint8_t state = in_.U8(), reply = in_.U8();
      last_[2] =
          static_cast<uint32_t>(state < 0xF0 ? state % 3 : static_cast<int8_t>(state << 4) >> 4);
      last_[0] = reply < 0xF0 ? reply % 8 : in_.U32();
      last_[1] = in_.U8();
    } else if ((failures_ & 64) == 0) {
      last_ = {0, 0, 0};
    }
    if (chunk) {
      cutShort = cutShort || (last_[2] == 0 && bytes.size() < total);
      for (uint32_t i = 0; i < last_[0] && i < size_; ++i)
        buffer_[i] = static_cast<uint8_t>(calls * 31 + i);
      if (static_cast<int32_t>(last_[2]) >= 0 && last_[0] <= size_)
        replies.insert(replies.end(), buffer_, buffer_ + last_[0]);
    }
    w = {w[0], w[1], 0, last_[0], last_[1], last_[2]};
  }
  uint8_t* Allocate(uint32_t size) override {
    Check(size == size_ && buffer_ == nullptr);
    return (failures_ & 3) == 3 ? nullptr : (buffer_ = new uint8_t[size]);
  }
  bool Lock(uint8_t* buffer, uint32_t) override {
    Check(buffer == buffer_ && !locked_);
    return (failures_ & 12) != 12 && (locked_ = true);
  }
  bool Unlock(uint8_t* buffer, uint32_t) override {
    Check(buffer == buffer_ && locked_);
    return (failures_ & 48) != 48 && !(locked_ = false);
  }
  void Free(uint8_t* buffer, uint32_t) override {
    Check(buffer == buffer_ && !locked_);
    delete[] std::exchange(buffer_, nullptr);
  }
  uint32_t AddressWord(const uint8_t* buffer) override {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer) >> 4);
  }

 private:
  fuzzing::Input& in_;
  HostCallWords probe_;
  uint32_t size_ = 0;
  uint8_t failures_ = 0;
  uint8_t* buffer_ = nullptr;
  bool locked_ = false;
  std::array<uint32_t, 3> last_{};  // reply bytes, announced, state
};

bool IsResult(int r) {
  return r <= kHostCallOk && r >= kHostCallChannelClosed;
}

}  // namespace

// Input: operation, host setup (probe, u16 size, failures), reply room (u16),
// channel damage (u8 + u32), two length-prefixed texts, then the host's
// answers, three bytes each.
FUZZ_TARGET(input) {
  const uint8_t op = input.U8() % 5;
  FuzzedHost host(input);
  const uint16_t room = input.U16();
  const uint8_t damage = input.U8();
  const uint32_t damageWord = input.U32();
  const std::string first = input.Text(), second = input.Text();
  Bytes sent(first.begin(), first.end());
  int r = kHostCallOk;
  if (op == 0) {  // a log line on a channel of its own
    r = SendHostLogLine(host, nullptr, first.data(), first.size());
  } else if (op == 2 || op == 3) {  // registration and unregistration
    const std::string id(first.c_str()), description(second.c_str());
    const ToolIdentity tool{id.c_str(), description.c_str(), {damageWord, room, damage, 318}};
    r = AnnounceTool(host, tool, op == 2);
    HostMessageBuilder message(kToolAnnouncementType);
    Check(BuildToolAnnouncement(message, tool, op == 2));
    sent.assign(message.data(), message.data() + message.size());
  } else {  // a log line or any message on a channel the caller opened
    HostChannel channel;
    r = OpenHostChannel(host, &channel);
    Check(r == kHostCallOk || (host.calls == 0 && channel.buffer == nullptr));
    if (op == 1) {  // perhaps damaged since; a damaged or closed one sends nothing
      channel.state = (damage & 1) != 0 ? static_cast<int32_t>(damageWord) : channel.state;
      channel.magic = (damage & 2) != 0 ? damageWord : channel.magic;
      r = SendHostLogLine(host, &channel, first.data(), first.size());
      Check(host.calls == 0 || (r != kHostCallInvalidChannel && r != kHostCallChannelClosed));
    } else if (r == kHostCallOk) {
      // Exactly the room, so that a reply written past it is caught.
      const std::unique_ptr<uint8_t[]> reply(new uint8_t[room]);
      uint32_t n = 0;
      r = SendHostMessage(&channel, sent.data(), static_cast<uint32_t>(sent.size()), reply.get(),
                          room, &n);
      Check(r != kHostCallOk || (n <= room && Bytes(reply.get(), reply.get() + n) == host.replies));
    }
    if (channel.buffer != nullptr)
      Check(IsResult(CloseHostChannel(&channel)));
  }
  if (op < 2) {
    const auto header = EncodeLogLineHeader();
    sent.insert(sent.begin(), header.begin(), header.end());
  }
  Check(IsResult(r) && (host.present || host.calls == 0));
  Check(r != kHostCallOk ||
        (host.total == sent.size() &&
         (host.cutShort ? fuzzing::StartsWith(sent, host.bytes) : host.bytes == sent)));
}
