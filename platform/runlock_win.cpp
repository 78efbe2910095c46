#include "runlock.h"

#include <windows.h>

namespace {

// A virus scanner or an indexer may hold the file a moment without sharing it.
const int sharingRetries = 20;
const DWORD sharingRetryMs = 50;

} // namespace

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
    // Shared for reading and writing, so that another program that looks at the file
    // does not read as a second export: the byte lock below is the lock. Not shared for
    // deletion, so that nobody can remove the name and let a second export lock a new file.
    // A link or junction in its place is opened as itself and refused, never followed.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt <= sharingRetries; ++attempt) {
        file = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        Sleep(sharingRetryMs);
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    OVERLAPPED start = {};
    if (!GetFileInformationByHandle(file, &information)
        || (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        || !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) {
        CloseHandle(file);
        return false;
    }
    handle = qintptr(file);
    return true;
}
