#include "core/command_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/bytes.h"
#include "interaction/message_box_payload.h"
#include "sharemapping/volume_names.h"
#include "taskbar/indent_entry.h"

namespace mantlet {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Record(int32_t command, uint32_t arg, const Bytes& payload = {}, size_t padTo = 44) {
  Bytes out(8);
  StoreU32(out.data(), static_cast<uint32_t>(command));
  StoreU32(out.data() + 4, arg);
  out.insert(out.end(), payload.begin(), payload.end());
  if (out.size() < padTo)
    out.resize(padTo, 0);
  return out;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Wide(const std::u16string& s, bool terminate = true) {
  Bytes out;
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminate)
    out.insert(out.end(), {0, 0});
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

TEST(VolumeNames, split_at_each_nul_keeping_empty_names) {
  const Bytes payload = Text(std::string("Host Disk C\0\0Music\0", 19));
  const auto names = DecodeVolumeNames(Parse(Record(6, 19, payload)));
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], u"Host Disk C");
  EXPECT_EQ(names[1], u"");
  EXPECT_EQ(names[2], u"Music");
}

TEST(VolumeNames, zero_length_gives_an_empty_list_and_a_missing_last_nul_is_fine) {
  EXPECT_TRUE(DecodeVolumeNames(Parse(Record(6, 0, Text("ignored")))).empty());
  const auto names = DecodeVolumeNames(Parse(Record(6, 5, Text("Music"))));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], u"Music");
}

TEST(VolumeNames, utf8_is_decoded_and_invalid_bytes_become_replacement_characters) {
  const Bytes payload = {'M', 0xC3, 0xBC, 's', 0, 0xFF, 'x', 0, 0xE2, 0x82, 0};
  const auto names =
      DecodeVolumeNames(Parse(Record(6, static_cast<uint32_t>(payload.size()), payload)));
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], u"M\u00FCs");
  EXPECT_EQ(names[1], u"\uFFFDx");
  EXPECT_EQ(names[2], u"\uFFFD");  // a truncated sequence is one replacement
}

TEST(VolumeNames, length_running_past_the_record_is_clipped_to_it) {
  // 36 payload bytes: "A\0B\0" and 32 zero bytes of padding, each of which
  // ends one more (empty) name, exactly as if the host had sent them.
  const auto names = DecodeVolumeNames(Parse(Record(6, 100000, Text(std::string("A\0B\0", 4)))));
  ASSERT_EQ(names.size(), 34u);
  EXPECT_EQ(names[0], u"A");
  EXPECT_EQ(names[1], u"B");
  EXPECT_EQ(names[33], u"");
}

TEST(MessageBoxPayloadDecode, type_text_and_caption) {
  Bytes payload = {0x40, 0, 0, 0};
  const Bytes text = Wide(u"Hello"), caption = Wide(u"Title");
  payload.insert(payload.end(), text.begin(), text.end());
  payload.insert(payload.end(), caption.begin(), caption.end());
  const MessageBoxPayload box = DecodeMessageBox(Parse(Record(9, 0, payload)));
  EXPECT_EQ(box.type, 0x40u);
  EXPECT_EQ(box.text, u"Hello");
  EXPECT_EQ(box.caption, u"Title");
}

TEST(MessageBoxPayloadDecode, empty_text_puts_the_caption_at_offset_14) {
  Bytes record = Record(9, 0, {1, 0, 0, 0, 0, 0});
  const Bytes caption = Wide(u"Cap");
  record.resize(14);
  record.insert(record.end(), caption.begin(), caption.end());
  record.resize(44, 0);
  const MessageBoxPayload box = DecodeMessageBox(Parse(record));
  EXPECT_EQ(box.text, u"");
  EXPECT_EQ(box.caption, u"Cap");
}

TEST(MessageBoxPayloadDecode, unterminated_strings_end_at_the_record) {
  Bytes payload = {0, 0, 0, 0};
  const Bytes text = Wide(std::u16string(30, u'a'), false);  // 60 bytes, no terminator
  payload.insert(payload.end(), text.begin(), text.end());
  payload.push_back('z');  // an odd byte at the very end is not half a unit
  const MessageBoxPayload box = DecodeMessageBox(Parse(Record(9, 0, payload)));
  EXPECT_EQ(box.text, std::u16string(30, u'a'));
  EXPECT_EQ(box.caption, u"");

  Bytes unterminatedCaption = {0, 0, 0, 0, 'x', 0, 0, 0};
  const Bytes cap = Wide(std::u16string(20, u'c'), false);
  unterminatedCaption.insert(unterminatedCaption.end(), cap.begin(), cap.end());
  const MessageBoxPayload second = DecodeMessageBox(Parse(Record(9, 0, unterminatedCaption)));
  EXPECT_EQ(second.text, u"x");
  EXPECT_EQ(second.caption, std::u16string(20, u'c'));
}

TEST(IndentsDecode, count_is_arg_divided_by_24) {
  Bytes payload;
  for (int32_t v : {0, 0, -1, 30, -1, -1, 1920, 0, 5, -1, 0, 7}) {
    Bytes word(4);
    StoreU32(word.data(), static_cast<uint32_t>(v));
    payload.insert(payload.end(), word.begin(), word.end());
  }
  payload.resize(payload.size() + 2, 0);
  const auto two = DecodeIndents(Parse(Record(17, 50, payload)));
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].top, 30);
  EXPECT_EQ(two[0].left, -1);
  EXPECT_EQ(two[1].displayX, 1920);
  EXPECT_EQ(two[1].bottom, 7);
  EXPECT_TRUE(DecodeIndents(Parse(Record(17, 23, payload))).empty());
  EXPECT_TRUE(DecodeIndents(Parse(Record(17, 0, payload))).empty());
}

TEST(IndentsDecode, stated_length_beyond_the_record_uses_whole_entries_present) {
  // 44-byte record: 36 payload bytes hold one whole entry.
  const auto entries = DecodeIndents(Parse(Record(17, 24 * 1000, {})));
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].left, 0);
}

}  // namespace
}  // namespace mantlet
