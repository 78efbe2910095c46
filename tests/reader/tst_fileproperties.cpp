// Any file, before its format matters: what cannot be opened (a folder, a missing file,
// a pipe that would block) and files cut short at any point.

#include "readertest.h"

#include <QCryptographicHash>

#include <sys/stat.h>

using namespace readertest;

class TestFileProperties : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unreadableInputs_data();
    void unreadableInputs();
    void truncatedFiles_data();
    void truncatedFiles();

private:
    Reading reading;
};

void TestFileProperties::initTestCase()
{
    QVERIFY2(fixturesMade(), "no fixtures: run through ctest, whose reader_fixtures step makes them");
    QVERIFY(reading.init());
}

void TestFileProperties::unreadableInputs_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << "folder";
    QTest::newRow("missing") << "missing";
    QTest::newRow("pipe") << "pipe";
}

void TestFileProperties::unreadableInputs()
{
    QFETCH(QString, kind);
    QString path;
    if (kind == "folder") {
        path = fixture("folder.exe");
    } else if (kind == "missing") {
        path = reading.scratchPath("missing.exe");
    } else {
        path = reading.scratchPath("pipe.exe");
        QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    }
    // A pipe with no writer would block a plain open; the call must come back.
    const Values values = reading.read(path);
    QVERIFY(values.result != 0);
    QCOMPARE(values.md5, QString());
    QCOMPARE(values.signature, QString());
    QCOMPARE(values.processName, QFileInfo(path).fileName());
}

void TestFileProperties::truncatedFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("fraction");
    for (const char *file : {"signed-sha256.exe", "signed.msi"}) {
        for (double fraction : {0.0, 0.002, 0.01, 0.05, 0.5, 0.9, 0.999}) {
            QTest::addRow("%s at %g", file, fraction) << QString::fromLatin1(file) << fraction;
        }
    }
}

void TestFileProperties::truncatedFiles()
{
    QFETCH(QString, file);
    QFETCH(double, fraction);

    QFile original(fixture(file));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray whole = original.readAll();
    const QByteArray part = whole.left(int(whole.size() * fraction));
    const Values values = reading.read(reading.writeFile("cut-" + file, part));
    QCOMPARE(values.result, 0);
    QCOMPARE(values.signature, QString());
    QCOMPARE(values.md5, QString(QCryptographicHash::hash(part, QCryptographicHash::Md5).toHex()));
}

QTEST_GUILESS_MAIN(TestFileProperties)
#include "tst_fileproperties.moc"
