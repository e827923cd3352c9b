// One drive mapping as the component keeps it: its own deep copy of a
// network resource, independent of the buffers the WNet calls fill.
#pragma once

#include <cstdint>
#include <string>

namespace mantlet {

// The component's two mapping sets; a record waiting to be mounted names the
// set that receives it once mounted.
enum class ShareSet : uint8_t { kNone, kMappedShares, kMountedVolumes };

inline constexpr uint32_t kResourceGlobalNet = 2;         // RESOURCE_GLOBALNET
inline constexpr uint32_t kResourceTypeAny = 0;           // RESOURCETYPE_ANY
inline constexpr uint32_t kResourceTypeDisk = 1;          // RESOURCETYPE_DISK
inline constexpr uint32_t kResourceDisplayServer = 2;     // RESOURCEDISPLAYTYPE_SERVER
inline constexpr uint32_t kResourceDisplayShare = 3;      // RESOURCEDISPLAYTYPE_SHARE
inline constexpr uint32_t kResourceUsageConnectable = 1;  // RESOURCEUSAGE_CONNECTABLE
inline constexpr uint32_t kResourceUsageContainer = 2;    // RESOURCEUSAGE_CONTAINER

inline constexpr char16_t kShareProviderName[] = u"Corvane Shared Folders";
inline constexpr char16_t kShareServerPrefix[] = u"\\\\cvf\\";

struct ShareRecord {
  uint32_t scope = 0;
  uint32_t type = 0;
  uint32_t displayType = 0;
  uint32_t usage = 0;
  std::u16string localName;  // "Z:" while connected, empty otherwise
  std::u16string remoteName;
  std::u16string comment;
  std::u16string provider;
  ShareSet target = ShareSet::kNone;  // only while waiting to be mounted
};

// The same share: remote name, type, scope, usage and provider all equal
// (exact, case-sensitive). Drive, display type, comment and target differ
// freely between records of one share.
bool SameShare(const ShareRecord& a, const ShareRecord& b);

// What a host volume name from the host's list stands for: "\\cvf\<name>".
ShareRecord HostVolumeRecord(std::u16string_view name);

}  // namespace mantlet
