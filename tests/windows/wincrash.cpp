// Installs the program's log and crash handlers as the program does, then fails as
// the argument says: "null" writes through a null pointer, "abort" calls abort(),
// "overflow" recurses until the stack runs out.
#include "crashhandler.h"
#include "loghandler.h"

#include <QCoreApplication>
#include <QDebug>

#include <cstdlib>

namespace {

volatile int recursionEnd = -1;

int recurse(int depth)
{
    volatile char frame[1024];
    frame[0] = char(depth);
    if (depth == recursionEnd)
        return 0;
    return recurse(depth + 1) + frame[0];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(logMessageHandler);
    installCrashHandler();
    qDebug() << "crash test started";
    const QString mode = app.arguments().value(1);
    if (mode == QLatin1String("null")) {
        volatile int *volatile target = nullptr;
        *target = 1;
    } else if (mode == QLatin1String("abort")) {
        std::abort();
    } else if (mode == QLatin1String("overflow")) {
        return recurse(0);
    }
    return 0;
}
