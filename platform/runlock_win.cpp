#include "runlock.h"

#include <windows.h>

RunLock::RunLock(const QString &lockFilePath)
    : path(lockFilePath), handle(qintptr(INVALID_HANDLE_VALUE))
{
}

RunLock::~RunLock()
{
    if (HANDLE(handle) != INVALID_HANDLE_VALUE)
        CloseHandle(HANDLE(handle));
}

bool RunLock::tryLock()
{
    if (HANDLE(handle) != INVALID_HANDLE_VALUE)
        return true;
    // Opened without sharing: a second process cannot open it while this one holds it.
    // A link or junction in its place is opened as itself and refused, never followed.
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)
        || (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(file);
        return false;
    }
    handle = qintptr(file);
    return true;
}
