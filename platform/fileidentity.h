#ifndef FILEIDENTITY_H
#define FILEIDENTITY_H

#include <QString>
#include <QtGlobal>

// What tells a file's content apart without reading it: the same file (device and
// inode, on Windows the volume serial and file index) with the same size and times is
// taken as unchanged. The change time is the one a writer cannot set back, so a file
// rewritten with its size and modification time restored still differs.
struct FileIdentity
{
    bool valid = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    // Nanoseconds since 1970 (UTC), as fine as the file system keeps them.
    qint64 modified = 0;
    qint64 changed = 0;

    bool operator==(const FileIdentity &other) const
    {
        return valid && other.valid && device == other.device && inode == other.inode && size == other.size
            && modified == other.modified && changed == other.changed;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

namespace Platform {

// The identity of the regular file at path, links followed; not valid when there is none.
FileIdentity fileIdentity(const QString &path);

// Creates folder (and what is missing above it) for this user alone, and checks that it
// is a real folder of this user's that nobody else may write, so that no one can plant a
// link or a file of theirs in it. Returns why it cannot be used; empty when it can.
QString preparePrivateFolder(const QString &folder);

} // namespace Platform

#endif
