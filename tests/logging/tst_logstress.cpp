#include "helperprocess.h"
#include "loglock.h"

#include <QtTest>

// Three threads of one process and a second process log 100,000 lines each through the
// program's handler into one log folder, which rotates meanwhile:
// every line arrives whole and in order, and only retention ever removes one.
class TestLogStress : public QObject
{
    Q_OBJECT
private slots:
    void linesSurviveRotation();
};

namespace {

const int linesPerWriter = 100000;
const int rotatedFilesKept = 4;
const qint64 rotationSize = 1048576;

QStringList rotatedNames(const QDir &folder)
{
    static const QRegularExpression rotatedName(QStringLiteral("^Pelbrook\\d{14}\\.txt$"));
    return folder.entryList(QDir::Files, QDir::Name).filter(rotatedName);
}

} // namespace

void TestLogStress::linesSurviveRotation()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString writer = copyHelper(QStringLiteral("logwriter"), temp.path());
    QVERIFY(!writer.isEmpty());
    QDir logFolder(temp.filePath(QStringLiteral("log")));
    QVERIFY(logFolder.mkpath(QStringLiteral(".")));
    // Rotated names carry the second, so a fast run may rotate only a few times; older
    // rotated files of an earlier run give retention its work whatever the speed.
    QStringList earlier;
    for (int i = 0; i < rotatedFilesKept; ++i) {
        const QString name = QStringLiteral("Pelbrook200001010000%1.txt").arg(i, 2, 10, QLatin1Char('0'));
        QFile file(logFolder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("earlier run\r\n");
        earlier.append(name);
    }

    QProcess threads;
    QProcess single;
    threads.start(writer, {"debug", "3", QString::number(linesPerWriter), "threads"});
    single.start(writer, {"debug", "1", QString::number(linesPerWriter), "process"});
    QVERIFY(threads.waitForStarted());
    QVERIFY(single.waitForStarted());

    // Looked at under the writers' own lock, so that every look falls between two whole
    // lines. Each rotated file is kept aside as it appears, long before retention deletes
    // it, so that the whole log can be read back at the end.
    const QString keptPath = temp.filePath(QStringLiteral("kept"));
    QVERIFY(QDir().mkpath(keptPath));
    int mostRotated = 0;
    QStringList kept;
    while (threads.state() != QProcess::NotRunning || single.state() != QProcess::NotRunning) {
        {
            const LogLock lock(logFolder.path());
            const QStringList names = rotatedNames(logFolder);
            mostRotated = qMax(mostRotated, names.size());
            for (const QString &name : names) {
                if (kept.contains(name) || earlier.contains(name))
                    continue;
                QVERIFY(QFile::copy(logFolder.filePath(name), keptPath + QLatin1Char('/') + name));
                kept.append(name);
            }
        }
        threads.waitForFinished(5);
        single.waitForFinished(5);
    }
    QCOMPARE(threads.exitStatus(), QProcess::NormalExit);
    QCOMPARE(threads.exitCode(), 0);
    QCOMPARE(single.exitStatus(), QProcess::NormalExit);
    QCOMPARE(single.exitCode(), 0);
    QVERIFY2(mostRotated <= rotatedFilesKept, qPrintable(QString::number(mostRotated)));
    // Retention must have kept the newest files, whichever run made them.
    QVERIFY(!kept.isEmpty());
    std::sort(kept.begin(), kept.end());
    const QStringList every = earlier + kept;
    QCOMPARE(rotatedNames(logFolder), every.mid(every.size() - rotatedFilesKept));

    // The whole log, oldest first: every rotated file in time order, then the live file.
    QStringList paths;
    for (const QString &name : qAsConst(kept))
        paths.append(keptPath + QLatin1Char('/') + name);
    paths.append(logFolder.filePath(QStringLiteral("Pelbrook.txt")));
    const QRegularExpression pattern(QStringLiteral(
        "^Debug: \\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\](threads|process) (\\d) (\\d+) \\(:0, \\)\\r$"));
    QHash<QString, int> nextLine;
    for (const QString &path : qAsConst(paths)) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        if (path != paths.last())
            QVERIFY2(content.size() >= rotationSize, qPrintable(path));
        QVERIFY2(content.endsWith("\r\n"), qPrintable(path));
        for (const QByteArray &line : content.left(content.size() - 1).split('\n')) {
            const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(line));
            QVERIFY2(match.hasMatch(), line.left(200).constData());
            const QString writerName = match.captured(1) + QLatin1Char(' ') + match.captured(2);
            const int number = match.captured(3).toInt();
            QVERIFY2(number == nextLine.value(writerName),
                     qPrintable(QStringLiteral("%1: line %2 where %3 was due").arg(writerName).arg(number)
                                    .arg(nextLine.value(writerName))));
            nextLine[writerName] = number + 1;
        }
    }
    QCOMPARE(nextLine.size(), 4);
    for (auto it = nextLine.cbegin(); it != nextLine.cend(); ++it)
        QVERIFY2(it.value() == linesPerWriter, qPrintable(it.key()));
}

QTEST_GUILESS_MAIN(TestLogStress)
#include "tst_logstress.moc"
