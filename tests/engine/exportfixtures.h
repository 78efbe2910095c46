#ifndef EXPORTFIXTURES_H
#define EXPORTFIXTURES_H

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

// The console's import header, as the workbook must show it.
inline QStringList headerTexts()
{
    return {QStringLiteral("软件分组名称（非必填）"), QStringLiteral("软件分组类型（非必填）"),
            QStringLiteral("软件分组描述(非必填）"), QStringLiteral("软件名称（必填）"),
            QStringLiteral("软件描述(非必填）"), QStringLiteral("厂商数字签名(非必填)"),
            QStringLiteral("厂商数字签名标志(必填)"), QStringLiteral("产品名称(非必填)"),
            QStringLiteral("产品名称标志(必填)"), QStringLiteral("进程名(非必填)"),
            QStringLiteral("进程名标志(必填)"), QStringLiteral("原始文件名(非必填)"),
            QStringLiteral("原始文件名标志(必填)"), QStringLiteral("文件特征码MD5(非必填)"),
            QStringLiteral("文件特征码MD5标志(必填)"), QStringLiteral("是否为文件夹(必填)"),
            QStringLiteral("所在文件夹标识(非必填，绿色软件时需填写)"),
            QStringLiteral("文件夹标识(非必填，绿色软件时需填写)"),
            QStringLiteral("黑名单厂商数字签名标志(必填)"), QStringLiteral("黑名单产品名称标志(必填)"),
            QStringLiteral("黑名单进程名标志(必填)"), QStringLiteral("黑名单原始文件名标志(必填)"),
            QStringLiteral("黑名单文件特征码MD5标志(必填)")};
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The signed fixtures chain to a test root made with them, and the library trusts the
// roots in the `trust` folder beside the program: for a test, beside the test binary.
// Each process adds its root under a name of its own and removes it when it ends.
inline bool trustFixtureRoot(const QString &folder)
{
    struct Installed
    {
        QString path;
        ~Installed()
        {
            if (!path.isEmpty())
                QFile::remove(path);
        }
    };
    static Installed installed;
    const QString trust = QCoreApplication::applicationDirPath() + QStringLiteral("/trust");
    installed.path = trust + QStringLiteral("/fixtures-%1.pem").arg(QCoreApplication::applicationPid());
    QFile::remove(installed.path);
    return QDir().mkpath(trust) && QFile::copy(folder + QStringLiteral("/trust/root.pem"), installed.path);
}

// Builds the installer fixtures with the real tools into folder.
inline bool makeFixtures(const QString &folder)
{
    QProcess script;
    script.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    script.start(QStringLiteral("bash"),
                 {qEnvironmentVariable("PELBROOK_SOURCE_DIR") + QStringLiteral("/tests/engine/make-export-fixtures.sh"),
                  folder});
    return script.waitForFinished(120000) && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0
        && trustFixtureRoot(folder);
}

// Copies a fixture to path, creating its folder.
inline bool copyFixture(const QString &fixtures, const QString &name, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    return QFile::copy(fixtures + QLatin1Char('/') + name, path);
}

inline QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline QString md5Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

// Whether the message dialog showed exactly expected, give or take the "\r\n" its wrapping
// adds: each "\r\n" of expected must be there, and every other character, in order.
inline bool isWrappedFrom(const QString &shown, const QString &expected)
{
    const QLatin1String lineBreak("\r\n");
    int i = 0;
    int j = 0;
    while (i < shown.size() || j < expected.size()) {
        if (expected.midRef(j, 2) == lineBreak) {
            if (shown.midRef(i, 2) != lineBreak)
                return false;
            i += 2;
            j += 2;
        } else if (shown.midRef(i, 2) == lineBreak) {
            i += 2;
        } else if (i < shown.size() && j < expected.size() && shown.at(i) == expected.at(j)) {
            ++i;
            ++j;
        } else {
            return false;
        }
    }
    return true;
}

// The export's temporary files and run folders left in a folder.
inline QStringList temporaryFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("temp.csv*"), QStringLiteral("export-*")},
                                  QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
}

// The CSV of an export running from a data folder, in the run's own folder; empty while there is none.
inline QString runningExportCsv(const QString &folder)
{
    for (const QString &run : QDir(folder).entryList({QStringLiteral("export-*")}, QDir::Dirs | QDir::Hidden)) {
        const QString csv = folder + QStringLiteral("/") + run + QStringLiteral("/temp.csv");
        if (QFile::exists(csv))
            return csv;
    }
    return QString();
}

#endif
