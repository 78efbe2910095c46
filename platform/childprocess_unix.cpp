#include "childprocess.h"

#include <csignal>

#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

ChildProcess::ChildProcess(QObject *parent)
    : QProcess(parent)
{
}

ChildProcess::~ChildProcess() = default;

void ChildProcess::startTied(const QString &program, const QStringList &arguments)
{
    parentId = ::getpid();
    start(program, arguments);
}

// Runs in the child between fork and exec: only async-signal-safe calls.
void ChildProcess::setupChildProcess()
{
#ifdef __linux__
    // Sent when the thread that started the child ends; that thread waits for it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    // The parent may have died before the line above took effect.
    if (::getppid() != pid_t(parentId))
        ::_exit(127);
}
