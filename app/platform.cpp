#include "platform.h"

#include <QDir>
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
