// The network provider stand-in's shared ground: Wine's mount manager, which
// holds its drive letters, and the registry script that tests write and the
// provider reads on every call.
//
// Script key HKLM\Software\CorvaneTestEnv\SharedFolders:
//   Tree      REG_MULTI_SZ  the server's disk shares, one a line; "Media/Photos"
//                           is the share "Photos" inside the container "Media"
//   Volumes   REG_MULTI_SZ  further names that connect but are not enumerated
//   Failures  REG_MULTI_SZ  "<call> <name or *> <error>": the call fails with
//                           the error for that name (remote name, local drive
//                           or container; "" for the provider's root)
//   EnumBatch REG_DWORD     at most this many entries per enumeration call
//   CallLog   REG_SZ        file the provider appends one line per call to
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testenv {

inline constexpr wchar_t kSharedFoldersProvider[] = L"Corvane Shared Folders";
inline constexpr wchar_t kSharedFoldersScriptKey[] = L"Software\\CorvaneTestEnv\\SharedFolders";
inline constexpr wchar_t kSharedFoldersServer[] = L"\\\\cvf\\";

// Drive letters through Wine's mount manager: visible to every process of
// the prefix, typed for GetDriveTypeW. A mount point relative to the
// prefix's dosdevices folder starting with "unc/" is what WNetGetConnectionW
// reports as the drive's UNC name.
bool DefineDrive(wchar_t letter, const std::string& unixMountPoint, UINT driveType);
bool RemoveDrive(wchar_t letter);
std::optional<std::string> DriveMountPoint(wchar_t letter);

// "\\cvf\<share>" when the drive is connected to one of the server's shares.
std::optional<std::wstring> ConnectedShare(wchar_t letter);

std::vector<std::wstring> ReadMultiString(HKEY key, const wchar_t* name);

// The test's side of the script. Clears the script and disconnects every
// drive of the server when made and again when it goes.
class SharedFoldersScript {
 public:
  SharedFoldersScript();
  ~SharedFoldersScript();
  SharedFoldersScript(const SharedFoldersScript&) = delete;
  SharedFoldersScript& operator=(const SharedFoldersScript&) = delete;

  void SetTree(const std::vector<std::wstring>& entries);
  void SetVolumes(const std::vector<std::wstring>& names);
  void SetFailures(const std::vector<std::wstring>& failures);
  void SetEnumBatch(DWORD entries);

  // Lines the provider logged since the script was made ("AddConnection3
  // \\cvf\Music Y: -> 0"), from every process.
  std::vector<std::string> Calls() const;
  // Successful connections made to the share ("\\cvf\Music").
  size_t Connections(const std::string& remote) const;

  // Every connected drive of the server: letter -> "\\cvf\<share>".
  static std::map<wchar_t, std::wstring> Drives();
  static void DisconnectAll();

 private:
  std::wstring logPath_;
};

// Occupies drive letters with a local folder for the scope (as a user's own
// disks would), so that the provider finds them taken.
class ScopedTakenDrives {
 public:
  explicit ScopedTakenDrives(const std::wstring& letters);
  ~ScopedTakenDrives();
  ScopedTakenDrives(const ScopedTakenDrives&) = delete;
  ScopedTakenDrives& operator=(const ScopedTakenDrives&) = delete;

  // Every letter from A to Z that has no drive yet.
  static std::wstring FreeLetters();

 private:
  std::wstring taken_;
};

}  // namespace testenv
