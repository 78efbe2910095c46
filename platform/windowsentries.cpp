#include "windowsentries.h"

#include <QDir>

namespace Platform {

WindowsEntryKind windowsEntryKind(quint32 attributes, quint32 reparseTag)
{
    const bool directory = attributes & windowsAttributeDirectory;
    const bool link = (attributes & windowsAttributeReparsePoint) && (reparseTag & windowsReparseTagNameSurrogate);
    return {directory, link};
}

bool isWindowsVolumeRoot(const QString &path)
{
    // Either separator, on every system: the decision is tested outside Windows too.
    QString clean = path;
    clean.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (clean.startsWith(QLatin1String("//"))) {
        // \\server\share: exactly two names below the double separator.
        clean = clean.mid(2);
        if (clean.endsWith(QLatin1Char('/')))
            clean.chop(1);
        const QStringList parts = clean.split(QLatin1Char('/'));
        return parts.size() == 2 && !parts.at(0).isEmpty() && !parts.at(1).isEmpty() && parts.at(0) != QLatin1String("?")
            && parts.at(0) != QLatin1String(".");
    }
    clean = QDir::cleanPath(clean);
    return clean.size() >= 2 && clean.size() <= 3 && clean.at(0).isLetter() && clean.at(1) == QLatin1Char(':')
        && (clean.size() == 2 || clean.at(2) == QLatin1Char('/'));
}

} // namespace Platform
