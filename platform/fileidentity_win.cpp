#include "fileidentity.h"

#include "folderaccess.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

namespace Platform {

namespace {

// FILETIME counts 100 ns from 1601; the Unix epoch lies this many of them later.
const qint64 epochOffset = 116444736000000000LL;

qint64 nanoseconds(qint64 fileTime)
{
    return (fileTime - epochOffset) * 100;
}

} // namespace

FileIdentity fileIdentity(const QString &path)
{
    FileIdentity identity;
    const QString native = QDir::toNativeSeparators(path);
    // Attributes only: opening so does not disturb a writer and needs no read right.
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return identity;
    BY_HANDLE_FILE_INFORMATION information;
    FILE_BASIC_INFO basic;
    const bool known = GetFileInformationByHandle(file, &information)
        && GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic);
    CloseHandle(file);
    if (!known || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return identity;
    identity.valid = true;
    identity.device = information.dwVolumeSerialNumber;
    identity.inode = (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    identity.size = qint64((quint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
    identity.modified = nanoseconds(basic.LastWriteTime.QuadPart);
    identity.changed = nanoseconds(basic.ChangeTime.QuadPart);
    return identity;
}

QString preparePrivateFolder(const QString &folder)
{
    // Made inside the user's local application data, the folder inherits its access list,
    // which is the user's own; one made by hand or moved there may still be another's.
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent))
        return QStringLiteral("cannot create ") + parent;
    const QString native = QDir::toNativeSeparators(folder);
    const LPCWSTR name = reinterpret_cast<LPCWSTR>(native.utf16());
    if (!CreateDirectoryW(name, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return QStringLiteral("cannot create the folder: error ") + QString::number(GetLastError());
    const DWORD attributes = GetFileAttributesW(name);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return QStringLiteral("cannot look at the folder: error ") + QString::number(GetLastError());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return QStringLiteral("the folder is a link");
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return QStringLiteral("not a folder");
    const std::string refusal = vantoril::folderRefusal(vantoril::FolderUse::Private, native.toUtf8().toStdString());
    if (!refusal.empty())
        return QStringLiteral("the folder ") + QString::fromStdString(refusal);
    return QString();
}

} // namespace Platform
