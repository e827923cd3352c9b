#include <gtest/gtest.h>

#include "core/command_record.h"
#include "interaction/message_box_payload.h"
#include "sharemapping/volume_names.h"
#include "taskbar/indent_entry.h"
#include "unit_bytes.h"

using namespace mantlet;
using namespace unit_bytes;
using namespace std::string_view_literals;
namespace {

// Command, arg and payload, padded with zeros to the 44 bytes of a record.
Bytes Record(int32_t command, uint32_t arg, const Bytes& payload = {}) {
  Bytes out = Join({Le32({static_cast<uint32_t>(command), arg}), payload});
  out.resize(std::max<size_t>(out.size(), 44), 0);
  return out;
}

CommandRecordView Parse(const Bytes& bytes) {
  const auto view = ParseCommandRecord(bytes);
  EXPECT_TRUE(view.has_value());
  return view.value_or(CommandRecordView{});
}

}  // namespace

TEST(CommandRecordParse, drops_short_records_and_numbers_outside_the_table) {
  EXPECT_FALSE(ParseCommandRecord(std::span<const uint8_t>(Record(4, 1).data(), 43)));
  for (int32_t bad : {0, 19, -1})
    EXPECT_FALSE(ParseCommandRecord(Record(bad, 0))) << bad;
  for (int32_t good : {1, 18})
    EXPECT_EQ(Parse(Record(good, 7)).payload.size(), 36u) << good;
  EXPECT_STREQ(CommandName(1), "EmptyRecycleBinCommand");  // names only inside the table
  EXPECT_TRUE(CommandName(0) == nullptr && CommandName(19) == nullptr);
}

TEST(VolumeNames, split_at_each_nul_as_utf8_within_the_length_and_the_record) {
  using Names = std::vector<std::u16string>;
  Names clipped = {u"A", u"B"};  // then each of the 32 zero bytes of padding ends an empty name
  clipped.resize(34);
  const std::tuple<uint32_t, std::string_view, Names> cases[] = {
      // clang-format off
      {19, "Host Disk C\0\0Music\0"sv, {u"Host Disk C", u"", u"Music"}},  // empty names kept
      {0, "ignored", {}}, {5, "Music", {u"Music"}},                         // a missing last NUL is fine
      {11, "M\xC3\xBCs\0\xFFx\0\xE2\x82\0"sv, {u"M\u00FCs", u"\uFFFDx", u"\uFFFD"}},  // a truncated sequence is one
      {100000, "A\0B\0"sv, clipped},                                          // a length past the record
      // clang-format on
  };
  for (const auto& [arg, payload, names] : cases)
    EXPECT_EQ(DecodeVolumeNames(Parse(Record(6, arg, Text(payload)))), names) << arg;
}

TEST(MessageBoxPayloadDecode, type_text_and_caption_each_ending_at_a_nul_or_the_record) {
  const std::u16string a30(30, u'a'), c20(20, u'c');
  const std::tuple<Bytes, uint32_t, std::u16string, std::u16string> cases[] = {
      // clang-format off
      {Join({Le32({0x40}), Utf16(u"Hello", true), Utf16(u"Title", true)}), 0x40, u"Hello", u"Title"},
      {Join({Le32({1}), Utf16(u"", true), Utf16(u"Cap", true)}), 1, u"", u"Cap"},  // caption at 14
      {Join({Le32({0}), Utf16(a30), {'z'}}), 0, a30, u""},  // no terminator, then an odd byte
      {Join({Le32({0}), Utf16(u"x", true), Utf16(c20)}), 0, u"x", c20},
      // clang-format on
  };
  for (const auto& [payload, type, text, caption] : cases) {
    const MessageBoxPayload box = DecodeMessageBox(Parse(Record(9, 0, payload)));
    EXPECT_EQ(std::tie(box.type, box.text, box.caption), std::tie(type, text, caption));
  }
}

TEST(IndentsDecode, whole_24_byte_entries_within_the_length_and_the_record) {
  using Six = std::vector<std::array<int32_t, 6>>;
  const auto decode = [](uint32_t arg, const Bytes& payload) {
    Six out;
    for (const IndentEntry& e : DecodeIndents(Parse(Record(17, arg, payload))))
      out.push_back({e.displayX, e.displayY, e.left, e.top, e.right, e.bottom});
    return out;
  };
  const Bytes two =
      Le32({0, 0, 0xFFFFFFFF, 30, 0xFFFFFFFF, 0xFFFFFFFF, 1920, 0, 5, 0xFFFFFFFF, 0, 7, 0});
  EXPECT_EQ(decode(50, two), (Six{{0, 0, -1, 30, -1, -1}, {1920, 0, 5, -1, 0, 7}}));
  EXPECT_TRUE(decode(23, two).empty());
  EXPECT_EQ(decode(24 * 1000, {}).size(), 1u);  // a length past the record: 36 bytes hold one
}
