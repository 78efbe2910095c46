#include "platform.h"
#include "privatefolder.h"

#include "folderaccess.h"
#include "windowsentries.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

// The platform layer's calls as Windows makes them.
namespace Platform {

QString converterFileName()
{
    return QStringLiteral("xlsxio_csv2xlsx.exe");
}

// Another user who owns the folder or may write it could plant a link or a file of
// theirs among the log and the temporary files.
bool isPrivateFolder(const QString &folder)
{
    return vantoril::folderRefusal(vantoril::FolderUse::Private, encodeFileName(QDir::toNativeSeparators(folder)).toStdString())
        .empty();
}

bool isWindowsXp()
{
    return QSysInfo::windowsVersion() == QSysInfo::WV_XP;
}

bool isFilesystemRoot(const QString &path)
{
    return isWindowsVolumeRoot(path);
}

QString absoluteCleanPath(const QString &path)
{
    QString clean = QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath());
    // The drive letter as the system spells it, whatever was typed.
    if (clean.size() >= 2 && clean.at(1) == QLatin1Char(':'))
        clean[0] = clean.at(0).toUpper();
    return clean;
}

// Names are UTF-16 here: nothing is ever undecodable.
QString decodeFileName(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

QByteArray encodeFileName(const QString &path)
{
    return path.toUtf8();
}

QString readableFileName(const QString &name)
{
    return name;
}

QString canonicalPath(const QString &path)
{
    // Qt resolves symbolic links and shortcuts but not junctions; the system resolves every link.
    return windowsFinalPath(path);
}

QVector<FolderEntry> listFolder(const QString &path, bool *listed)
{
    QVector<FolderEntry> entries;
    const QDir folder(path);
    if (listed)
        *listed = !folder.exists() || folder.isReadable();
    for (const QFileInfo &info : folder.entryInfoList()) {
        const QString name = info.fileName();
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        // Qt takes a shortcut for a link to its target and a junction for a plain folder;
        // the entry's own record decides instead. A plain file needs no second look.
        WindowsEntryKind kind{info.isDir(), info.isSymLink()};
        if (kind.isDir || kind.isSymLink) {
            quint32 attributes = 0;
            quint32 reparseTag = 0;
            if (!readWindowsEntry(info.filePath(), attributes, reparseTag))
                continue;
            kind = windowsEntryKind(attributes, reparseTag);
        }
        entries.append({info.filePath(), info.filePath().size() - name.size(), kind.isDir, kind.isSymLink});
    }
    return entries;
}

} // namespace Platform
