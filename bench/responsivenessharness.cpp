// The real program (controller, window, workers, library, converter) exporting FOLDER to
// DESTINATION while a 10 ms timer on the GUI thread measures how late it fires. The same
// timer runs first for IDLE seconds with nothing to do, as the reference.
// Prints "idle ..." and "busy ..." lines with lateness percentiles in milliseconds.
#include "framemain.h"
#include "messagecatcher.h"
#include "producemain.h"
#include "threadscanfile.h"
#include "threadsoftwareinfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int intervalMs = 10;

struct LatenessProbe
{
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    std::vector<double> lateness;

    LatenessProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            lateness.push_back(std::max(0.0, (now - last) / 1e6 - intervalMs));
            last = now;
        });
    }
    void start()
    {
        lateness.clear();
        clock.start();
        last = 0;
        timer.start();
    }
    void print(const char *phase)
    {
        timer.stop();
        std::vector<double> sorted = lateness;
        std::sort(sorted.begin(), sorted.end());
        auto at = [&](double q) {
            return sorted.empty() ? 0.0 : sorted[std::min(sorted.size() - 1, std::size_t(q * sorted.size()))];
        };
        std::printf("%s samples=%zu p50_ms=%.2f p99_ms=%.2f max_ms=%.2f\n", phase, sorted.size(), at(0.5),
                    at(0.99), sorted.empty() ? 0.0 : sorted.back());
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: bench_responsiveness FOLDER DESTINATION.xlsx [IDLE_SECONDS]\n");
        return 2;
    }
    const QString folder = arguments.at(1);
    const QString destination = arguments.at(2);
    const int idleSeconds = arguments.value(3, QStringLiteral("3")).toInt();

    auto *controller = new ProduceMain(nullptr);
    FrameMain *window = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *frame = qobject_cast<FrameMain *>(widget))
            window = frame;
    auto *scanner = controller->findChild<ThreadScanFile *>();
    auto *worker = controller->findChild<ThreadSoftwareInfo *>();
    if (!window || !scanner || !worker) {
        std::fprintf(stderr, "the program's objects were not found\n");
        return 1;
    }
    MessageCatcher catcher([](const QString &text) { std::fprintf(stderr, "message: %s\n", text.toUtf8().constData()); });
    LatenessProbe probe;

    QObject::connect(scanner, &QThread::finished, window, [&] {
        probe.start();
        emit window->signal_export_software(folder, destination);
    });
    QObject::connect(worker, &QThread::finished, window, [&] {
        probe.print("busy");
        window->close();
    });
    controller->showMainWindow();
    probe.start();
    QTimer::singleShot(idleSeconds * 1000, window, [&] {
        probe.print("idle");
        emit window->signal_scanPath(folder);
    });
    const int code = app.exec();
    controller->stopWorkers();
    delete controller;
    return code;
}
