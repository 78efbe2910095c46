#include "fileidentity.h"

#include "folderaccess.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

#include <windows.h>
#include <winioctl.h>

namespace Platform {

namespace {

// FILETIME counts 100 ns from 1601; the Unix epoch lies this many of them later.
const qint64 epochOffset = 116444736000000000LL;

qint64 nanoseconds(qint64 fileTime)
{
    return (fileTime - epochOffset) * 100;
}

} // namespace

namespace {

// Whether the change journal of the file's volume is running now: a journal that was
// turned off leaves each file its last number, which later writes do not change.
bool isJournalActive(HANDLE file)
{
    wchar_t finalPath[1024] = {};
    const DWORD length = GetFinalPathNameByHandleW(file, finalPath, 1024, VOLUME_NAME_GUID);
    if (length == 0 || length >= 1024)
        return false;
    // "\\?\Volume{GUID}\folder\file": the volume is the part up to the closing brace.
    const QString volume = QString::fromWCharArray(finalPath, int(length)).section(QLatin1Char('}'), 0, 0)
        + QLatin1Char('}');
    if (!volume.startsWith(QLatin1String("\\\\?\\Volume{")))
        return false;
    // No access asked: the query needs none. Where the volume cannot be opened so, no cache.
    const HANDLE device = CreateFileW(reinterpret_cast<LPCWSTR>(volume.utf16()), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                      nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return false;
    USN_JOURNAL_DATA journal;
    DWORD returned = 0;
    const bool active = DeviceIoControl(device, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, &journal, sizeof journal,
                                        &returned, nullptr)
        && returned >= sizeof journal;
    CloseHandle(device);
    return active;
}

// The values come from the open file, and so does the verdict on them: only a local
// NTFS volume keeps a change journal, whose number for the file's last change no
// program can set back. The change time a program may set (SetFileInformationByHandle
// takes any ChangeTime from whoever may write the attributes); FAT and exFAT have no
// file index that stays, and a network share reports what its server says.
FileIdentity identityOf(HANDLE file)
{
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION information;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(file, &information)
        || !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)
        || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return identity;
    identity.valid = true;
    identity.device = information.dwVolumeSerialNumber;
    identity.inode = (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    identity.size = qint64((quint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
    identity.modified = nanoseconds(basic.LastWriteTime.QuadPart);

    FILE_REMOTE_PROTOCOL_INFO remote;
    if (GetFileInformationByHandleEx(file, FileRemoteProtocolInfo, &remote, sizeof remote)) {
        identity.distrust = QStringLiteral("the file is on a network share");
        return identity;
    }
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (!GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1)) {
        identity.distrust = QStringLiteral("the volume's file system is unknown");
        return identity;
    }
    const QString fileSystemName = QString::fromWCharArray(fileSystem);
    if (fileSystemName.compare(QLatin1String("NTFS"), Qt::CaseInsensitive) != 0) {
        identity.distrust = QStringLiteral("the file system %1 keeps no change journal").arg(fileSystemName);
        return identity;
    }
    // A V2 record and the file's name; without input the system gives version 2.
    alignas(8) char record[sizeof(USN_RECORD) + 2 * MAX_PATH];
    DWORD returned = 0;
    if (!DeviceIoControl(file, FSCTL_READ_FILE_USN_DATA, nullptr, 0, record, sizeof record, &returned, nullptr)
        || returned < sizeof(USN_RECORD)) {
        identity.distrust = QStringLiteral("the volume's change journal cannot be read (error %1)").arg(GetLastError());
        return identity;
    }
    USN_RECORD usn;
    std::memcpy(&usn, record, sizeof usn);
    // Zero: the journal is off, and changes leave no number.
    if (usn.MajorVersion != 2 || usn.Usn == 0 || !isJournalActive(file)) {
        identity.distrust = QStringLiteral("the volume's change journal is not active");
        return identity;
    }
    identity.changed = qint64(usn.Usn);
    identity.trustworthy = true;
    return identity;
}

} // namespace

FileIdentity fileIdentity(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    // Attributes only: opening so does not disturb a writer and needs no read right.
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FileIdentity();
    const FileIdentity identity = identityOf(file);
    CloseHandle(file);
    return identity;
}

qintptr openForReading(const QString &path, FileIdentity *identity)
{
    const QString native = QDir::toNativeSeparators(path);
    // Without FILE_SHARE_DELETE nobody can rename or delete the file, or a folder above
    // it, while it is open: the name keeps naming what was identified here.
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), GENERIC_READ | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    *identity = identityOf(file);
    if (!identity->valid || GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        *identity = FileIdentity();
        return -1;
    }
    return reinterpret_cast<qintptr>(file);
}

FileIdentity openedFileIdentity(qintptr handle)
{
    return identityOf(reinterpret_cast<HANDLE>(handle));
}

void closeOpened(qintptr handle)
{
    if (handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool isOwnPlainFile(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(native.utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES
        && !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
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
