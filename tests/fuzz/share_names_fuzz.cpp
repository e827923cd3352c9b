// The naming rules of shares and their shortcuts with any text the host or
// the file system could supply: a drive letter only from an exact host-disk
// name (and always from one), key names without backslashes, shortcut paths
// inside their 259 units, and a free shortcut name found in a bounded number
// of tries.
#include <set>

#include "fuzz_input.h"
#include "sharemapping/share_names.h"
#include "sharemapping/shortcut_naming.h"

using namespace mantlet;
using fuzzing::Check;

// Input: u16 letter, u32 counter, suffix choice, number of existing names,
// then remote name, server, folder and share name (length-prefixed units).
FUZZ_TARGET(input) {
  const char16_t letter = input.U16();
  const uint32_t counter = input.U32();
  const uint8_t suffixChoice = input.U8(), taken = input.U8();
  const std::u16string remote = input.Units();
  std::u16string server = input.Units();
  const std::u16string folder = input.Units(), name = input.Units();

  if (const std::optional<char16_t> found = HostDiskLetter(remote))
    Check(remote.starts_with(u"\\\\") &&
          remote.ends_with(std::u16string(u"\\Host Disk ") + *found));
  std::erase(server, u'\\');
  const bool upper = letter >= u'A' && letter <= u'Z';
  Check(HostDiskLetter(u"\\\\" + server + u"\\Host Disk " + letter) ==
        (upper ? std::optional<char16_t>(letter) : std::nullopt));
  const auto keys = MountPointKeyNames(remote);
  Check(keys[0].find(u'\\') == std::u16string::npos && keys[0].size() == remote.size());
  (void)DriveLabel(remote);

  const std::u16string_view suffix = ShortcutSuffix(suffixChoice % 4 == 0   ? 34u
                                                    : suffixChoice % 4 == 1 ? 17u
                                                                            : suffixChoice);
  Check(ShortcutFileName(folder, name, suffix, counter).size() <= kShortcutPathUnits - 1);
  Check(ShortcutTarget(name).size() <= kShortcutPathUnits - 1);
  // The first `taken` names asked for exist, and so does any name asked for
  // before: a free one comes a few tries later (a cut counter can repeat an
  // earlier name), unless cutting left no room for the counter.
  std::set<std::u16string> seen;
  size_t tries = 0;
  const auto chosen = ChooseShortcutFileName(folder, name, suffix, [&](const std::u16string& p) {
    Check(p.size() <= kShortcutPathUnits - 1);
    return !seen.insert(p).second || ++tries <= taken;
  });
  Check(seen.size() <= size_t{taken} + 3 && (!chosen || seen.count(*chosen) == 1));
}
