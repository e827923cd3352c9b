#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "core/command_record.h"
#include "interaction/message_box_payload.h"
#include "sharemapping/volume_names.h"
#include "taskbar/indent_entry.h"
#include "unit_bytes.h"

namespace mantlet {
namespace {

using namespace unit_bytes;
using namespace std::string_view_literals;
using Names = std::vector<std::u16string>;

// Command, arg and payload, padded with zeros to the 44 bytes of a record.
Bytes Record(int32_t command, uint32_t arg, const Bytes& payload = {}) {
  Bytes out = Join({Le32({static_cast<uint32_t>(command), arg}), payload});
  if (out.size() < 44)
    out.resize(44, 0);
  return out;
}

CommandRecordView Parse(const Bytes& bytes) {
  auto view = ParseCommandRecord(bytes);
  EXPECT_TRUE(view.has_value());
  return view.value_or(CommandRecordView{});
}

TEST(CommandRecordParse, drops_short_records_and_numbers_outside_the_table) {
  const Bytes valid = Record(4, 1);
  EXPECT_FALSE(ParseCommandRecord(std::span<const uint8_t>(valid.data(), 43)));
  EXPECT_FALSE(ParseCommandRecord({}));
  for (int32_t bad : {0, 19, -1, 1000})
    EXPECT_FALSE(ParseCommandRecord(Record(bad, 0))) << bad;
  for (int32_t good = 1; good <= 18; ++good) {
    auto view = ParseCommandRecord(Record(good, 7));
    ASSERT_TRUE(view) << good;
    EXPECT_EQ(view->arg, 7u);
    EXPECT_EQ(view->payload.size(), 36u);
  }
  // Names only inside the table, its first entry included.
  EXPECT_STREQ(CommandName(1), "EmptyRecycleBinCommand");
  EXPECT_EQ(CommandName(0), nullptr);
  EXPECT_EQ(CommandName(19), nullptr);
}

TEST(VolumeNames, split_at_each_nul_as_utf8_within_the_length_and_the_record) {
  const struct {
    uint32_t arg;
    std::string_view payload;
    Names names;
  } cases[] = {
      // clang-format off
      {19, "Host Disk C\0\0Music\0"sv, {u"Host Disk C", u"", u"Music"}},  // empty names kept
      {0, "ignored", {}},
      {5, "Music", {u"Music"}},  // a missing last NUL is fine
      // Invalid bytes become replacements; a truncated sequence is one.
      {11, "M\xC3\xBCs\0\xFFx\0\xE2\x82\0"sv, {u"M\u00FCs", u"\uFFFDx", u"\uFFFD"}},
      // clang-format on
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeVolumeNames(Parse(Record(6, c.arg, Text(c.payload)))), c.names) << c.arg;
  // A length past the record is clipped to it: each of the 32 zero bytes of
  // padding ends one more (empty) name, exactly as if the host had sent them.
  Names clipped = {u"A", u"B"};
  clipped.resize(34);
  EXPECT_EQ(DecodeVolumeNames(Parse(Record(6, 100000, Text("A\0B\0"sv)))), clipped);
}

TEST(MessageBoxPayloadDecode, type_text_and_caption_each_ending_at_a_nul_or_the_record) {
  const struct {
    Bytes payload;
    uint32_t type;
    std::u16string text, caption;
  } cases[] = {
      {Join({Le32({0x40}), Utf16(u"Hello", true), Utf16(u"Title", true)}), 0x40, u"Hello",
       u"Title"},
      // An empty text puts the caption at offset 14.
      {Join({Le32({1}), Utf16(u"", true), Utf16(u"Cap", true)}), 1, u"", u"Cap"},
      // 60 bytes without a terminator, then an odd byte that is not half a unit.
      {Join({Le32({0}), Utf16(std::u16string(30, u'a')), {'z'}}), 0, std::u16string(30, u'a'), u""},
      {Join({Le32({0}), Utf16(u"x", true), Utf16(std::u16string(20, u'c'))}), 0, u"x",
       std::u16string(20, u'c')},
  };
  for (const auto& c : cases) {
    const MessageBoxPayload box = DecodeMessageBox(Parse(Record(9, 0, c.payload)));
    EXPECT_EQ(box.type, c.type);
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.caption, c.caption);
  }
}

TEST(IndentsDecode, whole_24_byte_entries_within_the_length_and_the_record) {
  using Six = std::array<int32_t, 6>;
  const auto decode = [](uint32_t arg, const Bytes& payload) {
    std::vector<Six> out;
    for (const IndentEntry& e : DecodeIndents(Parse(Record(17, arg, payload))))
      out.push_back({e.displayX, e.displayY, e.left, e.top, e.right, e.bottom});
    return out;
  };
  const Bytes two = Join({Le32({0, 0, 0xFFFFFFFF, 30, 0xFFFFFFFF, 0xFFFFFFFF}),
                          Le32({1920, 0, 5, 0xFFFFFFFF, 0, 7}),
                          {0, 0}});
  EXPECT_EQ(decode(50, two), (std::vector<Six>{{0, 0, -1, 30, -1, -1}, {1920, 0, 5, -1, 0, 7}}));
  EXPECT_TRUE(decode(23, two).empty());
  EXPECT_TRUE(decode(0, two).empty());
  // A stated length beyond the record: the 36 payload bytes hold one entry.
  EXPECT_EQ(decode(24 * 1000, {}), (std::vector<Six>{{0, 0, 0, 0, 0, 0}}));
}

}  // namespace
}  // namespace mantlet
