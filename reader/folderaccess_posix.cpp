#include "folderaccess.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vantoril {

// Here the mode bits are the access list: the owner's own bits, and those of the group
// and of everyone, who are others. The owner and root may write it anyway.
std::string folderRefusal(FolderUse use, const std::string &path)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return "cannot be checked";
    if (use == FolderUse::Private && status.st_uid != ::geteuid())
        return "belongs to another user";
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        return "may be written by other users";
    return {};
}

} // namespace vantoril
