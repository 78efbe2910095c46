#ifndef WRITETARGET_H
#define WRITETARGET_H

#include <QString>

#include <functional>

class QIODevice;

// Files the export writes where the user says (the workbook, the report, the list of
// changes): written only by the user they belong to, never through someone else's link.
namespace Platform {

// Why this user must not write a file at path, in English for the log; empty when it
// may. Refused: a link another user made (in a folder others may write, such as /tmp,
// anyone can plant one), a link to another user's file, and another user's file in a
// folder others may write.
QString writeRefusal(const QString &path);

// The file that writing path would replace: links of the path resolved, ".", ".."
// and doubled separators gone. Two paths name the same file when these are equal.
QString writeTarget(const QString &path);
bool isSameWriteTarget(const QString &first, const QString &second);

// Writes a whole new file in path's place through a new file beside it, swapped in
// only when write returned true; the old file stays until then. Checks writeRefusal
// again first, and a link planted after that check is replaced, never followed.
// error receives why it failed.
bool saveFile(const QString &path, const std::function<bool(QIODevice &)> &write, QString *error);

} // namespace Platform

#endif
