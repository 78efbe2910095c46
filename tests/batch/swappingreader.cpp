// A reader library that does, inside each call, what whoever may write the source folder
// can do while a file is read: with SWAP_WITH set it puts that folder in the place of the
// file's folder for the read and the real one back after it (the file itself is not
// touched, so its change time stays); with GROW_WHILE_READ set it appends to the file. Its MD5 is that of the bytes it read, through the caller's descriptor where
// it is handed one, else through the path, as the real library reads.
#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <unistd.h>

namespace {

void put(char16_t *buffer, const QString &value)
{
    std::memcpy(buffer, value.utf16(), sizeof(char16_t) * (value.size() + 1));
}

QByteArray readAll(int fd)
{
    QByteArray content;
    char block[4096];
    off_t offset = 0;
    ssize_t got;
    while ((got = ::pread(fd, block, sizeof block, offset)) > 0) {
        content.append(block, int(got));
        offset += got;
    }
    return content;
}

int answer(std::intptr_t handle, const char16_t *path, char16_t *const outputs[6])
{
    const QString file = QString::fromUtf16(path);
    const QByteArray folder = QFile::encodeName(file.left(file.lastIndexOf(QLatin1Char('/'))));
    const QByteArray standIn = qgetenv("SWAP_WITH");
    const QByteArray away = folder + ".away";
    if (!standIn.isEmpty()) {
        ::rename(folder.constData(), away.constData());
        ::rename(standIn.constData(), folder.constData());
    }
    if (qEnvironmentVariableIsSet("GROW_WHILE_READ")) {
        QFile grown(file);
        if (grown.open(QIODevice::Append))
            grown.write("grown");
    }
    QByteArray content;
    if (handle != -1) {
        content = readAll(int(handle));
    } else {
        QFile read(file);
        if (read.open(QIODevice::ReadOnly))
            content = read.readAll();
    }
    if (!standIn.isEmpty()) {
        ::rename(folder.constData(), standIn.constData());
        ::rename(away.constData(), folder.constData());
    }
    for (int i = 0; i < 6; ++i)
        outputs[i][0] = u'\0';
    put(outputs[0], QStringLiteral("Signer"));
    put(outputs[1], QStringLiteral("Product"));
    put(outputs[2], file.mid(file.lastIndexOf(QLatin1Char('/')) + 1));
    put(outputs[4], QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));
    return 0;
}

void writeText(char *text, std::size_t capacity, const char *value)
{
    std::strncpy(text, value, capacity - 1);
    text[capacity - 1] = 0;
}

} // namespace

extern "C" Q_DECL_EXPORT int pelbrook(const char16_t *path, char16_t *signature, char16_t *productName,
                                      char16_t *processName, char16_t *originalFileName, char16_t *md5,
                                      char16_t *description)
{
    char16_t *const outputs[] = {signature, productName, processName, originalFileName, md5, description};
    return answer(-1, path, outputs);
}

extern "C" Q_DECL_EXPORT int pelbrook_read(const char16_t *path, char16_t *signature, char16_t *productName,
                                           char16_t *processName, char16_t *originalFileName, char16_t *md5,
                                           char16_t *description, char *reason, std::size_t reasonCapacity,
                                           long long *validFrom, long long *validUntil)
{
    char16_t *const outputs[] = {signature, productName, processName, originalFileName, md5, description};
    writeText(reason, reasonCapacity, "read");
    *validFrom = 0;
    *validUntil = 1LL << 40;
    return answer(-1, path, outputs);
}

extern "C" Q_DECL_EXPORT int pelbrook_read_opened(std::intptr_t handle, const char16_t *path, char16_t *signature,
                                                  char16_t *productName, char16_t *processName,
                                                  char16_t *originalFileName, char16_t *md5, char16_t *description,
                                                  char *reason, std::size_t reasonCapacity, long long *validFrom,
                                                  long long *validUntil)
{
    char16_t *const outputs[] = {signature, productName, processName, originalFileName, md5, description};
    writeText(reason, reasonCapacity, "read");
    *validFrom = 0;
    *validUntil = 1LL << 40;
    return answer(handle, path, outputs);
}

extern "C" Q_DECL_EXPORT int pelbrook_build_id(char *id, std::size_t capacity)
{
    writeText(id, capacity, "swapping reader");
    return 1;
}

extern "C" Q_DECL_EXPORT int pelbrook_anchors_fingerprint(char *text, std::size_t capacity)
{
    writeText(text, capacity, "no anchors");
    return 1;
}
