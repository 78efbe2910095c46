#include "readerlibrary.h"

#include "fileidentity.h"
#include "platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>

#include <atomic>
#include <cstring>

namespace {

// Room for the library's reason: a few notes and a signer's name.
const int reasonBytes = 1024;

// Reads up to the first zero, but never past the buffer, whatever the library left in it.
QString bufferText(const char16_t *buffer)
{
    int length = 0;
    while (length < ReaderLibrary::maxPathUnits && buffer[length] != 0)
        ++length;
    return QString::fromUtf16(buffer, length);
}

// Says once per process where the library's log went instead of its usual place, and why.
void noteReaderLogPlace()
{
    static std::atomic<bool> noted{false};
    const Platform::ReaderLogPlace place = Platform::readerLogPlace();
    if (!place.refusal.isEmpty() && !noted.exchange(true))
        qDebug() << "ReaderLibrary::load=library log moved to" << place.path << "because" << place.refusal;
}

} // namespace

ReaderLibrary::ReaderLibrary() = default;

bool ReaderLibrary::load()
{
    library.setFileName(QCoreApplication::applicationDirPath() + QLatin1Char('/') + Platform::readerLibraryBaseName());
    if (!library.load()) {
        qDebug() << "Load DLL Fail" << library.errorString();
        return false;
    }
    qDebug() << "lib load success";
    noteReaderLogPlace();
    pelbrook = reinterpret_cast<PelbrookFunction>(library.resolve("pelbrook"));
    if (!pelbrook) {
        qDebug() << library.errorString();
        return false;
    }
    qDebug() << "function success";
    // Optional: a library without it cannot be interrupted inside a call.
    pelbrookCancel = reinterpret_cast<CancelFunction>(library.resolve("pelbrook_cancel"));
    // Optional too: without them the answers cannot be kept between runs.
    pelbrookRead = reinterpret_cast<ReadFunction>(library.resolve("pelbrook_read"));
    pelbrookReadOpened = reinterpret_cast<ReadOpenedFunction>(library.resolve("pelbrook_read_opened"));
    pelbrookBuildId = reinterpret_cast<TextFunction>(library.resolve("pelbrook_build_id"));
    pelbrookAnchorsFingerprint = reinterpret_cast<TextFunction>(library.resolve("pelbrook_anchors_fingerprint"));
    // Optional: an older library tells neither the installer's kind nor the SHA-256 hashes.
    pelbrookReadMore = reinterpret_cast<ReadMoreFunction>(library.resolve("pelbrook_read_more"));
    return true;
}

QString ReaderLibrary::fileName() const
{
    return library.fileName();
}

ReaderLibrary::Result ReaderLibrary::read(const QString &path) const
{
    Result result;
    if (!pelbrook || path.size() >= maxPathUnits) {
        result.status = PathRefused;
        return result;
    }
    // Buffers of each call's own, cleared for every file: a library that leaves an
    // output alone must not hand on the previous file's value, and calls may overlap.
    char16_t input[maxPathUnits] = {};
    char16_t outputs[6][maxPathUnits] = {};
    std::memcpy(input, path.utf16(), sizeof(char16_t) * path.size());
    // The file is opened here and handed over, so that its identity is that of the very
    // file the library read: a name can be pointed elsewhere between two opens.
    const qintptr handle =
        pelbrookReadMore || pelbrookReadOpened ? Platform::openForReading(path, &result.identity) : -1;
    if (pelbrookReadMore || handle != -1 || pelbrookRead) {
        char reason[reasonBytes] = {};
        long long validFrom = 0;
        long long validUntil = 0;
        if (pelbrookReadMore) {
            // Handle -1 (the file could not be opened here) has the library open it by its path.
            char sha256[65] = {};
            char authenticodeSha256[65] = {};
            int kind = -1;
            result.status = pelbrookReadMore(handle, input, outputs[0], outputs[1], outputs[2], outputs[3],
                                             outputs[4], outputs[5], reason, sizeof reason, &validFrom,
                                             &validUntil, hashes ? 1u : 0u, &kind, sha256, authenticodeSha256);
            sha256[sizeof sha256 - 1] = 0;
            authenticodeSha256[sizeof authenticodeSha256 - 1] = 0;
            result.installerKind = kind;
            result.sha256 = QString::fromLatin1(sha256);
            result.authenticodeSha256 = QString::fromLatin1(authenticodeSha256);
        } else if (handle != -1) {
            result.status = pelbrookReadOpened(handle, input, outputs[0], outputs[1], outputs[2], outputs[3],
                                               outputs[4], outputs[5], reason, sizeof reason, &validFrom,
                                               &validUntil);
        } else {
            result.status = pelbrookRead(input, outputs[0], outputs[1], outputs[2], outputs[3], outputs[4],
                                         outputs[5], reason, sizeof reason, &validFrom, &validUntil);
        }
        if (handle != -1) {
            result.changedWhileRead = Platform::openedFileIdentity(handle) != result.identity;
            Platform::closeOpened(handle);
        }
        reason[sizeof reason - 1] = 0;
        result.reason = QString::fromUtf8(reason);
        result.validFrom = validFrom;
        result.validUntil = validUntil;
    } else {
        result.status = pelbrook(input, outputs[0], outputs[1], outputs[2], outputs[3], outputs[4], outputs[5]);
    }
    result.values.qStrDigitalSign = bufferText(outputs[0]);
    result.values.qProductName = bufferText(outputs[1]);
    result.values.qProcessName = bufferText(outputs[2]);
    result.values.qOriginalFileName = bufferText(outputs[3]);
    result.values.qFileCustomMd5 = bufferText(outputs[4]);
    result.values.qFileDescription = bufferText(outputs[5]);
    return result;
}

void ReaderLibrary::setHashes(bool on)
{
    hashes = on;
}

bool ReaderLibrary::readsMore() const
{
    return pelbrookReadMore != nullptr;
}

QString ReaderLibrary::installerKindName(int kind)
{
    switch (kind) {
    case OtherKind:
        return QStringLiteral("other");
    case MsiKind:
        return QStringLiteral("MSI");
    case NsisKind:
        return QStringLiteral("NSIS");
    case InnoSetupKind:
        return QStringLiteral("Inno Setup");
    case WixBundleKind:
        return QStringLiteral("WiX bundle");
    case InstallShieldKind:
        return QStringLiteral("InstallShield");
    case SquirrelKind:
        return QStringLiteral("Squirrel");
    case SelfExtractingKind:
        return QStringLiteral("self-extracting archive");
    default:
        return kind < 0 ? QString() : QStringLiteral("other");
    }
}

void ReaderLibrary::cancel() const
{
    if (pelbrookCancel)
        pelbrookCancel();
}

bool ReaderLibrary::canCancel() const
{
    return pelbrookCancel != nullptr;
}

namespace {

QString libraryText(int (*function)(char *, size_t))
{
    char text[256] = {};
    if (!function || function(text, sizeof text) != 1)
        return QString();
    text[sizeof text - 1] = 0;
    return QString::fromUtf8(text);
}

} // namespace

QString ReaderLibrary::buildId() const
{
    const QString reported = libraryText(pelbrookBuildId);
    if (!reported.isEmpty())
        return reported;
    const QFileInfo file(library.fileName());
    return QStringLiteral("file %1 %2").arg(file.size()).arg(file.lastModified().toMSecsSinceEpoch());
}

QString ReaderLibrary::anchorsFingerprint() const
{
    return libraryText(pelbrookAnchorsFingerprint);
}

bool ReaderLibrary::isUnreadable(int status)
{
    return status == NotReadable || status == PathRefused || status == InternalError;
}
