#include "crashhandler.h"

#include "loghandler.h"

#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <execinfo.h>
#include <pthread.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

// Everything between the fault and the log line runs in a signal handler, so it uses
// only async-signal-safe calls: no allocation, no stdio, no locks.
namespace {

const int crashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
const int backtraceDepth = 64;
// Large enough for the handler's own frames when the thread's stack is exhausted.
const size_t alternateStackSize = 256 * 1024;
// The log step is not async-signal-safe and may block on a lock the crashed code held.
const unsigned logStepSeconds = 3;

volatile sig_atomic_t crashSignal = 0;

void writeText(int fd, const char *text)
{
    size_t left = strlen(text);
    while (left > 0) {
        const ssize_t written = write(fd, text, left);
        if (written <= 0)
            return;
        text += written;
        left -= size_t(written);
    }
}

void writeNumber(int fd, uint64_t value, unsigned base = 10, int minDigits = 1)
{
    char digits[32];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value > 0 && count < int(sizeof digits));
    while (count < minDigits && count < int(sizeof digits))
        digits[count++] = '0';
    char text[33];
    for (int i = 0; i < count; ++i)
        text[i] = digits[count - 1 - i];
    text[count] = '\0';
    writeText(fd, text);
}

// Calendar date of a time in UTC; localtime is not safe here.
void writeUtcTime(int fd, time_t now)
{
    const int64_t seconds = now;
    int64_t days = seconds / 86400;
    const int64_t secondOfDay = seconds % 86400;
    // Days since 1970-01-01 to a proleptic Gregorian date (the usual civil-from-days steps).
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    writeNumber(fd, uint64_t(year), 10, 4);
    writeText(fd, "-");
    writeNumber(fd, uint64_t(month), 10, 2);
    writeText(fd, "-");
    writeNumber(fd, uint64_t(day), 10, 2);
    writeText(fd, " ");
    writeNumber(fd, uint64_t(secondOfDay / 3600), 10, 2);
    writeText(fd, ":");
    writeNumber(fd, uint64_t(secondOfDay / 60 % 60), 10, 2);
    writeText(fd, ":");
    writeNumber(fd, uint64_t(secondOfDay % 60), 10, 2);
    writeText(fd, " UTC");
}

const char *signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    }
    return "unknown";
}

void copyFile(int fd, const char *path)
{
    const int source = open(path, O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return;
    char buffer[4096];
    ssize_t got;
    while ((got = read(source, buffer, sizeof buffer)) > 0) {
        if (write(fd, buffer, size_t(got)) != got)
            break;
    }
    close(source);
}

void writeDumpFile(const char *fileName, int signalNumber, const siginfo_t *info)
{
    const int fd = open(fileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    writeText(fd, "Pelbrook crash dump\nsignal: ");
    writeNumber(fd, uint64_t(signalNumber));
    writeText(fd, " (");
    writeText(fd, signalName(signalNumber));
    writeText(fd, ")\ncode: ");
    if (info->si_code < 0)
        writeText(fd, "-");
    writeNumber(fd, uint64_t(info->si_code < 0 ? -int64_t(info->si_code) : int64_t(info->si_code)));
    writeText(fd, "\naddress: 0x");
    writeNumber(fd, uint64_t(uintptr_t(info->si_addr)), 16);
    writeText(fd, "\npid: ");
    writeNumber(fd, uint64_t(getpid()));
    writeText(fd, "\ntid: ");
    writeNumber(fd, uint64_t(syscall(SYS_gettid)));
    const time_t now = time(nullptr);
    writeText(fd, "\ntime: ");
    writeNumber(fd, uint64_t(now));
    writeText(fd, " (");
    writeUtcTime(fd, now);
    writeText(fd, ")\n\nbacktrace:\n");
    void *frames[backtraceDepth];
    backtrace_symbols_fd(frames, backtrace(frames, backtraceDepth), fd);
    writeText(fd, "\nmaps:\n");
    copyFile(fd, "/proc/self/maps");
    close(fd);
}

// The log step hung: end the process by the signal that crashed it.
void endStuckCrash(int)
{
    const int signalNumber = crashSignal;
    signal(signalNumber, SIG_DFL);
    sigset_t crashOnly;
    sigemptyset(&crashOnly);
    sigaddset(&crashOnly, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &crashOnly, nullptr);
    raise(signalNumber);
}

void ApplicationCrashHandler(int signalNumber, siginfo_t *info, void *)
{
    writeDumpFile("Pelbrook.dmp", signalNumber, info);
    crashSignal = signalNumber;
    signal(SIGALRM, endStuckCrash);
    alarm(logStepSeconds);
    // Not safe in a signal handler, but the dump is already on disk.
    logMessageUnlessBusy(QtDebugMsg, QMessageLogContext(), QStringLiteral("ApplicationCrashHandler"));
    // The handler was reset to the default action on entry; the signal raised here is
    // delivered when the handler returns and ends the process by the same signal.
    raise(signalNumber);
}

} // namespace

void installCrashHandler()
{
    // The first backtrace() loads the unwinder, which allocates; do it now, not in the handler.
    void *frame[1];
    backtrace(frame, 1);

    stack_t alternateStack;
    alternateStack.ss_sp = new char[alternateStackSize];
    alternateStack.ss_size = alternateStackSize;
    alternateStack.ss_flags = 0;
    sigaltstack(&alternateStack, nullptr);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = ApplicationCrashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : crashSignals)
        sigaction(signalNumber, &action, nullptr);
}
