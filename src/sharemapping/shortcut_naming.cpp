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

char16_t FoldCase(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7))
    return static_cast<char16_t>(c + 0x20);
  if (c >= 0x0391 && c <= 0x03AB && c != 0x03A2)  // Greek capitals
    return static_cast<char16_t>(c + 0x20);
  if (c >= 0x0410 && c <= 0x042F)  // Cyrillic capitals
    return static_cast<char16_t>(c + 0x20);
  if (c >= 0x0400 && c <= 0x040F)
    return static_cast<char16_t>(c + 0x50);
  return c;
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
  std::u16string candidate = ShortcutFileName(folder, name, suffix, 0);
  for (uint32_t counter = 1; exists(candidate); ++counter) {
    std::u16string next = ShortcutFileName(folder, name, suffix, counter);
    if (next == candidate || counter == UINT32_MAX)
      return std::nullopt;
    candidate = std::move(next);
  }
  return candidate;
}

std::u16string ShortcutTarget(std::u16string_view shareName) {
  std::u16string target(kShareServerPrefix);
  target += shareName;
  return CutToFit(std::move(target));
}

bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

ShortcutVerdict ClassifyShortcut(const ShortcutReading& reading,
                                 const std::vector<HostShare>& shares) {
  using Outcome = ShortcutReading::Outcome;
  if (reading.outcome == Outcome::kFailed)
    return {ShortcutVerdict::Kind::kLeave, {}};
  const std::u16string_view prefix(kShareServerPrefix);
  const std::u16string_view target(reading.target);
  if (reading.outcome == Outcome::kPath && reading.tag == kShortcutTagValue &&
      target.size() >= prefix.size() &&
      EqualIgnoringCase(target.substr(0, prefix.size()), prefix)) {
    const std::u16string_view rest = target.substr(prefix.size());
    const bool listed = std::any_of(shares.begin(), shares.end(), [&](const HostShare& s) {
      return EqualIgnoringCase(s.name, rest);
    });
    if (listed)
      return {ShortcutVerdict::Kind::kPresent, std::u16string(rest)};
  }
  return {ShortcutVerdict::Kind::kStale, {}};
}

bool IsPresent(const std::vector<std::u16string>& present, std::u16string_view name) {
  return std::any_of(present.begin(), present.end(),
                     [&](const std::u16string& p) { return EqualIgnoringCase(p, name); });
}

}  // namespace mantlet
