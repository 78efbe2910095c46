#include "csvconversion.h"

#include "platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

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
    // Its arguments come from the wide command line on Windows, so any path survives.
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    err.setCodec("UTF-8");
    char separator = ',';
    int first = 1;
    for (; first < args.size() && args.at(first).startsWith(QLatin1Char('-')); ++first) {
        const QString option = args.at(first);
        if (option == QLatin1String("-t")) {
            separator = '\t';
        } else if (option == QLatin1String("-s") && first + 1 < args.size()) {
            const QByteArray value = args.at(++first).toUtf8();
            // A quote or a line break cannot separate fields, and a byte above ASCII
            // would cut UTF-8 characters apart.
            const unsigned char c = static_cast<unsigned char>(value.isEmpty() ? 0 : value[0]);
            if (value.size() != 1 || c == '"' || c == '\r' || c == '\n' || c >= 0x80) {
                err << Platform::converterFileName() << ": the separator must be one ASCII character, "
                    << "not a quote or a line break\n";
                return 2;
            }
            separator = value[0];
        } else if (option == QLatin1String("-h")) {
            QTextStream out(stdout);
            printUsage(out);
            return 0;
        } else {
            printUsage(err);
            return 2;
        }
    }
    if (first == args.size()) {
        printUsage(err);
        return 2;
    }

    int failures = 0;
    for (int i = first; i < args.size(); ++i) {
        const QString &csvPath = args.at(i);
        QString message;
        if (!convertCsvToXlsx(csvPath, separator, &message)) {
            err << Platform::converterFileName() << ": " << message << '\n';
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
