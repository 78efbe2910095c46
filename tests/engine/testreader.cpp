// Stand-in property reader with the real entry point: the MD5 is the file's real digest;
// the other values come from "key=value" lines in the file (sign, product, process,
// original, description), so tests choose them.
#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QString>

#include <cstring>

namespace {

const int bufferUnits = 260;

void put(char16_t *buffer, const QString &text)
{
    const int length = qMin(text.size(), bufferUnits - 1);
    std::memcpy(buffer, text.utf16(), sizeof(char16_t) * length);
    buffer[length] = 0;
}

} // namespace

extern "C" Q_DECL_EXPORT int pelbrook(const char16_t *path, char16_t *sign, char16_t *product, char16_t *process,
                                      char16_t *original, char16_t *md5, char16_t *description)
{
    QFile file(QString::fromUtf16(path));
    QByteArray content;
    if (file.open(QIODevice::ReadOnly))
        content = file.readAll();
    QHash<QString, QString> values;
    for (const QByteArray &line : content.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)).replace("\\n", "\n"));
    }
    put(sign, values.value(QStringLiteral("sign")));
    put(product, values.value(QStringLiteral("product")));
    put(process, values.value(QStringLiteral("process")));
    put(original, values.value(QStringLiteral("original")));
    put(md5, file.isOpen() ? QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()) : QString());
    put(description, values.value(QStringLiteral("description")));
    return 0;
}
