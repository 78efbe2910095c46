#include "loglock.h"

#include <QCryptographicHash>
#include <QDir>

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
