// Holds a file as another program might while pelbrook-export starts, prints "held" and
// keeps it for the given milliseconds:
//   holdfile FILE open|lock MILLISECONDS
// "open" opens it for reading, shared for reading and writing, as a virus scanner or an
// indexer does; "lock" also takes the byte lock a running export holds.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 4)
        return 2;
    const HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    OVERLAPPED start = {};
    if (wcscmp(argv[2], L"lock") == 0
        && !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start))
        return 1;
    std::puts("held");
    std::fflush(stdout);
    Sleep(DWORD(_wtoi(argv[3])));
    CloseHandle(file);
    return 0;
}
