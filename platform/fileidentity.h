#ifndef FILEIDENTITY_H
#define FILEIDENTITY_H

#include <QString>
#include <QtGlobal>

// What tells a file's content apart without reading it: the same file (device and
// inode, on Windows the volume serial and file index) with the same size and times is
// taken as unchanged. The change time is the one a writer cannot set back, so a file
// rewritten with its size and modification time restored still differs. On Windows,
// where anyone who may write a file's attributes can set its change time, the change
// journal's number of the file's last change (USN) takes its place.
struct FileIdentity
{
    bool valid = false;
    // Whether the file system keeps these values so that they tell files apart: only
    // then may an answer be kept under them. Not part of the comparison.
    bool trustworthy = false;
    // Why not, when the identity is valid but not trustworthy.
    QString distrust;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    // Nanoseconds since 1970 (UTC), as fine as the file system keeps them; on Windows
    // changed holds the file's USN.
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

// Opens the regular file at path (links followed) for reading and gives the identity of
// what was opened; -1 when it cannot be opened or is no regular file. The handle is a
// file descriptor, on Windows a HANDLE that lets nobody delete or rename the file.
qintptr openForReading(const QString &path, FileIdentity *identity);
// The identity of the file open as handle, now.
FileIdentity openedFileIdentity(qintptr handle);
void closeOpened(qintptr handle);

// Whether path is a plain file of this user's own, not a link (on Windows: not a link).
bool isOwnPlainFile(const QString &path);

// Creates folder (and what is missing above it) for this user alone, and checks that it
// is a real folder of this user's that nobody else may write, so that no one can plant a
// link or a file of theirs in it. Returns why it cannot be used; empty when it can.
QString preparePrivateFolder(const QString &folder);

} // namespace Platform

#endif
