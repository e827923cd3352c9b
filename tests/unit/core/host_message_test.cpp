#include "core/host_message.h"

#include <gtest/gtest.h>

#include "unit_bytes.h"

using namespace mantlet;
using namespace unit_bytes;

TEST(HostMessageLayout, announcements_byte_for_byte) {
  const std::string id = "corvane.MantletUser.guest.win", text = "Guest desktop utilities";
  const uint32_t idLength = static_cast<uint32_t>(id.size()),
                 textLength = static_cast<uint32_t>(text.size());
  ToolIdentity tool{id.c_str(), text.c_str(), {1, 4, 2, 318}};
  const Bytes registration =
      Join({Le32({14, 0, 1, 0, 20 + 12 + textLength + 52 + 12 + idLength, 4096, 0}),
            Le32({8, 8193, 0, 1, 3, textLength, 8394, 1}), Text(text),
            Le32({40, 8395, 2, 1, 4, 2, 318, 1, 0, 0, 0, 0, 0, idLength, 8593, 3}), Text(id)});
  // No description, no version record.
  const Bytes unregistration =
      Join({Le32({14, 0, 1, 0, 20 + 16 + 12 + idLength, 4096, 0}),
            Le32({8, 8193, 0, 1, 3, 4, 8399, 1, 2, idLength, 8593, 2}), Text(id)});
  for (bool registering : {true, false}) {
    HostMessageBuilder message(kToolAnnouncementType);
    ASSERT_TRUE(BuildToolAnnouncement(message, tool, registering));
    EXPECT_EQ(Bytes(message.data(), message.data() + message.size()),
              registering ? registration : unregistration);
  }
  tool.identifier = nullptr;
  HostMessageBuilder anonymous(kToolAnnouncementType);
  EXPECT_FALSE(BuildToolAnnouncement(anonymous, tool, true));
}

TEST(HostMessageLayout, buffer_starts_at_32_bytes_and_doubles_until_the_field_fits) {
  const std::pair<std::vector<uint32_t>, size_t> cases[] = {
      {{}, 32},         {{24}, 64},         {{25}, 128},
      {{8, 8, 8}, 128}, {{4000, 44}, 4096}, {{4000, 45}, 8192}};  // 28 + 12 + 24 = 64
  for (const auto& [fieldSizes, capacity] : cases) {
    HostMessageBuilder message(7);
    size_t size = 28;
    for (uint32_t length : fieldSizes) {
      const std::string data(length, static_cast<char>(length));
      ASSERT_TRUE(message.AddField(1, data.data(), length));
      EXPECT_EQ(std::string(message.data() + size + 12, message.data() + size + 12 + length), data);
      size += 12 + length;
    }
    EXPECT_EQ(message.capacity(), capacity) << fieldSizes.size();
    EXPECT_EQ(message.size(), size);
    EXPECT_FALSE(message.AddField(1, nullptr, 1));  // no data for a length
  }
}
