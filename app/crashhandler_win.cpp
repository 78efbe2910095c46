#include "crashhandler.h"

#include "loghandler.h"

#include <QDir>
#include <QStandardPaths>

#include <windows.h>
#include <dbghelp.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <exception>

// How each kind of failure reaches the dump and the log line here:
// - An access violation or any other structured exception on any thread, the GUI
//   thread, the workers or a thread of the reader library: the unhandled-exception
//   filter is one for the whole process and runs on the failing thread.
// - A stack overflow on any thread: it reaches the same filter, but with only the few
//   KiB below the guard page left, too little for dbghelp. The filter hands the dump
//   to a new thread with a stack of its own and waits for it, so no thread needs a
//   larger stack guarantee. The log line is always written on such a thread, which
//   the filter waits for a bounded time only.
// - abort(), and with it qFatal: the C runtime raises SIGABRT; its handler captures
//   the thread's context, writes the dump and the line, and ends the process as
//   abort() would. The runtime's message box and error report are turned off.
// - An uncaught C++ exception on any thread, and every other call of std::terminate:
//   the terminate handler calls abort(), which ends as above.
namespace {

// abort()'s own exit status, used when the dump was written for SIGABRT.
const int abortExitCode = 3;
// The code Windows gives a fatal application exit; marks the dump of an abort().
const DWORD abortExceptionCode = 0x40000015;
// The log step may block on a lock the failed code held; as on the other systems it
// gets a few seconds (it waits at most one for the log's lock) before the process ends.
const DWORD logStepMs = 3000;
// A dump of a large process takes seconds; one that takes longer than this is stuck.
const DWORD dumpStepMs = 60000;

// The thread that handles the first failure, and the helper thread it runs a step on;
// 0 before any failure. Thread ids are never 0.
volatile LONG crashingThread = 0;
volatile LONG helperThread = 0;

// Numbered names tried when the dump's own name is taken.
const int maxDumpNumber = 99;

// The user's data folder, worked out at install: the dump goes there when the current
// folder takes none (a standard user's shortcut starts in the program's folder under
// C:\Program Files). Empty when unknown.
wchar_t dataFolder[MAX_PATH];

// A new file that nothing held before: CREATE_NEW follows no link or junction planted
// in the name's place and truncates nothing. When something holds the name, the dump
// takes a numbered one (Pelbrook-1.dmp and so on), written into name.
HANDLE createDumpFile(const wchar_t *fileName, wchar_t *name, size_t nameSize)
{
    const wchar_t *extension = wcsrchr(fileName, L'.');
    const int stemLength = extension ? int(extension - fileName) : int(wcslen(fileName));
    for (int number = 0; number <= maxDumpNumber; ++number) {
        const int length = number == 0
            ? _snwprintf(name, nameSize, L"%ls", fileName)
            : _snwprintf(name, nameSize, L"%.*ls-%d%ls", stemLength, fileName, number, extension ? extension : L"");
        if (length < 0 || size_t(length) >= nameSize)
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        // A folder of that name refuses with access denied.
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// A dump of an earlier crash: a plain file, which the new dump replaces.
bool isEarlierDump(const wchar_t *fileName)
{
    const DWORD attributes = GetFileAttributesW(fileName);
    return attributes != INVALID_FILE_ATTRIBUTES
        && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY));
}

// Makes every missing folder of an absolute path; the user's own folders hand their
// access list down to the new ones.
void makePath(const wchar_t *path)
{
    wchar_t prefix[MAX_PATH];
    const size_t length = wcslen(path);
    if (length >= MAX_PATH)
        return;
    // From past the drive ("C:\"); the parts of a share's name simply fail.
    for (size_t end = 3; end <= length; ++end) {
        if (end < length && path[end] != L'\\')
            continue;
        wmemcpy(prefix, path, end);
        prefix[end] = 0;
        CreateDirectoryW(prefix, nullptr);
    }
}

void writeDumpFile(const wchar_t *fileName, EXCEPTION_POINTERS *exceptionInfo, DWORD threadId)
{
    wchar_t name[MAX_PATH];
    wchar_t fallbackName[MAX_PATH];
    HANDLE file = createDumpFile(fileName, name, MAX_PATH);
    if (file == INVALID_HANDLE_VALUE && dataFolder[0]) {
        makePath(dataFolder);
        const int length = _snwprintf(fallbackName, MAX_PATH, L"%ls\\%ls", dataFolder, fileName);
        if (length < 0 || length >= MAX_PATH)
            return;
        fileName = fallbackName;
        file = createDumpFile(fileName, name, MAX_PATH);
    }
    if (file == INVALID_HANDLE_VALUE)
        return;
    MINIDUMP_EXCEPTION_INFORMATION information;
    information.ThreadId = threadId;
    information.ExceptionPointers = exceptionInfo;
    information.ClientPointers = TRUE;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &information, nullptr,
                      nullptr);
    CloseHandle(file);
    // An earlier dump is replaced by renaming, never truncated; a link, a junction or
    // a folder in its place stays, beside the numbered dump.
    if (wcscmp(name, fileName) != 0 && isEarlierDump(fileName))
        MoveFileExW(name, fileName, MOVEFILE_REPLACE_EXISTING);
}

struct CrashReport
{
    EXCEPTION_POINTERS *exceptionInfo;
    DWORD threadId;
};

DWORD WINAPI writeDumpThread(void *report)
{
    const CrashReport &copy = *static_cast<CrashReport *>(report);
    writeDumpFile(L"Pelbrook.dmp", copy.exceptionInfo, copy.threadId);
    return 0;
}

DWORD WINAPI logLineThread(void *)
{
    logCrashLine(QStringLiteral("ApplicationCrashHandler"));
    return 0;
}

// Runs a step on a new thread with a stack of its own and waits for it at most
// timeoutMs; false when the thread could not start or did not end in time.
bool runOnHelperThread(LPTHREAD_START_ROUTINE step, void *argument, DWORD timeoutMs)
{
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, step, argument, CREATE_SUSPENDED, &id);
    if (!thread)
        return false;
    InterlockedExchange(&helperThread, LONG(id));
    ResumeThread(thread);
    const bool ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

// The dump first, so it exists even if logging fails; the log step is bounded, since a
// lock the failed code held may keep it waiting for good.
void writeReport(const CrashReport &report, UINT exitCode)
{
    // The dump is always written from a helper thread: the failing thread may have too
    // little stack left, and a dump written by the thread it describes can stall while
    // the other threads are suspended (seen under Wine after abort()).
    CrashReport copy = report;
    runOnHelperThread(writeDumpThread, &copy, dumpStepMs);
    if (!runOnHelperThread(logLineThread, nullptr, logStepMs))
        TerminateProcess(GetCurrentProcess(), exitCode);
}

// Only the first failure is reported. A failure of the handler itself, on its own
// thread or on its helper, ends the process at once, since waiting there would wait
// for good; any other thread that fails meanwhile waits for the first one to end it.
void enterCrashHandler(UINT exitCode)
{
    const LONG self = LONG(GetCurrentThreadId());
    const LONG first = InterlockedCompareExchange(&crashingThread, self, 0);
    if (first == 0)
        return;
    if (first == self || helperThread == self)
        TerminateProcess(GetCurrentProcess(), exitCode);
    for (;;)
        Sleep(INFINITE);
}

LONG WINAPI ApplicationCrashHandler(EXCEPTION_POINTERS *exceptionInfo)
{
    const DWORD code = exceptionInfo->ExceptionRecord->ExceptionCode;
    enterCrashHandler(code);
    writeReport({exceptionInfo, GetCurrentThreadId()}, code);
    // Ended here with the failure's code, as the system would end it, but without its
    // error dialog or a debugger it may start (Wine ends a stack overflow with status 0).
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

void onAbortSignal(int)
{
    enterCrashHandler(abortExitCode);
    CONTEXT context;
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record;
    ZeroMemory(&record, sizeof record);
    record.ExceptionCode = abortExceptionCode;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
#if defined(_M_X64) || defined(__x86_64__)
    record.ExceptionAddress = reinterpret_cast<void *>(context.Rip);
#elif defined(_M_IX86) || defined(__i386__)
    record.ExceptionAddress = reinterpret_cast<void *>(context.Eip);
#endif
    EXCEPTION_POINTERS pointers{&record, &context};
    writeReport({&pointers, GetCurrentThreadId()}, abortExitCode);
    _exit(abortExitCode);
}

[[noreturn]] void terminateHandler()
{
    abort();
}

} // namespace

void installCrashHandler()
{
    const QString data = QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    if (!data.isEmpty() && !QDir::isRelativePath(data) && data.size() < MAX_PATH)
        wmemcpy(dataFolder, reinterpret_cast<const wchar_t *>(data.utf16()), size_t(data.size()) + 1);
    SetUnhandledExceptionFilter(ApplicationCrashHandler);
#if defined(_MSC_VER) || defined(_UCRT)
    // The newer runtimes show a message box and an error report on abort(); the system
    // msvcrt.dll that mingw-w64 links has neither, and the SIGABRT handler ends first.
    _set_abort_behavior(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
#endif
    signal(SIGABRT, onAbortSignal);
    std::set_terminate(terminateHandler);
}
