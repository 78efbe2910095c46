#ifndef HELPERPROCESS_H
#define HELPERPROCESS_H

#include <QCoreApplication>
#include <QFile>
#include <QString>

// Copies a helper built beside the test into a folder of its own: the log folder is
// the executable's folder, so every copy writes its own log.
inline QString copyHelper(const QString &name, const QString &folder)
{
    const QString source = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    const QString target = folder + QLatin1Char('/') + name;
    if (!QFile::copy(source, target))
        return QString();
    return target;
}

inline QByteArray readLog(const QString &folder)
{
    QFile file(folder + QStringLiteral("/log/Pelbrook.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#endif
