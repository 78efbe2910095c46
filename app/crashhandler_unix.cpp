#include "crashhandler.h"

#include "loghandler.h"

#include <QFile>
#include <QStandardPaths>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <typeinfo>

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Everything between the fault and the log line runs in a signal handler, so it uses
// only async-signal-safe calls: no allocation, no stdio, no locks.
namespace {

// SIGABRT covers abort() and with it every uncaught C++ exception (the terminate
// handler below ends in abort()) and qFatal.
const int crashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
const int backtraceDepth = 64;
// Large enough for the handler's own frames (the log step included) when the
// thread's stack is exhausted.
const size_t alternateStackSize = 256 * 1024;
// Static, not allocated: the main thread's, never freed.
char alternateStackMemory[alternateStackSize];
// The log step is not async-signal-safe and may block on a lock the crashed code held.
// It waits at most a second for the log lock, so this leaves it time to write.
const unsigned logStepSeconds = 3;

volatile sig_atomic_t crashSignal = 0;
// The kernel thread id of the thread that is handling a crash, 0 before any.
std::atomic<long> crashingThread{0};

// What the terminate handler learnt about the exception, for the dump.
char terminateReason[512];

// The user's data folder, worked out at install: the dump goes there when the current
// folder is shared. Empty when unknown.
char dataFolder[4096];
// Numbered names tried when the dump's own name is taken.
const unsigned maxDumpNumber = 99;

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
    case SIGABRT:
        return "SIGABRT";
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

// Whether a folder may take the dump: only this user may have put anything in it.
bool isPrivateFolder(int folder)
{
    struct stat info;
    return fstat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid()
        && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Makes every missing folder of an absolute path, private to this user.
void makePrivatePath(const char *path)
{
    char prefix[sizeof dataFolder];
    const size_t length = strlen(path);
    if (length >= sizeof prefix)
        return;
    for (size_t end = 1; end <= length; ++end) {
        if (end < length && path[end] != '/')
            continue;
        memcpy(prefix, path, end);
        prefix[end] = 0;
        mkdir(prefix, 0700);
    }
}

// The current folder when only this user can have put anything there; otherwise (a
// shared folder where another user may have planted a link) the user's data folder.
// -1 when neither will do.
int openDumpFolder()
{
    const int current = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (current >= 0 && isPrivateFolder(current))
        return current;
    if (current >= 0)
        close(current);
    if (!dataFolder[0])
        return -1;
    makePrivatePath(dataFolder);
    const int data = open(dataFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (data >= 0 && isPrivateFolder(data))
        return data;
    if (data >= 0)
        close(data);
    return -1;
}

// A new file of the dump's name in folder, or, when something holds that name, of a
// numbered name (Pelbrook-1.dmp and so on); its name goes to name. Never opens
// anything that was there before. -1 when none could be made.
int createDumpFile(int folder, const char *fileName, char *name, size_t nameSize)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    const size_t nameLength = strlen(fileName);
    const char *extension = strrchr(fileName, '.');
    const size_t stemLength = extension ? size_t(extension - fileName) : nameLength;
    if (nameLength + 8 > nameSize)
        return -1;
    memcpy(name, fileName, nameLength + 1);
    int fd = openat(folder, name, flags, 0600);
    for (unsigned number = 1; fd < 0 && errno == EEXIST && number <= maxDumpNumber; ++number) {
        char digits[8];
        size_t count = 0;
        for (unsigned rest = number; rest > 0 && count < sizeof digits; rest /= 10)
            digits[count++] = char('0' + rest % 10);
        size_t at = stemLength;
        name[at++] = '-';
        while (count > 0)
            name[at++] = digits[--count];
        memcpy(name + at, fileName + stemLength, nameLength - stemLength + 1);
        fd = openat(folder, name, flags, 0600);
    }
    return fd;
}

// A dump of an earlier crash: a plain file of this user's, which the new one replaces.
bool isEarlierDump(int folder, const char *fileName)
{
    struct stat info;
    return fstatat(folder, fileName, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)
        && info.st_uid == geteuid();
}

void writeDumpFile(const char *fileName, int signalNumber, const siginfo_t *info)
{
    const int folder = openDumpFolder();
    if (folder < 0)
        return;
    char name[256];
    const int fd = createDumpFile(folder, fileName, name, sizeof name);
    if (fd < 0) {
        close(folder);
        return;
    }
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
    writeText(fd, ")\n");
    if (signalNumber == SIGABRT && terminateReason[0]) {
        writeText(fd, "terminate: ");
        writeText(fd, terminateReason);
        writeText(fd, "\n");
    }
    writeText(fd, "\nbacktrace:\n");
    void *frames[backtraceDepth];
    backtrace_symbols_fd(frames, backtrace(frames, backtraceDepth), fd);
    writeText(fd, "\nmaps:\n");
    copyFile(fd, "/proc/self/maps");
    close(fd);
    // An earlier dump is replaced by renaming, never truncated: whatever else holds
    // the name (a link, a folder) stays, beside the numbered dump.
    if (strcmp(name, fileName) != 0 && isEarlierDump(folder, fileName))
        renameat(folder, name, folder, fileName);
    close(folder);
}

// AddressSanitizer prefixes every call of a function that does not return with a
// stack clean-up that allocates; inside a handler that interrupted the allocator it
// waits for good. The two ways out of a handler must end the process, so they are
// left uninstrumented.
#define CRASH_EXIT_PATH __attribute__((no_sanitize("address")))

// Ends the process by the default action of a signal, from inside a handler.
[[noreturn]] CRASH_EXIT_PATH void endBySignal(int signalNumber)
{
    signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);
}

// The log step hung: end the process by the signal that crashed it.
CRASH_EXIT_PATH void endStuckCrash(int)
{
    endBySignal(crashSignal);
}

void ApplicationCrashHandler(int signalNumber, siginfo_t *info, void *)
{
    const long self = syscall(SYS_gettid);
    long expected = 0;
    if (!crashingThread.compare_exchange_strong(expected, self)) {
        // The handler itself failed: end at once. Another thread that fails meanwhile
        // waits; the first one ends the process.
        if (expected == self)
            endBySignal(signalNumber);
        for (;;)
            pause();
    }
    writeDumpFile("Pelbrook.dmp", signalNumber, info);
    crashSignal = signalNumber;
    signal(SIGALRM, endStuckCrash);
    alarm(logStepSeconds);
    // Not safe in a signal handler, but the dump is already on disk.
    logCrashLine(QStringLiteral("ApplicationCrashHandler"));
    // The handler was reset to the default action on entry; the signal raised here is
    // delivered when the handler returns and ends the process by the same signal.
    raise(signalNumber);
}

// Notes what ended the program for the dump, then aborts; the SIGABRT handler does
// the rest. Runs for an exception that nothing caught on any thread, and for every
// other call of std::terminate.
[[noreturn]] void terminateHandler()
{
    snprintf(terminateReason, sizeof terminateReason, "std::terminate without an exception");
    if (const std::exception_ptr current = std::current_exception()) {
        const std::type_info *type = abi::__cxa_current_exception_type();
        int status = -1;
        char *demangled = type ? abi::__cxa_demangle(type->name(), nullptr, nullptr, &status) : nullptr;
        const char *typeName = status == 0 && demangled ? demangled : type ? type->name() : "unknown type";
        const char *what = "";
        try {
            std::rethrow_exception(current);
        } catch (const std::exception &exception) {
            what = exception.what();
        } catch (...) {
        }
        snprintf(terminateReason, sizeof terminateReason, "uncaught exception %s: %s", typeName, what);
        free(demangled);
    }
    abort();
}

// Each thread gets its own alternate signal stack for its whole life, so that a stack
// overflow on it still reaches the handler; the guard page below it stops the handler
// from running over other memory.
class ThreadSignalStack
{
public:
    ThreadSignalStack()
    {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        void *memory = mmap(nullptr, alternateStackSize + page, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED)
            return;
        mprotect(memory, page, PROT_NONE);
        stack_t stack;
        stack.ss_sp = static_cast<char *>(memory) + page;
        stack.ss_size = alternateStackSize;
        stack.ss_flags = 0;
        if (sigaltstack(&stack, &previous) != 0) {
            munmap(memory, alternateStackSize + page);
            return;
        }
        mapping = memory;
        mappingSize = alternateStackSize + page;
    }
    ~ThreadSignalStack()
    {
        if (!mapping)
            return;
        // Whatever stack the thread had before (a sanitizer's) is its own to free.
        if (previous.ss_flags & SS_DISABLE) {
            stack_t none;
            memset(&none, 0, sizeof none);
            none.ss_flags = SS_DISABLE;
            sigaltstack(&none, nullptr);
        } else {
            sigaltstack(&previous, nullptr);
        }
        munmap(mapping, mappingSize);
    }
    ThreadSignalStack(const ThreadSignalStack &) = delete;
    ThreadSignalStack &operator=(const ThreadSignalStack &) = delete;

private:
    void *mapping = nullptr;
    size_t mappingSize = 0;
    stack_t previous{};
};

struct ThreadStart
{
    void *(*routine)(void *);
    void *argument;
};

void *startWithSignalStack(void *start)
{
    const ThreadStart copy = *static_cast<ThreadStart *>(start);
    delete static_cast<ThreadStart *>(start);
    // Freed when the routine returns, and also on pthread_exit and cancellation,
    // which unwind this frame.
    const ThreadSignalStack stack;
    return copy.routine(copy.argument);
}

using PthreadCreate = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

} // namespace

// With a sanitizer, its own thread-creation wrapper must still run: it is called
// under this name, where the real function would bypass it.
extern "C" int __interceptor_pthread_create(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *)
    __attribute__((weak));

// Every thread of the process, whoever starts it (QThread, std::thread, Qt's own
// helpers, the reader library), is created through this function, which the
// executable defines in place of the C library's: the new thread runs its routine
// with an alternate signal stack of its own. In place from the process's start, so
// that threads started before installCrashHandler (the display connection's reader,
// which the application object starts) have one too.
extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*routine)(void *),
                              void *argument)
{
    static const PthreadCreate next = __interceptor_pthread_create
        ? __interceptor_pthread_create
        : reinterpret_cast<PthreadCreate>(dlsym(RTLD_NEXT, "pthread_create"));
    ThreadStart *start = new ThreadStart{routine, argument};
    const int result = next(thread, attributes, startWithSignalStack, start);
    if (result != 0)
        delete start;
    return result;
}

void installCrashHandler()
{
    const QByteArray data = QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation));
    if (data.startsWith('/') && size_t(data.size()) < sizeof dataFolder)
        memcpy(dataFolder, data.constData(), size_t(data.size()) + 1);

    // The first backtrace() loads the unwinder, which allocates; do it now, not in the handler.
    void *frame[1];
    backtrace(frame, 1);

    std::set_terminate(terminateHandler);

    stack_t alternateStack;
    alternateStack.ss_sp = alternateStackMemory;
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
