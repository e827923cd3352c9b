// The naming rules of shares, volumes and their shortcuts with any text the
// host or the file system could supply: drive letters only from an exact
// host-disk name (and always from one), key names without backslashes,
// shortcut paths inside their 259 units, a numbered name found in as many
// tries as names exist, and a shortcut's verdict that follows the name
// comparison it is given.
#include <set>

#include "fuzz_input.h"
#include "sharemapping/host_share_list.h"
#include "sharemapping/share_names.h"
#include "sharemapping/share_record.h"
#include "sharemapping/shortcut_naming.h"

namespace {

using namespace mantlet;
using fuzzing::Check;

void CheckRemoteName(const std::u16string& remote, std::u16string server, char16_t letter) {
  if (const std::optional<char16_t> found = HostDiskLetter(remote)) {
    const size_t p = remote.find(u'\\', 2);
    Check(*found >= u'A' && *found <= u'Z' && remote.starts_with(u"\\\\"));
    Check(remote.substr(p) == std::u16string(u"\\Host Disk ") + *found);
  }
  // Every server name without a backslash gives its letter back.
  std::erase(server, u'\\');
  const std::u16string disk = u"\\\\" + server + u"\\Host Disk " + letter;
  const bool upper = letter >= u'A' && letter <= u'Z';
  Check(HostDiskLetter(disk) == (upper ? std::optional<char16_t>(letter) : std::nullopt));

  const auto keys = MountPointKeyNames(remote);
  Check(keys[0].find(u'\\') == std::u16string::npos && keys[0].size() == remote.size());
  Check(keys[1] == keys[0].substr(std::min<size_t>(2, keys[0].size())));
  Check(MountPointKeyPath(keys[1]).ends_with(keys[1]));
  const std::u16string label = DriveLabel(remote);
  const size_t last = remote.rfind(u'\\');
  if (last != std::u16string::npos && last + 1 < remote.size())
    Check(label.starts_with(remote.substr(last + 1)));
  else
    Check(label.starts_with(remote));

  // A host volume is "\\cvf\<name>", labelled with its name on the server.
  const ShareRecord volume = HostVolumeRecord(server);
  Check(volume.remoteName == kShareServerPrefix + server && SameShare(volume, volume));
  if (!server.empty())
    Check(DriveLabel(volume.remoteName) == server + u" on 'cvf'");
}

void CheckShortcutNames(const std::u16string& folder, const std::u16string& name,
                        std::u16string_view suffix, uint32_t counter, uint8_t taken) {
  const std::u16string path = ShortcutFileName(folder, name, suffix, counter);
  Check(path.size() <= kShortcutPathUnits - 1);
  const std::u16string whole = folder + u"\\" + name + std::u16string(suffix);
  if (whole.size() + 20 <= kShortcutPathUnits - 1)
    Check(path.starts_with(whole) && path.ends_with(u".lnk"));
  const std::u16string target = ShortcutTarget(name);
  Check(target.size() <= kShortcutPathUnits - 1 && target.starts_with(kShareServerPrefix));

  // The first `taken` names asked for exist, and so does any name asked for
  // before: a free name comes a few tries later (a cut counter can repeat an
  // earlier name), unless the name could not stand as a file name or cutting
  // left no room for the counter.
  std::vector<std::u16string> seen;
  std::set<std::u16string> existing;
  const auto chosen = ChooseShortcutFileName(folder, name, suffix, [&](const std::u16string& p) {
    Check(p.size() <= kShortcutPathUnits - 1);
    seen.push_back(p);
    return !existing.insert(p).second || seen.size() <= taken;
  });
  if (!IsPlainFileName(name)) {
    Check(!chosen && seen.empty());
    Check(name == u"." || name == u".." || name.find_first_of(u"\\/:") != std::u16string::npos);
    return;
  }
  Check(seen.size() <= size_t{taken} + 3);
  if (chosen) {
    Check(seen.size() > taken && *chosen == seen.back());
    Check(std::count(seen.begin(), seen.end(), *chosen) == 1);
  } else {
    Check(!seen.empty() && seen.back().size() == kShortcutPathUnits - 1);
  }
}

// The system's comparison of file names is not at hand here; ASCII letters
// ignoring case stand in for it.
bool SameAscii(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 0x20) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

void CheckShareMatching(const std::u16string& a, const std::u16string& b) {
  std::u16string upper = a;
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z')
      c = static_cast<char16_t>(c - 0x20);
  }

  // The system's shortcut to a listed share is found whenever the comparison
  // calls its target's name the share's; one to an unlisted share or
  // without the tag is stale.
  const std::vector<HostShare> shares = {HostShare{a, kShareWantsShortcut, 1}};
  ShortcutReading reading;
  reading.outcome = ShortcutReading::Outcome::kPath;
  reading.tag = kShortcutTagValue;
  reading.target = u"\\\\CVF\\" + upper;
  const ShortcutVerdict verdict = ClassifyShortcut(reading, shares, &SameAscii);
  Check(verdict.kind == ShortcutVerdict::Kind::kPresent && verdict.shareName == upper);
  reading.target = u"\\\\cvf\\" + b;
  Check(ClassifyShortcut(reading, shares, &SameAscii).kind ==
        (SameAscii(a, b) ? ShortcutVerdict::Kind::kPresent : ShortcutVerdict::Kind::kStale));
  reading.tag = 0;
  Check(ClassifyShortcut(reading, shares, &SameAscii).kind == ShortcutVerdict::Kind::kStale);
  reading.outcome = ShortcutReading::Outcome::kFailed;
  Check(ClassifyShortcut(reading, shares, &SameAscii).kind == ShortcutVerdict::Kind::kLeave);
  Check(IsPresent({a}, upper, &SameAscii) && IsPresent({a}, b, &SameAscii) == SameAscii(a, b));
}

}  // namespace

// Input: u16 letter, u32 counter, suffix choice, number of existing names,
// then remote name, server, folder and share name (length-prefixed units).
FUZZ_TARGET(input) {
  const char16_t letter = input.U16();
  const uint32_t counter = input.U32();
  const uint8_t suffixChoice = input.U8();
  const uint8_t taken = input.U8();
  const std::u16string remote = input.Units();
  const std::u16string server = input.Units();
  const std::u16string folder = input.Units();
  const std::u16string name = input.Units();
  CheckRemoteName(remote, server, letter);
  const std::u16string_view suffix = ShortcutSuffix(suffixChoice % 4 == 0   ? 34u
                                                    : suffixChoice % 4 == 1 ? 17u
                                                                            : suffixChoice);
  CheckShortcutNames(folder, name, suffix, counter, taken);
  CheckShareMatching(name, server);
}
