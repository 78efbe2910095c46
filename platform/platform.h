#ifndef PLATFORM_H
#define PLATFORM_H

#include <QString>
#include <QVector>

// Every difference between Windows and the other systems lives here, so that
// nothing else in the program tests the operating system.
namespace Platform {

// Base name of the property-reader library; QLibrary adds the system's prefix and suffix.
QString readerLibraryBaseName();

// File name of the CSV-to-XLSX converter in the program folder.
QString converterFileName();

// Where the property-reader library keeps its log, by the library's own rules: its
// usual place in the shared temporary folder while that is safe, else a private
// folder of this user's. The program removes both files at normal exit.
struct ReaderLogPlace
{
    QString path;         // the file the library writes its next line to
    QString refusal;      // why the usual place was refused; empty when it was not
    QString fallbackPath; // the file in the private folder
};
ReaderLogPlace readerLogPlace();

// The program folder when files can be created in it and nobody else may write it (on
// Windows: nobody but its owner, this user, the administrators and the system), otherwise
// a per-user data folder (created on demand). Holds the log folder and the temporary export files.
// Decided on the first call and kept.
QString writableDataFolder();

// Decides again, for a writer that could not create its file in the folder given
// before (the program folder may have become read-only). Returns the new choice.
QString recheckWritableDataFolder();

// Why users besides the program folder's owner, this user, the administrators and the
// system may write the program folder; empty when they may not. They could replace its
// libraries, so the program keeps no data there and the reader library leaves the
// `trust` folder beside it unused: the front ends say so. Decided on the first call.
QString sharedProgramFolderReason();

// Maps the design's Windows font family onto the CJK font installed here, so
// Latin and Chinese glyphs come from one face; on Windows onto the same face's English
// name, the only one a Windows of another display language lists. Call once the
// application exists.
void substituteFonts();

// Installs Qt's own Simplified Chinese texts (the file dialogs, their questions and
// buttons) whatever the system's language, since the wizard speaks only Chinese.
// Call once the application exists. False when the translation is not installed.
bool loadQtTranslations();

// Whether the window system shows the transparent parts of a window as transparent: on
// X11 only while a compositing manager runs. Asked anew each time, since one can start
// or stop at any moment. PELBROOK_TRANSLUCENT_WINDOWS=0 or =1 overrides the answer.
bool canShowTranslucentWindows();

// True only on Windows XP, where the GUI needs software OpenGL.
bool isWindowsXp();

// True for a filesystem root ("/" here, a drive root "X:/" on Windows).
bool isFilesystemRoot(const QString &path);

// File names whose bytes are not UTF-8 (archives made on Chinese Windows keep their
// GBK names) travel as text with each byte that does not decode, 0xXY, as the lone
// surrogate U+DCXY; the reader library turns those back into the same bytes.
// decodeFileName and encodeFileName are exact inverses for any name the system gives.
QString decodeFileName(const QByteArray &bytes);
// The bytes the system names the file with; the UTF-8 of the path on Windows.
QByteArray encodeFileName(const QString &path);
// A name to show: one with undecodable bytes as GBK where those bytes are GBK,
// else with U+FFFD for each such byte. Other names are returned as they are.
QString readableFileName(const QString &name);
// The path with every link resolved, in the same form; empty when it does not exist.
QString canonicalPath(const QString &path);

// One entry of a folder listing.
struct FolderEntry
{
    QString filePath; // the folder's path as QDir gives it, a "/" and the name
    int nameStart;    // where the name begins in filePath
    bool isDir;       // also for a link to a folder
    bool isSymLink;
};

// A folder's entries exactly as QDir lists them by default (files and folders, no
// hidden and no system entries, sorted by name ignoring case), without "." and "..".
// Faster than QDir where the system allows: a scan lists hundreds of thousands.
// listed, when given, turns false when the folder is there but could not be read.
QVector<FolderEntry> listFolder(const QString &path, bool *listed = nullptr);

// The folder as an absolute path without ".", ".." or doubled separators, "/" between
// names and, on Windows, the drive letter as the system spells it (upper case), as the
// folder dialog gives it: folder ids are made from it and must not depend on how it was typed.
QString absoluteCleanPath(const QString &path);

// A name to print on a line of its own or in a report: control characters, "\\" and bytes
// that are not UTF-8 as \xNN, so that no name can forge a line and two names that
// differ stay apart.
QString escapedFileName(const QString &name);

} // namespace Platform

#endif
