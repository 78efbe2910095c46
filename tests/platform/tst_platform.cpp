#include "platform.h"

#include <QtTest>

class TestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void filesystemRoot_data();
    void filesystemRoot();
};

void TestPlatform::filesystemRoot_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("root");
    QTest::newRow("root") << "/" << true;
    QTest::newRow("root doubled") << "//" << true;
    QTest::newRow("root dot") << "/." << true;
    QTest::newRow("folder") << "/tmp" << false;
    QTest::newRow("folder with slash") << "/tmp/" << false;
    QTest::newRow("empty") << "" << false;
}

void TestPlatform::filesystemRoot()
{
    QFETCH(QString, path);
    QFETCH(bool, root);
    QCOMPARE(Platform::isFilesystemRoot(path), root);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
