#include "folderaccess.h"

namespace vantoril {

std::string folderRefusal(FolderUse use, Trustee owner, bool hasAccessList, const std::vector<AccessEntry> &entries)
{
    if (use == FolderUse::Private && (owner == Trustee::Owner || owner == Trustee::Other))
        return "belongs to another user";
    if (!hasAccessList)
        return "has no access list, so everyone may write it";
    for (const AccessEntry &entry : entries) {
        if (!entry.allows || entry.inheritOnly || !(entry.mask & folderWriteRights))
            continue;
        if (entry.trustee == Trustee::Other)
            return "may be written by other users";
    }
    return {};
}

} // namespace vantoril
