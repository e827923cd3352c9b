// Layouts of what the tool sends to the host over the hypervisor call
// channel: field messages (the tool announcement) and log-line messages.
// All little-endian.
//
// Field message:
//   0 u32 type, 4 u32 0, 8 u32 1, 12 u32 0, 16 u32 field list length,
//   20 u32 4096, 24 u32 0, then the fields from 28, each
//   {u32 data length, u32 tag, u32 index} followed by its data.
// Log-line message: u32 17, three u32 0, "[G] ", then the line's characters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace mantlet {

inline constexpr uint32_t kToolAnnouncementType = 14;
inline constexpr size_t kHostMessageHeaderSize = 28;
inline constexpr size_t kHostFieldHeaderSize = 12;
inline constexpr size_t kHostMessageInitialCapacity = 32;

enum HostFieldTag : uint32_t {
  kFieldProtocol = 8193,     // two u32: 1, 3
  kFieldDescription = 8394,  // text without terminator
  kFieldVersion = 8395,      // the 40-byte version record
  kFieldToolState = 8399,    // u32
  kFieldIdentifier = 8593,   // text without terminator
};

inline constexpr uint32_t kToolStateUnregistered = 2;

inline constexpr size_t kVersionRecordSize = 40;
inline constexpr size_t kLogLineHeaderSize = 20;
inline constexpr uint32_t kLogLineMessageType = 17;

// Builds one field message in a buffer that starts at 32 bytes and doubles
// until the next field fits. An allocation failure is remembered: every
// later AddField fails too and ok() stays false.
class HostMessageBuilder {
 public:
  explicit HostMessageBuilder(uint32_t type);
  HostMessageBuilder(const HostMessageBuilder&) = delete;
  HostMessageBuilder& operator=(const HostMessageBuilder&) = delete;

  // Appends {length, tag, next index} and the data; data may be null only
  // when length is 0.
  bool AddField(uint32_t tag, const void* data, uint32_t length);
  bool AddU32Field(uint32_t tag, uint32_t value);

  bool ok() const { return m_buffer != nullptr; }
  const uint8_t* data() const { return m_buffer.get(); }
  uint32_t size() const { return static_cast<uint32_t>(m_size); }
  size_t capacity() const { return m_capacity; }

 private:
  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_capacity = 0;
  size_t m_size = 0;
  uint32_t m_nextIndex = 0;
};

struct ToolVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t revision = 0;
};

// major, minor, build, revision, 1, 0, then 16 zero bytes.
std::array<uint8_t, kVersionRecordSize> EncodeVersionRecord(const ToolVersion& version);

// u32 17, three u32 0, "[G] ".
std::array<uint8_t, kLogLineHeaderSize> EncodeLogLineHeader();

struct ToolIdentity {
  const char* identifier = nullptr;
  const char* description = nullptr;  // registration only; null counts as empty
  ToolVersion version;
};

// The announcement: fields 8193 and 8593 always, with 8394 and 8395 between
// them for a registration or 8399 (state 2) for an unregistration. The
// identifier must not be null. False when the buffer could not grow.
bool BuildToolAnnouncement(HostMessageBuilder& message, const ToolIdentity& tool,
                           bool registration);

}  // namespace mantlet
