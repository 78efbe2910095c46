#include "writetarget.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <windows.h>

namespace Platform {

QString writeRefusal(const QString &path)
{
    // Making a link takes a privilege ordinary users lack, so a link here is someone
    // else's doing as often as not; whose file it leads to is not looked at here.
    const QString native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(native.utf16()));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return QStringLiteral("it is a link");
    return QString();
}

QString writeTarget(const QString &path)
{
    const QFileInfo info(QDir::fromNativeSeparators(path));
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir::cleanPath(folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName());
}

bool isSameWriteTarget(const QString &first, const QString &second)
{
    // Names differing only in case name one file here.
    return writeTarget(first).compare(writeTarget(second), Qt::CaseInsensitive) == 0;
}

bool saveFile(const QString &path, const std::function<bool(QIODevice &)> &write, QString *error)
{
    const QString refusal = writeRefusal(path);
    if (!refusal.isEmpty()) {
        *error = refusal;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    if (!write(file)) {
        *error = file.errorString();
        file.cancelWriting();
        file.commit();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace Platform
