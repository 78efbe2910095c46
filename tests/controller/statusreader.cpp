// A reader library that answers from the file name, so every status of the entry point
// can be exercised: a name ending in "-s<N>.exe" gets status N, any other status 0. A
// read file gets a product name, an MD5 and (unless its signature is not trusted) a
// signer; an unreadable one only its process name, as the real library does.
#include <QCryptographicHash>
#include <QRegularExpression>
#include <QString>

#include <cstring>

namespace {

void put(char16_t *buffer, const QString &value)
{
    std::memcpy(buffer, value.utf16(), sizeof(char16_t) * (value.size() + 1));
}

} // namespace

extern "C" Q_DECL_EXPORT int pelbrook(const char16_t *path, char16_t *signature, char16_t *productName,
                                      char16_t *processName, char16_t *originalFileName, char16_t *md5,
                                      char16_t *description)
{
    const QString file = QString::fromUtf16(path);
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("-s(\\d)\\.exe$")).match(file);
    const int status = match.hasMatch() ? match.captured(1).toInt() : 0;
    for (char16_t *output : {signature, productName, processName, originalFileName, md5, description})
        output[0] = u'\0';
    put(processName, file.mid(file.lastIndexOf(QLatin1Char('/')) + 1));
    if (status != 0 && status != 4)
        return status;
    put(productName, QStringLiteral("Product"));
    put(md5, QString::fromLatin1(QCryptographicHash::hash(file.toUtf8(), QCryptographicHash::Md5).toHex()));
    if (status == 0)
        put(signature, QStringLiteral("Signer"));
    return status;
}
