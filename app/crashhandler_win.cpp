#include "crashhandler.h"

#include "loghandler.h"

#include <windows.h>
#include <dbghelp.h>

namespace {

void writeDumpFile(const wchar_t *fileName, EXCEPTION_POINTERS *exceptionInfo)
{
    HANDLE file = CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    MINIDUMP_EXCEPTION_INFORMATION information;
    information.ThreadId = GetCurrentThreadId();
    information.ExceptionPointers = exceptionInfo;
    information.ClientPointers = TRUE;
    MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, &information, nullptr,
                      nullptr);
    CloseHandle(file);
}

LONG WINAPI ApplicationCrashHandler(EXCEPTION_POINTERS *exceptionInfo)
{
    writeDumpFile(L"Pelbrook.dmp", exceptionInfo);
    logCrashLine(QStringLiteral("ApplicationCrashHandler"));
    // The system ends the process without its error dialog.
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

void installCrashHandler()
{
    SetUnhandledExceptionFilter(ApplicationCrashHandler);
}
