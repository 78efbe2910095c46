#include "consoleinterrupt.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a pipe; the event loop reads the other end.
int wakeFds[2] = {-1, -1};
const int handledSignals[] = {SIGINT, SIGTERM};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    ssize_t written = ::write(wakeFds[1], &number, 1);
    (void)written;
    errno = savedErrno;
}

} // namespace

ConsoleInterrupt::ConsoleInterrupt(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        while (::read(wakeFds[0], &number, 1) == 1)
            emit interrupted(number);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : handledSignals)
        sigaction(signalNumber, &action, nullptr);
}

ConsoleInterrupt::~ConsoleInterrupt()
{
    for (int signalNumber : handledSignals)
        std::signal(signalNumber, SIG_DFL);
    delete notifier;
    for (int &fd : wakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void ConsoleInterrupt::endProcess(int signalNumber)
{
    std::signal(signalNumber, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signalNumber);
    // Only reached when the signal cannot end the process.
    std::_Exit(128 + signalNumber);
}
