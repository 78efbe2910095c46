#include "loglock.h"

#include "folderaccess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <windows.h>

// One named mutex per log folder; a copy that dies while holding it leaves it
// abandoned, and the next wait still succeeds.
LogLock::LogLock(const QString &folder)
    : handle(0)
{
    const QByteArray folderId = QCryptographicHash::hash(QDir(folder).absolutePath().toLower().toUtf8(),
                                                         QCryptographicHash::Md5).toHex();
    const QString name = QStringLiteral("Local\\Pelbrook_log_") + QString::fromLatin1(folderId);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
    if (mutex && WaitForSingleObject(mutex, INFINITE) != WAIT_FAILED) {
        handle = reinterpret_cast<qintptr>(mutex);
    } else if (mutex) {
        CloseHandle(mutex);
    }
}

LogLock::~LogLock()
{
    if (handle) {
        HANDLE mutex = reinterpret_cast<HANDLE>(handle);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
}

bool LogLock::isHeld() const
{
    return handle != 0;
}

LogLock::AppendResult LogLock::appendUnlessFull(const QString &fileName, const QByteArray &bytes, qint64 fullSize)
{
    // Neither the log folder nor the live file may be a link or junction planted there,
    // and only a folder of this user's that nobody else may write keeps it so.
    const QString folder = QDir::toNativeSeparators(QFileInfo(fileName).path());
    const DWORD folderAttributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(folder.utf16()));
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || (folderAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        || !vantoril::folderRefusal(vantoril::FolderUse::Private, folder.toUtf8().toStdString()).empty())
        return Failed;
    HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(fileName).utf16()),
                              FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Failed;
    AppendResult result = Failed;
    LARGE_INTEGER size;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)
        && !(information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        && information.nNumberOfLinks == 1 && GetFileSizeEx(file, &size)) {
        if (size.QuadPart >= fullSize) {
            result = Full;
        } else {
            DWORD written = 0;
            result = WriteFile(file, bytes.constData(), DWORD(bytes.size()), &written, nullptr)
                    && written == DWORD(bytes.size())
                ? Appended
                : Failed;
        }
    }
    CloseHandle(file);
    return result;
}
