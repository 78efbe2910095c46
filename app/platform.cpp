#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QSysInfo>

namespace Platform {

QString readerLibraryBaseName()
{
    return QStringLiteral("Vantoril");
}

QString converterFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("xlsxio_csv2xlsx.exe");
#else
    return QStringLiteral("xlsxio_csv2xlsx");
#endif
}

QString readerLogPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\windows\\temp\\tarsel\\Vantoril.log");
#else
    return QDir::tempPath() + QStringLiteral("/tarsel/Vantoril.log");
#endif
}

QString writableDataFolder()
{
    // Permission bits lie for root and on some network shares, so try a real file.
    const QString programFolder = QCoreApplication::applicationDirPath();
    QTemporaryFile probe(programFolder + QStringLiteral("/.write-probe-XXXXXX"));
    if (probe.open())
        return programFolder;

    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(fallback);
    return fallback;
}

void substituteFonts()
{
#ifndef Q_OS_WIN
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
#endif
}

bool isWindowsXp()
{
#ifdef Q_OS_WIN
    return QSysInfo::windowsVersion() == QSysInfo::WV_XP;
#else
    return false;
#endif
}

bool isFilesystemRoot(const QString &path)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
#ifdef Q_OS_WIN
    return clean.size() <= 3 && clean.size() >= 2 && clean.at(1) == QLatin1Char(':');
#else
    return clean == QLatin1String("/");
#endif
}

} // namespace Platform
