// The library called from several threads at once, as pelbrook-export --jobs does:
// every result must equal the one-at-a-time result, and the log must hold every call's
// line whole. A process of its own, so that the very first calls are the concurrent
// ones: the compound-file library sets itself up on first use.

#include <QtTest>

#include <QDirIterator>
#include <QLibrary>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using Pelbrook = int (*)(const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *);

constexpr int bufferUnits = 260;
constexpr int threadCount = 8;

QStringList call(Pelbrook pelbrook, const QString &path)
{
    std::vector<char16_t> buffers(7 * bufferUnits, u'\0');
    std::copy(path.utf16(), path.utf16() + path.size(), buffers.data());
    char16_t *out[6];
    for (int i = 0; i < 6; ++i)
        out[i] = buffers.data() + (i + 1) * bufferUnits;
    const int status = pelbrook(buffers.data(), out[0], out[1], out[2], out[3], out[4], out[5]);
    QStringList values{QString::number(status)};
    for (char16_t *output : out)
        values << QString::fromUtf16(output);
    return values;
}

} // namespace

class TestPelbrookThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void concurrentCallsMatchOneAtATime();

private:
    QTemporaryDir fixtures;
    QTemporaryDir logTemp;
    QStringList files;
};

void TestPelbrookThreads::initTestCase()
{
    QVERIFY(fixtures.isValid() && logTemp.isValid());
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {qEnvironmentVariable("PELBROOK_SOURCE_DIR")
                                              + QStringLiteral("/tests/fixtures/make-fixtures.sh"),
                                          fixtures.path()});
    QVERIFY(script.waitForFinished(120000));
    QVERIFY2(script.exitCode() == 0, script.readAll().constData());
    qputenv("TMPDIR", logTemp.path().toUtf8());

    // Databases first, so that every thread's first call is an installer database.
    QStringList msi, exe;
    QDirIterator it(fixtures.path(), {QStringLiteral("*.msi"), QStringLiteral("*.exe")}, QDir::Files);
    while (it.hasNext()) {
        const QString path = it.next();
        (path.endsWith(QLatin1String(".msi")) ? msi : exe).append(path);
    }
    msi.sort();
    exe.sort();
    QVERIFY(msi.size() >= 4 && exe.size() >= 10);
    files = msi + exe;
}

void TestPelbrookThreads::concurrentCallsMatchOneAtATime()
{
    QLibrary library(QCoreApplication::applicationDirPath() + QStringLiteral("/Vantoril"));
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    const auto pelbrook = reinterpret_cast<Pelbrook>(library.resolve("pelbrook"));
    QVERIFY(pelbrook);

    // All threads are released at once; each walks the whole list from its own start.
    std::vector<std::vector<QStringList>> results(threadCount);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (!go.load())
                std::this_thread::yield();
            std::vector<QStringList> &mine = results[size_t(t)];
            mine.resize(size_t(files.size()));
            for (int k = 0; k < files.size(); ++k) {
                const int i = (k + t) % files.size();
                mine[size_t(i)] = call(pelbrook, files.at(i));
            }
        });
    }
    while (ready.load() < threadCount)
        std::this_thread::yield();
    go = true;
    for (std::thread &thread : threads)
        thread.join();

    for (int i = 0; i < files.size(); ++i) {
        const QStringList alone = call(pelbrook, files.at(i));
        for (int t = 0; t < threadCount; ++t)
            QVERIFY2(results[size_t(t)][size_t(i)] == alone,
                     qPrintable(QFileInfo(files.at(i)).fileName() + QStringLiteral(" thread ") + QString::number(t)
                                + QStringLiteral(": ") + results[size_t(t)][size_t(i)].join(QLatin1Char('|'))
                                + QStringLiteral(" alone: ") + alone.join(QLatin1Char('|'))));
    }
    // Sanity: the set holds readable installers, signed ones and database values.
    int read = 0;
    for (int i = 0; i < files.size(); ++i)
        read += results[0][size_t(i)].at(0) == QLatin1String("0") ? 1 : 0;
    QVERIFY(read >= files.size() / 2);

    QFile log(logTemp.path() + QStringLiteral("/tarsel/Vantoril.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QCOMPARE(lines.size(), (threadCount + 1) * files.size() + 1);
    QVERIFY(lines.last().isEmpty());
    const QRegularExpression whole(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\t/[^\\t]*\\t[^\\t]+$"));
    for (int i = 0; i + 1 < lines.size(); ++i)
        QVERIFY2(whole.match(QString::fromUtf8(lines.at(i))).hasMatch(), lines.at(i).constData());
}

QTEST_GUILESS_MAIN(TestPelbrookThreads)
#include "tst_pelbrookthreads.moc"
