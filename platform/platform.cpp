#include "platform.h"

#include "fileidentity.h"
#include "folderaccess.h"
#include "logplace.h"
#include "windowsentries.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QMutex>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QSysInfo>
#include <QTranslator>

#ifdef PELBROOK_HAS_X11EXTRAS
#include <QX11Info>
#endif

#ifndef Q_OS_WIN
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

ReaderLogPlace readerLogPlace()
{
    const vantoril::LogPlace place = vantoril::findLogPlace();
    return {decodeFileName(QByteArray::fromStdString(place.path)),
            decodeFileName(QByteArray::fromStdString(place.refusal)),
            decodeFileName(QByteArray::fromStdString(place.fallbackPath))};
}

namespace {

#ifdef Q_OS_WIN
// Another user who owns the folder or may write it could plant a link or a file of
// theirs among the log and the temporary files.
bool isPrivateFolder(const QString &folder)
{
    return vantoril::folderRefusal(vantoril::FolderUse::Private, encodeFileName(QDir::toNativeSeparators(folder)).toStdString())
        .empty();
}
#else
// Whether only this user may put anything in a folder. Elsewhere another user could
// plant a link in place of the log or a temporary file before the program writes it.
bool isPrivateFolder(const QString &folder)
{
    struct stat status;
    return ::stat(QFile::encodeName(folder).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
#endif

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

void substituteFonts()
{
#ifdef Q_OS_WIN
    // Windows lists a font under its localized name only on a system of that display
    // language: an English Windows knows the face only as "Microsoft YaHei".
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("Microsoft YaHei"), QStringLiteral("Microsoft YaHei UI")});
#else
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
#endif
}

bool loadQtTranslations()
{
    // Qt's own folder, then the one a Windows deployment puts beside the program.
    const QStringList folders{QLibraryInfo::location(QLibraryInfo::TranslationsPath),
                              QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
    auto *translator = new QTranslator(QCoreApplication::instance());
    for (const QString &folder : folders) {
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder))
            return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    qDebug() << "Platform::loadQtTranslations=missing" << folders;
    return false;
}

bool canShowTranslucentWindows()
{
    const QByteArray forced = qgetenv("PELBROOK_TRANSLUCENT_WINDOWS");
    if (forced == "0")
        return false;
    if (forced == "1")
        return true;
#ifdef PELBROOK_HAS_X11EXTRAS
    // X11 shows a window's alpha only through a compositing manager (the owner of _NET_WM_CM_S<screen>).
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return QX11Info::isCompositingManagerRunning();
#endif
    // Windows and Wayland always compose windows; the offscreen platform keeps the alpha in what it renders.
    return true;
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
#ifdef Q_OS_WIN
    return isWindowsVolumeRoot(path);
#else
    return QDir::cleanPath(path) == QLatin1String("/");
#endif
}

QString absoluteCleanPath(const QString &path)
{
    QString clean = QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath());
#ifdef Q_OS_WIN
    if (clean.size() >= 2 && clean.at(1) == QLatin1Char(':'))
        clean[0] = clean.at(0).toUpper();
#endif
    return clean;
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

#ifdef Q_OS_WIN
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
#else
namespace {

const ushort escapeBase = 0xDC00;

// A lone U+DC80..U+DCFF; the same unit after a high surrogate is half of a real character.
bool isEscapedByte(const QString &text, int i)
{
    const ushort unit = text.at(i).unicode();
    return unit >= escapeBase + 0x80 && unit <= escapeBase + 0xFF && !(i > 0 && text.at(i - 1).isHighSurrogate());
}

bool hasEscapedBytes(const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        if (isEscapedByte(text, i))
            return true;
    }
    return false;
}

// Length of the valid UTF-8 sequence at bytes[i], or 0 when there is none.
int utf8SequenceLength(const QByteArray &bytes, int i)
{
    const auto byte = [&](int at) { return static_cast<unsigned char>(bytes.at(at)); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned minimum = 0;
    unsigned codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2; minimum = 0x80; codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3; minimum = 0x800; codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4; minimum = 0x10000; codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    if (codePoint < minimum || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

QString decodeFileName(const QByteArray &bytes)
{
    QString name;
    name.reserve(bytes.size());
    int i = 0;
    while (i < bytes.size()) {
        const int length = utf8SequenceLength(bytes, i);
        if (length == 0) {
            name.append(QChar(ushort(escapeBase + static_cast<unsigned char>(bytes.at(i)))));
            ++i;
            continue;
        }
        name.append(QString::fromUtf8(bytes.constData() + i, length));
        i += length;
    }
    return name;
}

QByteArray encodeFileName(const QString &path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    int runStart = 0;
    for (int i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !isEscapedByte(path, i))
            continue;
        bytes += path.midRef(runStart, i - runStart).toUtf8();
        if (i < path.size())
            bytes.append(char(path.at(i).unicode() - escapeBase));
        runStart = i + 1;
    }
    return bytes;
}

QString readableFileName(const QString &name)
{
    if (!hasEscapedBytes(name))
        return name;
    QByteArray bytes = encodeFileName(name);
    iconv_t converter = iconv_open("UTF-8", "GBK");
    if (converter != reinterpret_cast<iconv_t>(-1)) {
        // No GBK character takes more than three bytes in UTF-8.
        QByteArray text(bytes.size() * 3, '\0');
        char *in = bytes.data();
        size_t inLeft = size_t(bytes.size());
        char *out = text.data();
        size_t outLeft = size_t(text.size());
        const size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
        iconv_close(converter);
        if (converted != size_t(-1) && inLeft == 0)
            return QString::fromUtf8(text.constData(), text.size() - int(outLeft));
    }
    QString shown = name;
    for (int i = 0; i < shown.size(); ++i) {
        if (isEscapedByte(name, i))
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}

QString canonicalPath(const QString &path)
{
    char *resolved = realpath(encodeFileName(path).constData(), nullptr);
    if (!resolved)
        return QString();
    const QString canonical = decodeFileName(resolved);
    std::free(resolved);
    return canonical;
}

// Reads the folder once with the types the directory itself records, so that only
// links (and entries of unknown type) cost a stat, where QDir builds a QFileInfo for each.
QVector<FolderEntry> listFolder(const QString &path, bool *listed)
{
    QVector<FolderEntry> entries;
    const QString folder = QDir(path).path();
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    DIR *dir = opendir(encodeFileName(folder).constData());
    // A folder that is not there is empty; one that is there but cannot be read is not.
    if (listed)
        *listed = dir != nullptr || errno == ENOENT || errno == ENOTDIR;
    if (!dir)
        return entries;

    struct Found
    {
        QString sortKey;
        FolderEntry entry;
    };
    std::vector<Found> found;
    const int folderFd = dirfd(dir);
    while (const dirent *record = readdir(dir)) {
        const char *name = record->d_name;
        const bool dotOrDotDot = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
        if (name[0] == '.' && !dotOrDotDot)
            continue; // hidden
        bool isDir = record->d_type == DT_DIR;
        bool isSymLink = record->d_type == DT_LNK;
        if (record->d_type == DT_UNKNOWN) {
            struct stat status;
            if (fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            isDir = S_ISDIR(status.st_mode);
            isSymLink = S_ISLNK(status.st_mode);
            if (!isDir && !isSymLink && !S_ISREG(status.st_mode))
                continue; // a system entry
        } else if (!isDir && !isSymLink && record->d_type != DT_REG) {
            continue;
        }
        if (isSymLink) {
            struct stat target;
            if (fstatat(folderFd, name, &target, 0) != 0)
                continue; // a broken link counts as a system entry
            isDir = S_ISDIR(target.st_mode);
        }
        const QString fileName = decodeFileName(name);
        found.push_back({fileName.toLower(), {prefix + fileName, prefix.size(), isDir, isSymLink}});
    }
    closedir(dir);

    // QDir sorts the same list, "." and ".." included, with the same algorithm and
    // comparison, so that even names equal but for case come out in its order.
    std::sort(found.begin(), found.end(),
              [](const Found &a, const Found &b) { return a.sortKey.compare(b.sortKey) < 0; });
    entries.reserve(int(found.size()));
    for (Found &item : found) {
        if (item.sortKey == QLatin1String(".") || item.sortKey == QLatin1String(".."))
            continue;
        entries.append(std::move(item.entry));
    }
    return entries;
}
#endif

} // namespace Platform
