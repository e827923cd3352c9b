#include "sharemapping/share_names.h"

#include <algorithm>

namespace mantlet {
namespace {

constexpr std::u16string_view kHostDisk = u"Host Disk ";
constexpr std::u16string_view kMountPoints2 =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2\\";

bool StartsWithTwoBackslashes(std::u16string_view s) {
  return s.size() >= 2 && s[0] == u'\\' && s[1] == u'\\';
}

std::u16string HashesForBackslashes(std::u16string_view s) {
  std::u16string out(s);
  std::replace(out.begin(), out.end(), u'\\', u'#');
  return out;
}

}  // namespace

std::optional<char16_t> HostDiskLetter(std::u16string_view remoteName) {
  if (remoteName.size() < 10 || !StartsWithTwoBackslashes(remoteName))
    return std::nullopt;
  const size_t p = remoteName.find(u'\\', 2);
  if (p == std::u16string_view::npos || remoteName.size() != p + 12)
    return std::nullopt;
  if (remoteName.substr(p + 1, kHostDisk.size()) != kHostDisk)
    return std::nullopt;
  const char16_t letter = remoteName.back();
  if (letter < u'A' || letter > u'Z')
    return std::nullopt;
  return letter;
}

std::u16string DriveLabel(std::u16string_view remoteName) {
  std::u16string label(remoteName);
  const size_t last = remoteName.rfind(u'\\');
  if (last != std::u16string_view::npos && last + 1 < remoteName.size())
    label = remoteName.substr(last + 1);

  if (remoteName.size() > 2 && StartsWithTwoBackslashes(remoteName)) {
    const size_t end = remoteName.find(u'\\', 2);
    if (end != std::u16string_view::npos && end > 2) {
      label += u" on '";
      label += remoteName.substr(2, end - 2);
      label += u"'";
    }
  }
  return label;
}

std::array<std::u16string, 2> MountPointKeyNames(std::u16string_view remoteName) {
  return {HashesForBackslashes(remoteName),
          HashesForBackslashes(remoteName.substr(std::min<size_t>(2, remoteName.size())))};
}

std::u16string MountPointKeyPath(std::u16string_view keyName) {
  std::u16string path(kMountPoints2);
  path += keyName;
  return path;
}

}  // namespace mantlet
