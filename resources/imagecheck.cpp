// Checks a Windows program folder at build time: every picture compiled into the
// program decodes, every frame of it, with only the image plugins deployed beside this
// program (Qt reads GIF, ICO and JPEG only through plugins). Prints one line per
// failure and a summary; exits 1 when anything failed.
#include <QCoreApplication>
#include <QDirIterator>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The deployed folder alone: no plugin of the build machine's Qt may stand in.
    QCoreApplication::setLibraryPaths({QCoreApplication::applicationDirPath()});
    QTextStream out(stdout);
    const QSet<QString> pictureSuffixes = {QStringLiteral("png"), QStringLiteral("gif"), QStringLiteral("jpg"),
                                           QStringLiteral("jpeg"), QStringLiteral("ico"), QStringLiteral("bmp"),
                                           QStringLiteral("svg")};
    // An animation that claims more frames than this is broken.
    const int frameLimit = 10000;
    int pictures = 0;
    int frames = 0;
    int failures = 0;
    QDirIterator it(QStringLiteral(":/"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!pictureSuffixes.contains(it.fileInfo().suffix().toLower()))
            continue;
        ++pictures;
        QImageReader reader(path);
        // An animation must decode to its last frame, not stop on a bad one.
        const int expected = reader.supportsAnimation() ? qBound(1, reader.imageCount(), frameLimit) : 1;
        int read = 0;
        while (read < expected && !reader.read().isNull())
            ++read;
        if (read < expected) {
            out << "imagecheck: " << path << " does not decode (" << read << " of " << expected
                << " frames): " << reader.errorString() << '\n';
            ++failures;
        }
        frames += read;
    }
    out << "imagecheck: " << pictures << " pictures, " << frames << " frames decoded, " << failures << " failed\n";
    return failures == 0 && pictures > 0 ? 0 : 1;
}
