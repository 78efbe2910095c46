#include "platform.h"
#include "privatefolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

// The platform layer's calls as Linux and the other Unix systems make them.
namespace Platform {

QString converterFileName()
{
    return QStringLiteral("xlsxio_csv2xlsx");
}

bool isPrivateFolder(const QString &folder)
{
    struct stat status;
    return ::stat(QFile::encodeName(folder).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool isWindowsXp()
{
    return false;
}

bool isFilesystemRoot(const QString &path)
{
    return QDir::cleanPath(path) == QLatin1String("/");
}

QString absoluteCleanPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath());
}

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

} // namespace Platform
