#ifndef EXPORTCHECKS_H
#define EXPORTCHECKS_H

#include "exportoutcome.h"

#include <QString>

// What would otherwise fail only after every installer was read, checked before an
// export reads the first one; both front ends ask the same questions and get the same
// answers. Each returns a Failure that has not failed when all is well.
class ExportChecks
{
public:
    // The folder to export exists and is a folder.
    static ExportOutcome::Failure source(const QString &folder);
    // The converter lies beside the program and may be run.
    static ExportOutcome::Failure converter();
    // The workbook may be written at path: not another user's link or file, not a
    // folder, not a read-only file, in a folder that takes a new file.
    static ExportOutcome::Failure destination(const QString &path);
    // A new file can be made in folder (one is made and removed again).
    static bool canCreateFileIn(const QString &folder);
};

#endif
