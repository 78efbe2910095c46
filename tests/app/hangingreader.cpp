// A reader library whose call never returns and that offers no way to cut it short,
// as an older library stuck in a read from a dead network mount would be. A file whose
// name holds "quick" is answered at once with empty values; one that holds "crash"
// crashes the call.
#include <QFile>
#include <QString>

#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

extern "C" Q_DECL_EXPORT int pelbrook(const char16_t *path, char16_t *signature, char16_t *productName,
                                      char16_t *processName, char16_t *originalFileName, char16_t *md5,
                                      char16_t *description)
{
    const QString name = QString::fromUtf16(path);
    if (name.contains(QLatin1String("crash")))
        abort();
    if (name.contains(QLatin1String("quick"))) {
        for (char16_t *output : {signature, productName, processName, originalFileName, md5, description})
            output[0] = u'\0';
        return 0;
    }
    // Held open, so that whoever watches sees the read has begun.
    ::open(QFile::encodeName(QString::fromUtf16(path)).constData(), O_RDONLY | O_CLOEXEC);
    for (;;)
        ::pause();
}
