#include "childprocess.h"

#include <windows.h>

ChildProcess::ChildProcess(QObject *parent)
    : QProcess(parent)
{
}

ChildProcess::~ChildProcess()
{
    if (job)
        CloseHandle(reinterpret_cast<HANDLE>(job));
}

void ChildProcess::startTied(const QString &program, const QStringList &arguments)
{
    // The system closes the job's last handle when this process ends, however it ends,
    // and then ends every process in the job.
    HANDLE created = CreateJobObjectW(nullptr, nullptr);
    if (created) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits))
            job = reinterpret_cast<qintptr>(created);
        else
            CloseHandle(created);
    }
    start(program, arguments);
    if (!job || !waitForStarted())
        return;
    HANDLE child = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId()));
    if (child) {
        AssignProcessToJobObject(reinterpret_cast<HANDLE>(job), child);
        CloseHandle(child);
    }
}

void ChildProcess::setupChildProcess()
{
}
