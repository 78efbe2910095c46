// A reader library whose call never returns and that offers no way to cut it short,
// as an older library stuck in a read from a dead network mount would be.
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

extern "C" Q_DECL_EXPORT int pelbrook(const char16_t *path, char16_t *, char16_t *, char16_t *, char16_t *,
                                      char16_t *, char16_t *)
{
    // Held open, so that whoever watches sees the read has begun.
    ::open(QFile::encodeName(QString::fromUtf16(path)).constData(), O_RDONLY | O_CLOEXEC);
    for (;;)
        ::pause();
}
