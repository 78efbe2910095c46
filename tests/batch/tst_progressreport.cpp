// How pelbrook-export redraws its progress line: with the escape code that clears the
// rest of the line where the terminal takes it, and where it does not (a Windows console
// without virtual-terminal processing shows it as "←[K") by covering the rest with spaces.
#include "progressreport.h"

#include <QtTest>

class TestProgressReport : public QObject
{
    Q_OBJECT
private slots:
    void lineRewrite_data();
    void lineRewrite();
};

void TestProgressReport::lineRewrite_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("escapes");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("written");
    QTest::newRow("escapes") << "[##..] 1/2" << true << 20 << "\r\x1b[K[##..] 1/2";
    QTest::newRow("escapes, clearing") << "" << true << 20 << "\r\x1b[K";
    QTest::newRow("spaces up to the column before the edge") << "[##..] 1/2" << false << 20
                                                             << "\r[##..] 1/2" + QString(9, ' ');
    // Two columns for each Chinese character, so that the spaces end where the line does.
    QTest::newRow("spaces after wide characters") << "正在写出表格" << false << 20 << "\r正在写出表格" + QString(7, ' ');
    QTest::newRow("a full line, no spaces") << QString(19, 'x') << false << 20 << "\r" + QString(19, 'x');
    QTest::newRow("clearing, back at the start") << "" << false << 20 << "\r" + QString(19, ' ') + "\r";
}

void TestProgressReport::lineRewrite()
{
    QFETCH(QString, line);
    QFETCH(bool, escapes);
    QFETCH(int, columns);
    QFETCH(QString, written);
    const QString rewrite = ProgressReport::lineRewrite(line, escapes, columns);
    QCOMPARE(rewrite, written);
    if (!escapes)
        QVERIFY(!rewrite.contains(QChar(0x1b)));
}

QTEST_GUILESS_MAIN(TestProgressReport)
#include "tst_progressreport.moc"
