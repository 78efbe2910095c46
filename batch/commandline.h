#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// What pelbrook-export was asked to do, read from its arguments.
class CommandLine
{
public:
    // Reads the arguments after the program name. ok() tells whether they made sense;
    // otherwise error() says what was wrong.
    explicit CommandLine(const QStringList &arguments);

    bool ok() const { return errorText.isEmpty() && !helpAsked; }
    bool isHelp() const { return helpAsked; }
    QString error() const { return errorText; }

    QString sourceFolder() const { return source; }
    QString destination() const { return destinationPath; }
    // Library calls at once; at least 1.
    int jobs() const { return jobCount; }
    bool quiet() const { return quietAsked; }
    // --no-cache reads every installer without the cache; --rebuild-cache reads every one and refreshes it.
    bool noCache() const { return noCacheAsked; }
    bool rebuildCache() const { return rebuildCacheAsked; }
    // Where --report writes every installer's outcome as CSV; empty without it.
    QString reportFile() const { return reportPath; }
    // Where --changes writes the rows new, changed or gone since the folder's last export; empty without it.
    QString changesFile() const { return changesPath; }
    // --hashes: the report also gives every installer's SHA-256 and Authenticode SHA-256.
    bool hashes() const { return hashesAsked; }

    static QString usage();

private:
    QString source;
    QString destinationPath;
    int jobCount = 1;
    bool quietAsked = false;
    bool noCacheAsked = false;
    bool rebuildCacheAsked = false;
    QString reportPath;
    QString changesPath;
    bool hashesAsked = false;
    bool helpAsked = false;
    QString errorText;
};

#endif
