// Names derived from a share's UNC name: the drive letter a host disk asks
// for, its Explorer label, and the Explorer mount-point keys that hold it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace mantlet {

// "\\cvf\Host Disk D" asks for D:; anything that is not exactly
// "\\<server>\Host Disk <upper-case letter>" asks for nothing.
std::optional<char16_t> HostDiskLetter(std::u16string_view remoteName);

// "\\cvf\Host Disk C" -> "Host Disk C on 'cvf'".
std::u16string DriveLabel(std::u16string_view remoteName);

// The two key names under MountPoints2 that carry a share's label: the UNC
// name and the UNC name without its leading two characters, each with every
// backslash turned into '#' ("##cvf#Host Disk C", "cvf#Host Disk C").
std::array<std::u16string, 2> MountPointKeyNames(std::u16string_view remoteName);

// HKCU-relative path of one such key.
std::u16string MountPointKeyPath(std::u16string_view keyName);

}  // namespace mantlet
