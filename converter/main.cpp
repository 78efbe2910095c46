#include "csvconversion.h"

#include "platform.h"

#include <QFile>
#include <QTextStream>

#include <cstring>

namespace {

void printUsage(QTextStream &out)
{
    out << "Usage: " << Platform::converterFileName() << " [-s separator] [-t] csvfile ...\n"
        << "Writes csvfile.xlsx beside each CSV file (UTF-8), every field as a text cell.\n"
        << "  -s separator  field separator, one character (default: ,)\n"
        << "  -t            tab-separated (same as -s with a tab)\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QTextStream err(stderr);
    char separator = ',';
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        const char *option = argv[first];
        if (std::strcmp(option, "-t") == 0) {
            separator = '\t';
        } else if (std::strcmp(option, "-s") == 0 && first + 1 < argc) {
            const char *value = argv[++first];
            // A quote or a line break cannot separate fields, and a byte above ASCII
            // would cut UTF-8 characters apart.
            const unsigned char c = static_cast<unsigned char>(value[0]);
            if (std::strlen(value) != 1 || c == '"' || c == '\r' || c == '\n' || c >= 0x80) {
                err << Platform::converterFileName() << ": the separator must be one ASCII character, "
                    << "not a quote or a line break\n";
                return 2;
            }
            separator = value[0];
        } else if (std::strcmp(option, "-h") == 0) {
            QTextStream out(stdout);
            printUsage(out);
            return 0;
        } else {
            printUsage(err);
            return 2;
        }
    }
    if (first == argc) {
        printUsage(err);
        return 2;
    }

    int failures = 0;
    for (int i = first; i < argc; ++i) {
        const QString csvPath = QFile::decodeName(argv[i]);
        QString message;
        if (!convertCsvToXlsx(csvPath, separator, &message)) {
            err << Platform::converterFileName() << ": " << message << '\n';
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
