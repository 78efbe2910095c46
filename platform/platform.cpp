#include "platform.h"
#include "privatefolder.h"

#include "fileidentity.h"
#include "folderaccess.h"
#include "logplace.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>

// The calls that are the same on every system; platform_win.cpp and platform_unix.cpp
// hold the others, and platformgui.cpp the few the wizard alone needs.
namespace Platform {

QString readerLibraryBaseName()
{
    return QStringLiteral("Vantoril");
}

ReaderLogPlace readerLogPlace()
{
    const vantoril::LogPlace place = vantoril::findLogPlace();
    return {decodeFileName(QByteArray::fromStdString(place.path)),
            decodeFileName(QByteArray::fromStdString(place.refusal)),
            decodeFileName(QByteArray::fromStdString(place.fallbackPath))};
}

namespace {

// Permission bits lie for root and on some network shares, so try a real file.
QString decideDataFolder()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    QTemporaryFile probe(programFolder + QStringLiteral("/.write-probe-XXXXXX"));
    if (isPrivateFolder(programFolder) && probe.open())
        return programFolder;

    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    // Checked as the cache folder is: a data folder below a folder someone else controls
    // (XDG_DATA_HOME may point anywhere) would let them plant links for the temporary files.
    // One that cannot be made stays the choice, and writing into it fails as it should.
    if (!QDir().mkpath(fallback) || preparePrivateFolder(fallback).isEmpty())
        return fallback;
    // Then a new folder of this process's own, which nobody else can have made.
    QTemporaryDir own(QDir::tempPath() + QLatin1Char('/') + QCoreApplication::applicationName()
                      + QStringLiteral("-XXXXXX"));
    own.setAutoRemove(false);
    return own.isValid() ? own.path() : fallback;
}

// The decision costs a file created and removed, so it is made once and then only
// when a writer reports that the folder failed it; the log asks for it on every line.
QBasicMutex dataFolderMutex;
QString dataFolder;

} // namespace

QString writableDataFolder()
{
    // Without the application object there is no program folder to cache.
    if (!QCoreApplication::instance())
        return decideDataFolder();
    QMutexLocker locker(&dataFolderMutex);
    if (dataFolder.isEmpty())
        dataFolder = decideDataFolder();
    return dataFolder;
}

QString recheckWritableDataFolder()
{
    if (!QCoreApplication::instance())
        return decideDataFolder();
    QMutexLocker locker(&dataFolderMutex);
    dataFolder = decideDataFolder();
    return dataFolder;
}

QString sharedProgramFolderReason()
{
    static const QString reason = QString::fromStdString(
        vantoril::folderRefusal(vantoril::FolderUse::Program,
                                encodeFileName(QDir::toNativeSeparators(QCoreApplication::applicationDirPath())).toStdString()));
    return reason;
}

QString escapedFileName(const QString &name)
{
    QString escaped;
    escaped.reserve(name.size());
    for (int i = 0; i < name.size(); ++i) {
        const ushort unit = name.at(i).unicode();
        const bool lone = unit >= 0xDC80 && unit <= 0xDCFF && !(i > 0 && name.at(i - 1).isHighSurrogate());
        // The backslash too, so that a name holding the text of an escape stays apart.
        if (unit < 0x20 || unit == 0x7F || unit == '\\')
            escaped += QStringLiteral("\\x%1").arg(unit, 2, 16, QLatin1Char('0'));
        else if (lone)
            escaped += QStringLiteral("\\x%1").arg(unit - 0xDC00, 2, 16, QLatin1Char('0'));
        else
            escaped += name.at(i);
    }
    return escaped;
}

} // namespace Platform
