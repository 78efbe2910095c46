#include "logplace.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantoril {

namespace {

const char folderName[] = "/tarsel";
const char fileName[] = "Vantoril.log";

std::string withoutTrailingSlashes(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// An absolute folder named by an environment variable; empty when unset or relative.
std::string folderFromEnvironment(const char *name)
{
    const char *value = std::getenv(name);
    return value && value[0] == '/' ? withoutTrailingSlashes(value) : std::string();
}

std::string usualFolder()
{
    // As QDir::tempPath(): $TMPDIR when set, else /tmp.
    const char *tmp = std::getenv("TMPDIR");
    return withoutTrailingSlashes((tmp && *tmp) ? tmp : "/tmp") + folderName;
}

// The folder that holds the private one: the user's runtime folder, made for this
// user alone, else the user's cache folder. Empty when the user has no home.
std::string privateParent()
{
    std::string folder = folderFromEnvironment("XDG_RUNTIME_DIR");
    if (folder.empty())
        folder = folderFromEnvironment("XDG_CACHE_HOME");
    if (!folder.empty())
        return folder;
    std::string home = folderFromEnvironment("HOME");
    if (home.empty()) {
        std::vector<char> buffer(16384);
        passwd entry;
        passwd *found = nullptr;
        if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir
            || found->pw_dir[0] != '/')
            return {};
        home = withoutTrailingSlashes(found->pw_dir);
    }
    return home + "/.cache";
}

std::string privateFolder()
{
    const std::string parent = privateParent();
    return parent.empty() ? std::string() : parent + folderName;
}

// Why a folder may not hold the log; empty when it may.
std::string folderRefusal(const struct stat &info)
{
    if (S_ISLNK(info.st_mode))
        return "is a link";
    if (!S_ISDIR(info.st_mode))
        return "is not a folder";
    if (info.st_uid != geteuid())
        return "belongs to user " + std::to_string(info.st_uid);
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return "may be written by others";
    return {};
}

// Why a file may not take the log's lines; empty when it may.
std::string fileRefusal(const struct stat &info)
{
    if (S_ISLNK(info.st_mode))
        return "is a link";
    if (!S_ISREG(info.st_mode))
        return "is not a regular file";
    if (info.st_uid != geteuid())
        return "belongs to user " + std::to_string(info.st_uid);
    // Another name could be one that someone else chose for the same file.
    if (info.st_nlink != 1)
        return "has another name";
    return {};
}

// The log file opened for appending in folder, made private when missing; -1 when
// none. refused tells that something is there that may not hold the log.
int openIn(const std::string &folder, bool makeParent, bool &refused)
{
    refused = false;
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int directory = ::open(folder.c_str(), flags);
    if (directory < 0 && errno == ENOENT) {
        if (makeParent)
            ::mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
        // Made by us or by someone faster; the checks below tell which.
        ::mkdir(folder.c_str(), 0700);
        directory = ::open(folder.c_str(), flags);
    }
    struct stat info;
    if (directory < 0) {
        refused = ::lstat(folder.c_str(), &info) == 0 && !folderRefusal(info).empty();
        return -1;
    }
    if (::fstat(directory, &info) != 0 || !folderRefusal(info).empty()) {
        refused = true;
        ::close(directory);
        return -1;
    }
    // O_NONBLOCK: a pipe in the file's place fails at once instead of waiting for a reader.
    const int file = ::openat(directory, fileName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                              0600);
    if (file < 0) {
        refused = ::fstatat(directory, fileName, &info, AT_SYMLINK_NOFOLLOW) == 0 && !fileRefusal(info).empty();
        ::close(directory);
        return -1;
    }
    ::close(directory);
    if (::fstat(file, &info) != 0 || !fileRefusal(info).empty()) {
        refused = true;
        ::close(file);
        return -1;
    }
    return file;
}

} // namespace

LogPlace findLogPlace()
{
    const std::string folder = usualFolder();
    const std::string file = folder + "/" + fileName;
    const std::string fallbackFolder = privateFolder();
    LogPlace place;
    place.path = file;
    place.fallbackPath = fallbackFolder.empty() ? std::string() : fallbackFolder + "/" + fileName;
    struct stat info;
    if (::lstat(folder.c_str(), &info) == 0) {
        std::string refusal = folderRefusal(info);
        if (!refusal.empty())
            place.refusal = folder + " " + refusal;
        else if (::lstat(file.c_str(), &info) == 0 && !(refusal = fileRefusal(info)).empty())
            place.refusal = file + " " + refusal;
    }
    if (!place.refusal.empty())
        place.path = place.fallbackPath;
    return place;
}

std::intptr_t openLogFile()
{
    bool refused = false;
    const int file = openIn(usualFolder(), false, refused);
    if (file >= 0 || !refused)
        return file;
    const std::string fallbackFolder = privateFolder();
    return fallbackFolder.empty() ? -1 : openIn(fallbackFolder, true, refused);
}

} // namespace vantoril
