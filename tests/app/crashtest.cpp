// Installs the program's log and crash handlers the way main does, then fails as the
// argument says: null write on the GUI thread or on a worker thread, stack overflow on
// either or on a thread started before the handlers, division by zero, illegal
// instruction, bus error, abort(), an exception that a worker does not catch, a fault
// inside the logger, or a worker's fault while the GUI thread logs without pause.
#include "crashhandler.h"
#include "loghandler.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTemporaryFile>
#include <QTextCodec>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/mman.h>
#include <thread>

namespace {

volatile int recursionEnd = -1;
std::atomic<bool> overflowNow{false};
volatile int zero = 0;
volatile int one = 1;

void writeNull()
{
    volatile int *volatile target = nullptr;
    *target = 1;
}

int recurse(int depth)
{
    volatile char frame[1024];
    frame[0] = char(depth);
    if (depth == recursionEnd)
        return 0;
    return recurse(depth + 1) + frame[0];
}

void busError()
{
    QTemporaryFile empty;
    empty.open();
    volatile char *mapped = static_cast<volatile char *>(
        mmap(nullptr, 4096, PROT_READ, MAP_SHARED, int(empty.handle()), 0));
    qDebug() << "crashtest=read" << mapped[0];
}

// The logger's text conversion, which faults on one text: the fault then comes inside
// the logger for certain, while this thread holds the log's lock.
class FaultingCodec : public QTextCodec
{
public:
    QByteArray name() const override { return "crashtest-faulting"; }
    int mibEnum() const override { return 3999; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *) const override
    {
        return QString::fromUtf8(in, length);
    }
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *) const override
    {
        const QString text(in, length);
        if (text.contains(QLatin1String("crashtest=fault")))
            writeNull();
        return text.toUtf8();
    }
};

void faultInsideTheLogger()
{
    QTextCodec::setCodecForLocale(new FaultingCodec);
    qDebug() << "crashtest=fault";
}

// The fault comes while the GUI thread is most likely writing a line, holding the lock.
void workerFaultWhileLogging()
{
    std::thread faulty([] {
        QThread::msleep(50);
        writeNull();
    });
    faulty.detach();
    for (;;)
        qDebug() << "crashtest=busy";
}

} // namespace

int main(int argc, char *argv[])
{
    // Far longer than the crash handler lets its log step take, so a crash line comes
    // only from the path each case is about.
    setCrashLogLockWait(600000);
    // Started before everything else, as the application object starts the display
    // connection's reader thread before the handlers are installed.
    if (argc == 2 && std::strcmp(argv[1], "earlyoverflow") == 0) {
        std::thread([] {
            while (!overflowNow)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            qDebug() << recurse(0);
        }).detach();
    }
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(logMessageHandler);
    installCrashHandler();
    if (argc != 2)
        return 2;
    const QByteArray mode = argv[1];
    qDebug() << "crashtest=start" << mode.constData();

    QThread *worker = QThread::create(writeNull);
    QThread *overflowingWorker = QThread::create([] { qDebug() << recurse(0); });
    QThread *throwingWorker = QThread::create([] { throw std::runtime_error("crashtest exception"); });
    QTimer::singleShot(0, &app, [&] {
        if (mode == "gui")
            writeNull();
        else if (mode == "worker")
            worker->start();
        else if (mode == "overflow")
            qDebug() << recurse(0);
        else if (mode == "workeroverflow")
            overflowingWorker->start();
        else if (mode == "earlyoverflow")
            overflowNow = true;
        else if (mode == "abort")
            abort();
        else if (mode == "throw")
            throwingWorker->start();
        else if (mode == "divide")
            qDebug() << one / zero;
        else if (mode == "illegal")
            __builtin_trap();
        else if (mode == "bus")
            busError();
        else if (mode == "busylog")
            faultInsideTheLogger();
        else if (mode == "workerbusylog")
            workerFaultWhileLogging();
        else
            app.exit(2);
    });
    return app.exec();
}
