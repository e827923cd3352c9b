#include "sharemapping/shortcut_naming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/bytes.h"
#include "unit_bytes.h"

using namespace mantlet;
using namespace unit_bytes;
namespace {

using List = std::vector<std::u16string>;

// One share-list entry whose length field is its own size unless given.
Bytes Entry(uint32_t flags, uint16_t kind, const std::string& name,
            std::optional<uint32_t> length = {}, bool nul = true) {
  Bytes e = Join({Bytes(24, 0xEE), Text(name), nul ? Bytes{0} : Bytes{}});  // unused bytes: any
  StoreU32(e.data(), length.value_or(static_cast<uint32_t>(e.size())));
  StoreU32(e.data() + 4, flags);
  StoreU16(e.data() + 8, kind);
  return e;
}

// Stands in for the system's comparison of file names: ASCII letters only,
// so that a name equal only under a wider folding shows whether the unit
// folds anything of its own.
bool SameAscii(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 0x20) : c; };
  return std::ranges::equal(a, b, {}, lower, lower);
}

}  // namespace

TEST(HostShareList, flagged_entries_of_whole_answers_and_nothing_past_the_end) {
  const Bytes a = Entry(0x20, 1, "Abcd");  // 28 bytes: the smallest whole entry
  const std::string longest(255, 'x'), tooLong(256, 'x');
  const std::pair<Bytes, List> cases[] = {
      // clang-format off
      {Join({Entry(0x21, 3, "Music"), Entry(0x01, 1, "No"), Entry(0x20, 9, "Caf\xc3\xa9")}), {u"Music/3", u"Caf\u00e9/9"}},  // flag 0x20 only
      {{}, {}}, {Bytes(27, 0), {}},
      {Join({a, Entry(0x20, 1, "B")}), {u"Abcd/1"}},               // last entry under 28 bytes
      {Join({a, Entry(0x20, 1, "Bcde", 0), a}), {u"Abcd/1"}},      // length 0 stops
      {Join({a, Entry(0x20, 1, "Bcde", 30)}), {u"Abcd/1"}},        // runs past the answer
      {Entry(0x20, 1, "Tail", {}, false), {u"Tail/1"}},            // no NUL: ends at the answer
      {Join({Entry(0x20, 2, "Pad", 40), Bytes(12, 0xAB), a}), {u"Pad/2", u"Abcd/1"}},  // padding skipped
      {Join({Entry(0x20, 1, tooLong), Entry(0x20, 1, longest)}), {std::u16string(255, u'x') + u"/1"}},
      {Entry(0x20, 1, "ab\xff" "cd"), {u"ab\ufffdcd/1"}},
      // clang-format on
  };
  for (const auto& [answer, expected] : cases) {
    List taken;
    for (const HostShare& s : ParseHostShares(answer, kShareWantsShortcut))
      taken.push_back(s.name + u"/" + static_cast<char16_t>(u'0' + s.kind));
    EXPECT_EQ(taken, expected) << answer.size();
  }
}

TEST(ShortcutNaming, suffix_by_platform_and_numbered_names) {
  const std::pair<std::optional<uint32_t>, std::u16string_view> suffixes[] = {
      {34, u" (Mac)"}, {17, u" (Host)"}, {33, u" (Host)"}, {18, u""}, {std::nullopt, u""}};
  for (const auto& [code, suffix] : suffixes)
    EXPECT_EQ(ShortcutSuffix(code), suffix) << code.value_or(0);

  std::set<std::u16string> taken = {u"C:\\L\\Music (Mac).lnk", u"C:\\L\\Music (Mac) (1).lnk"};
  auto exists = [&](const std::u16string& p) { return taken.count(p) != 0; };
  EXPECT_EQ(ChooseShortcutFileName(u"C:\\L", u"Music", u" (Mac)", exists),
            u"C:\\L\\Music (Mac) (2).lnk");
  EXPECT_EQ(ChooseShortcutFileName(u"C:\\L", u"Films", u"", exists), u"C:\\L\\Films.lnk");
  // Paths are cut to 259 units; once the counter is cut off no number helps.
  const std::u16string folder(250, u'f');
  EXPECT_EQ(ShortcutFileName(folder, u"Music", u" (Mac)", 0).size(), 259u);
  EXPECT_EQ(ChooseShortcutFileName(folder, u"Music", u"", [](auto&) { return true; }),
            std::nullopt);
  // Names that would leave the Links folder get no file at all.
  const auto none = [](auto&) { return false; };
  for (const char16_t* bad : {u"..\\Startup\\x", u"a/b", u"..", u".", u"C:x"})
    EXPECT_EQ(ChooseShortcutFileName(u"C:\\L", bad, u"", none), std::nullopt);
  EXPECT_EQ(ChooseShortcutFileName(u"C:\\L", u"...", u"", none), u"C:\\L\\....lnk");
  EXPECT_EQ(ShortcutTarget(u"Music"), u"\\\\cvf\\Music");
  EXPECT_EQ(ShortcutTarget(std::u16string(300, u'm')).size(), 259u);
}

TEST(ShortcutNaming, only_the_systems_valid_shortcuts_count_and_unreadable_files_stay) {
  using O = ShortcutReading::Outcome;
  using K = ShortcutVerdict::Kind;
  const std::vector<HostShare> shares = {{u"Music", 0x20, 1}, {u"\u00c9t\u00e9", 0x20, 2}};
  const std::tuple<ShortcutReading, K, std::u16string> cases[] = {
      // clang-format off
      {{O::kFailed, 2, u"\\\\cvf\\Music"}, K::kLeave, u""},  // no tag: a user's own link
      {{O::kPath, 2, u"\\\\CVF\\music"}, K::kPresent, u"music"},
      {{O::kPath, 2, u"\\\\cvf\\\u00c9t\u00e9"}, K::kPresent, u"\u00c9t\u00e9"},
      {{O::kPath, 2, u"\\\\cvf\\\u00e9T\u00c9"}, K::kStale, u""},  // equal only to a folding the comparison does not make
      {{O::kPath, 3, u"\\\\cvf\\Music"}, K::kStale, u""},    // tag of another value
      {{O::kPath, 2, u"\\\\other\\Music"}, K::kStale, u""}, {{O::kPath, 2, u"\\\\cvf\\Gone"}, K::kStale, u""},
      {{O::kNoPath, 2, u""}, K::kStale, u""},
      // clang-format on
  };
  for (const auto& [reading, kind, name] : cases) {
    const ShortcutVerdict v = ClassifyShortcut(reading, shares, &SameAscii);
    EXPECT_EQ(v.kind, kind) << std::string(reading.target.begin(), reading.target.end());
    EXPECT_EQ(v.shareName, name);
  }
  EXPECT_TRUE(IsPresent({u"MUSIC"}, u"music", &SameAscii));
  EXPECT_FALSE(IsPresent({u"Music"}, u"Musik", &SameAscii));
}
