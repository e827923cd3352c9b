// Names, targets and the keep-or-delete decision for the Links-folder
// shortcuts, apart from the shell calls that read and write them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sharemapping/host_share_list.h"

namespace mantlet {

// Paths and targets live in buffers of this many units, terminator included,
// and are cut to fit.
inline constexpr size_t kShortcutPathUnits = 260;
inline constexpr uint32_t kShortcutTagValue = 2;

// " (Mac)" for 34, " (Host)" for 17 and 33, nothing otherwise or without an answer.
std::u16string_view ShortcutSuffix(std::optional<uint32_t> platformCode);

// "<folder>\<name><suffix>.lnk", or with counter > 0
// "<folder>\<name><suffix> (<counter>).lnk"; cut to 259 units.
std::u16string ShortcutFileName(std::u16string_view folder, std::u16string_view name,
                                std::u16string_view suffix, uint32_t counter);

// Whether a share's name can stand as a file name in the Links folder: a
// name with a path separator, a drive or stream colon, or "." and ".." would
// put the shortcut somewhere else.
bool IsPlainFileName(std::u16string_view name);

// The first of those names for which `exists` says no. Nothing when the
// share's name is not a plain file name, or when cutting has left the
// counter out of the name, so that no further number can give a new one.
std::optional<std::u16string> ChooseShortcutFileName(
    std::u16string_view folder, std::u16string_view name, std::u16string_view suffix,
    const std::function<bool(const std::u16string&)>& exists);

// "\\cvf\<name>", cut to 259 units.
std::u16string ShortcutTarget(std::u16string_view shareName);

// Whether two names are the same share, ignoring case. Shares are the
// file system's names, so the caller passes the system's own comparison of
// file names: a folding of our own would miss case pairs of some script and
// have a valid shortcut deleted and written again at every refresh.
using SameNameFn = bool (*)(std::u16string_view a, std::u16string_view b);

// What reading a shortcut gave.
struct ShortcutReading {
  enum class Outcome { kFailed, kNoPath, kPath };
  Outcome outcome = Outcome::kFailed;  // kFailed also when the tag is absent
  uint32_t tag = 0;                    // the tag's value, 0 when not a u32
  std::u16string target;               // with kPath
};

struct ShortcutVerdict {
  enum class Kind { kLeave, kPresent, kStale };
  Kind kind = Kind::kLeave;
  std::u16string shareName;  // with kPresent: the target's share name as written
};

// Unreadable files, the user's own links among them, are left alone; the
// system's own shortcut to a listed share under "\\cvf\" is present; every
// other shortcut that carries the tag is stale. The prefix and the share's
// name are compared with `sameName`.
ShortcutVerdict ClassifyShortcut(const ShortcutReading& reading,
                                 const std::vector<HostShare>& shares, SameNameFn sameName);

// Whether `name` is among the present share names, compared with `sameName`.
bool IsPresent(const std::vector<std::u16string>& present, std::u16string_view name,
               SameNameFn sameName);

}  // namespace mantlet
