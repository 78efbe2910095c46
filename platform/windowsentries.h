#ifndef WINDOWSENTRIES_H
#define WINDOWSENTRIES_H

#include <QString>
#include <QtGlobal>

// How the scanner reads what Windows records of a folder entry. The decisions are plain
// functions of that record, built on every system so that they are tested everywhere;
// only the queries of the file system are Windows' own.
namespace Platform {

// The values Windows gives them (winnt.h).
constexpr quint32 windowsAttributeDirectory = 0x10;
constexpr quint32 windowsAttributeReparsePoint = 0x400;
constexpr quint32 windowsReparseTagMountPoint = 0xA0000003; // junctions and mounted volumes
constexpr quint32 windowsReparseTagSymlink = 0xA000000C;
// Set in the tag of every reparse point that stands for another name.
constexpr quint32 windowsReparseTagNameSurrogate = 0x20000000;

struct WindowsEntryKind
{
    bool isDir;
    bool isSymLink;
};

// From the entry's own attributes, never its target's: a symbolic link, junction or
// mount point is a link (to a folder when it is a directory), so the scanner follows it
// under the rules of a symbolic link and cuts its loops; a shortcut (.lnk) is the plain
// file it is, wherever it points; other reparse points (cloud placeholders, deduplicated
// files) are the files and folders they stand in for.
WindowsEntryKind windowsEntryKind(quint32 attributes, quint32 reparseTag);

// A drive root ("C:", "C:/", "C:\") or a share root ("\\server\share", with or without
// the final separator, in either separator): a whole volume, never one folder.
bool isWindowsVolumeRoot(const QString &path);

// Windows build only. The entry's own attributes and reparse tag, not followed;
// false when the entry cannot be read.
bool readWindowsEntry(const QString &path, quint32 &attributes, quint32 &reparseTag);
// Windows build only. The path with every symbolic link, junction and mount point
// resolved, in Qt's form ("C:/a/b", "//server/share/a"); empty when it cannot be opened.
QString windowsFinalPath(const QString &path);

} // namespace Platform

#endif
