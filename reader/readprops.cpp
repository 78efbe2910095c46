// Prints the six values the program would get for each file, tab-separated,
// one line per file, using the library exactly as the program loads it.
// With --explain, prints below each file's line why its values came out as they
// did: the trust verdict and its reason, the chain, the timestamp, the version
// resource language and table.

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace {

using Pelbrook = int (*)(const char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *, char16_t *);
using Explain = int (*)(const char16_t *, char *, std::size_t);

constexpr int bufferUnits = 260;
constexpr int outputCount = 6;
constexpr std::size_t explanationSize = 64 * 1024;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");

    QStringList files = app.arguments().mid(1);
    const bool explain = !files.isEmpty() && files.first() == QStringLiteral("--explain");
    if (explain)
        files.removeFirst();
    if (files.isEmpty()) {
        err << "usage: readprops [--explain] FILE...\n";
        return 2;
    }
    QLibrary library;
    library.setFileName(QCoreApplication::applicationDirPath() + QStringLiteral("/Vantoril"));
    if (!library.load()) {
        err << "cannot load the library: " << library.errorString() << "\n";
        return 2;
    }
    const auto pelbrook = reinterpret_cast<Pelbrook>(library.resolve("pelbrook"));
    const auto explainer = reinterpret_cast<Explain>(library.resolve("pelbrook_explain"));
    if (!pelbrook || (explain && !explainer)) {
        err << library.errorString() << "\n";
        return 2;
    }
    std::vector<char> explanation(explanationSize, '\0');

    int status = 0;
    std::vector<char16_t> buffers((outputCount + 1) * bufferUnits, u'\0');
    for (const QString &file : files) {
        const QString path = QFileInfo(file).absoluteFilePath();
        if (path.size() >= bufferUnits) {
            err << "path too long: " << path << "\n";
            status = 1;
            continue;
        }
        char16_t *input = buffers.data();
        std::copy(path.utf16(), path.utf16() + path.size() + 1, input);
        char16_t *outputs[outputCount];
        for (int i = 0; i < outputCount; ++i)
            outputs[i] = buffers.data() + (i + 1) * bufferUnits;
        // 4 only withholds the signer: the values were read.
        const int result = pelbrook(input, outputs[0], outputs[1], outputs[2], outputs[3], outputs[4], outputs[5]);
        if (result != 0 && result != 4)
            status = 1;
        QStringList values;
        for (char16_t *output : outputs)
            values << QString::fromUtf16(output);
        out << values.join(QLatin1Char('\t')) << "\n";
        if (explain) {
            explainer(input, explanation.data(), explanation.size());
            out << "  status\t" << result << "\n";
            for (const QString &line : QString::fromUtf8(explanation.data()).split('\n', Qt::SkipEmptyParts))
                out << "  " << line << "\n";
        }
    }
    return status;
}
