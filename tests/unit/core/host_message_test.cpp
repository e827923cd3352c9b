#include "core/host_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace mantlet {
namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutText(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

Bytes Built(const HostMessageBuilder& message) {
  return Bytes(message.data(), message.data() + message.size());
}

const char kId[] = "corvane.MantletUser.guest.win";
const char kDescription[] = "Guest desktop utilities (user-side tool)";

ToolIdentity Tool() {
  ToolIdentity tool;
  tool.identifier = kId;
  tool.description = kDescription;
  tool.version = {1, 4, 2, 318};
  return tool;
}

TEST(HostMessageLayout, registration_byte_for_byte) {
  HostMessageBuilder message(kToolAnnouncementType);
  ASSERT_TRUE(BuildToolAnnouncement(message, Tool(), true));

  const uint32_t idLength = sizeof(kId) - 1, descriptionLength = sizeof(kDescription) - 1;
  const uint32_t fields = (12 + 8) + (12 + descriptionLength) + (12 + 40) + (12 + idLength);
  Bytes expected;
  for (uint32_t word : {14u, 0u, 1u, 0u, fields, 4096u, 0u})
    Put(expected, word);
  for (uint32_t word : {8u, 8193u, 0u, 1u, 3u})
    Put(expected, word);
  for (uint32_t word : {descriptionLength, 8394u, 1u})
    Put(expected, word);
  PutText(expected, kDescription);
  for (uint32_t word : {40u, 8395u, 2u, 1u, 4u, 2u, 318u, 1u, 0u, 0u, 0u, 0u, 0u})
    Put(expected, word);
  for (uint32_t word : {idLength, 8593u, 3u})
    Put(expected, word);
  PutText(expected, kId);

  EXPECT_EQ(Built(message), expected);
  EXPECT_EQ(message.size(), 28 + fields);
}

TEST(HostMessageLayout, unregistration_has_state_2_and_no_description_or_version) {
  HostMessageBuilder message(kToolAnnouncementType);
  ASSERT_TRUE(BuildToolAnnouncement(message, Tool(), false));

  const uint32_t idLength = sizeof(kId) - 1;
  Bytes expected;
  for (uint32_t word : {14u, 0u, 1u, 0u, 20u + 16u + 12u + idLength, 4096u, 0u})
    Put(expected, word);
  for (uint32_t word : {8u, 8193u, 0u, 1u, 3u, 4u, 8399u, 1u, 2u, idLength, 8593u, 2u})
    Put(expected, word);
  PutText(expected, kId);
  EXPECT_EQ(Built(message), expected);
}

TEST(HostMessageLayout, announcement_needs_an_identifier_but_not_a_description) {
  ToolIdentity tool = Tool();
  tool.description = nullptr;
  HostMessageBuilder withoutDescription(kToolAnnouncementType);
  ASSERT_TRUE(BuildToolAnnouncement(withoutDescription, tool, true));
  EXPECT_EQ(withoutDescription.data()[28 + 20], 0);  // empty description field
  tool.identifier = nullptr;
  HostMessageBuilder withoutIdentifier(kToolAnnouncementType);
  EXPECT_FALSE(BuildToolAnnouncement(withoutIdentifier, tool, true));
}

TEST(HostMessageLayout, buffer_starts_at_32_bytes_and_doubles_until_the_field_fits) {
  struct Case {
    std::vector<uint32_t> fieldSizes;
    size_t capacity;
  };
  const Case cases[] = {
      {{}, 32},           {{0}, 64},  // 28 + 12 = 40
      {{8}, 64},                      // 48
      {{24}, 64},                     // 64 exactly
      {{25}, 128},                    // 65
      {{100}, 256},                   // 140: 32 -> 64 -> 128 -> 256 in one step
      {{8, 8, 8}, 128},               // 48, 68, 88
      {{4000}, 4096},                 // 4040
      {{4000, 44}, 4096},             // 4096 exactly
      {{4000, 45}, 8192},
  };
  for (const Case& c : cases) {
    HostMessageBuilder message(7);
    size_t expectedSize = 28;
    for (uint32_t size : c.fieldSizes) {
      const std::string data(size, 'x');
      ASSERT_TRUE(message.AddField(1, data.data(), size));
      expectedSize += 12 + size;
    }
    EXPECT_EQ(message.capacity(), c.capacity) << c.fieldSizes.size() << " field(s)";
    EXPECT_EQ(message.size(), expectedSize);
    uint32_t listLength = 0;
    memcpy(&listLength, message.data() + 16, 4);
    EXPECT_EQ(listLength, expectedSize - 28);
  }
}

TEST(HostMessageLayout, fields_keep_their_bytes_across_growth) {
  HostMessageBuilder message(3);
  std::string big(300, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i);
  ASSERT_TRUE(message.AddU32Field(10, 0xA1B2C3D4));
  ASSERT_TRUE(message.AddField(11, big.data(), 300));
  ASSERT_TRUE(message.AddField(12, nullptr, 0));
  EXPECT_FALSE(message.AddField(13, nullptr, 5));
  const Bytes bytes = Built(message);
  ASSERT_EQ(bytes.size(), 28u + 16 + 312 + 12);
  const Bytes first = {4, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1};
  EXPECT_EQ(Bytes(bytes.begin() + 28, bytes.begin() + 44), first);
  EXPECT_EQ(bytes[44 + 8], 1);  // second field's index
  EXPECT_EQ(std::string(bytes.begin() + 56, bytes.begin() + 356), big);
  EXPECT_EQ(bytes[356 + 8], 2);
}

TEST(HostMessageLayout, log_line_header_and_version_record) {
  const auto header = EncodeLogLineHeader();
  const Bytes expectedHeader = {17, 0, 0, 0, 0, 0, 0,   0,   0,   0,
                                0,  0, 0, 0, 0, 0, '[', 'G', ']', ' '};
  EXPECT_EQ(Bytes(header.begin(), header.end()), expectedHeader);

  const auto record = EncodeVersionRecord({0x01020304, 5, 0xFFFFFFFF, 0});
  Bytes expectedRecord;
  for (uint32_t word : {0x01020304u, 5u, 0xFFFFFFFFu, 0u, 1u, 0u, 0u, 0u, 0u, 0u})
    Put(expectedRecord, word);
  EXPECT_EQ(Bytes(record.begin(), record.end()), expectedRecord);
}

}  // namespace
}  // namespace mantlet
