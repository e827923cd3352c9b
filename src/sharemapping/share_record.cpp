#include "sharemapping/share_record.h"

namespace mantlet {

bool SameShare(const ShareRecord& a, const ShareRecord& b) {
  return a.remoteName == b.remoteName && a.type == b.type && a.scope == b.scope &&
         a.usage == b.usage && a.provider == b.provider;
}

ShareRecord HostVolumeRecord(std::u16string_view name) {
  ShareRecord record;
  record.scope = kResourceGlobalNet;
  record.type = kResourceTypeDisk;
  record.displayType = kResourceDisplayShare;
  record.usage = kResourceUsageConnectable;
  record.provider = kShareProviderName;
  record.remoteName = kShareServerPrefix;
  record.remoteName += name;
  return record;
}

}  // namespace mantlet
