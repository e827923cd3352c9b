// The naming rules of shares and their shortcuts with any text the host or
// the file system could supply; a free shortcut name is found, or refused,
// in a bounded number of tries. Input: suffix choice, existing names, then
// remote name, folder and share name (length-prefixed UTF-8).
#include "core/utf.h"
#include "fuzz_input.h"
#include "sharemapping/share_names.h"
#include "sharemapping/shortcut_naming.h"

using namespace mantlet;

FUZZ_TARGET(input) {
  const uint8_t suffixChoice = input.U8(), taken = input.U8();
  const std::u16string remote = Utf8ToUtf16(input.Text()), folder = Utf8ToUtf16(input.Text()),
                       name = Utf8ToUtf16(input.Text());
  (void)HostDiskLetter(remote);
  (void)MountPointKeyNames(remote);
  (void)DriveLabel(remote);
  size_t tries = 0;
  (void)ChooseShortcutFileName(folder, name, ShortcutSuffix(suffixChoice % 2 ? 34u : 17u),
                               [&](const std::u16string&) { return ++tries <= taken; });
  FUZZ_CHECK(tries <= size_t{taken} + 1);
}
