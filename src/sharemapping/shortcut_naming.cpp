#include "sharemapping/shortcut_naming.h"

#include <algorithm>

#include "sharemapping/share_record.h"

namespace mantlet {
namespace {

constexpr uint32_t kPlatformMac = 34;
constexpr uint32_t kPlatformHostA = 17;
constexpr uint32_t kPlatformHostB = 33;

std::u16string CutToFit(std::u16string text) {
  if (text.size() > kShortcutPathUnits - 1)
    text.resize(kShortcutPathUnits - 1);
  return text;
}

}  // namespace

std::u16string_view ShortcutSuffix(std::optional<uint32_t> platformCode) {
  if (!platformCode)
    return {};
  switch (*platformCode) {
    case kPlatformMac:
      return u" (Mac)";
    case kPlatformHostA:
    case kPlatformHostB:
      return u" (Host)";
    default:
      return {};
  }
}

std::u16string ShortcutFileName(std::u16string_view folder, std::u16string_view name,
                                std::u16string_view suffix, uint32_t counter) {
  std::u16string path(folder);
  path += u'\\';
  path += name;
  path += suffix;
  if (counter != 0) {
    path += u" (";
    const std::string digits = std::to_string(counter);
    path.append(digits.begin(), digits.end());
    path += u')';
  }
  path += u".lnk";
  return CutToFit(std::move(path));
}

std::optional<std::u16string> ChooseShortcutFileName(
    std::u16string_view folder, std::u16string_view name, std::u16string_view suffix,
    const std::function<bool(const std::u16string&)>& exists) {
  if (!IsPlainFileName(name))
    return std::nullopt;
  std::u16string candidate = ShortcutFileName(folder, name, suffix, 0);
  for (uint32_t counter = 1; exists(candidate); ++counter) {
    std::u16string next = ShortcutFileName(folder, name, suffix, counter);
    if (next == candidate || counter == UINT32_MAX)
      return std::nullopt;
    candidate = std::move(next);
  }
  return candidate;
}

bool IsPlainFileName(std::u16string_view name) {
  if (name == u"." || name == u"..")
    return false;
  return name.find_first_of(u"\\/:") == std::u16string_view::npos;
}

std::u16string ShortcutTarget(std::u16string_view shareName) {
  std::u16string target(kShareServerPrefix);
  target += shareName;
  return CutToFit(std::move(target));
}

ShortcutVerdict ClassifyShortcut(const ShortcutReading& reading,
                                 const std::vector<HostShare>& shares, SameNameFn sameName) {
  using Outcome = ShortcutReading::Outcome;
  if (reading.outcome == Outcome::kFailed)
    return {ShortcutVerdict::Kind::kLeave, {}};
  const std::u16string_view prefix(kShareServerPrefix);
  const std::u16string_view target(reading.target);
  if (reading.outcome == Outcome::kPath && reading.tag == kShortcutTagValue &&
      target.size() >= prefix.size() && sameName(target.substr(0, prefix.size()), prefix)) {
    const std::u16string_view rest = target.substr(prefix.size());
    const bool listed = std::any_of(shares.begin(), shares.end(),
                                    [&](const HostShare& s) { return sameName(s.name, rest); });
    if (listed)
      return {ShortcutVerdict::Kind::kPresent, std::u16string(rest)};
  }
  return {ShortcutVerdict::Kind::kStale, {}};
}

bool IsPresent(const std::vector<std::u16string>& present, std::u16string_view name,
               SameNameFn sameName) {
  return std::any_of(present.begin(), present.end(),
                     [&](const std::u16string& p) { return sameName(p, name); });
}

}  // namespace mantlet
