#ifndef VANTORIL_LOGPLACE_H
#define VANTORIL_LOGPLACE_H

#include <cstdint>
#include <string>

// Where the library's log file lives. Its usual place, "tarsel" in the shared temporary
// folder, is one that any other user may make first or fill with links. The folder is
// used only when it is a real folder of this user's that nobody else may write, and
// the file only when it is a regular file of this user's with no other name; otherwise
// the log goes to a private folder of the user's own. The program that loads the
// library asks the same rules which file to remove, so both compile this code. Free
// of Qt, like the rest of the library.
namespace vantoril {

struct LogPlace
{
    std::string path;         // the file the next line goes to
    std::string refusal;      // why the usual place was refused; empty when it was not
    std::string fallbackPath; // the file in the user's private folder
};

// Looks at the places and makes nothing.
LogPlace findLogPlace();

// Opens the log file for appending, making a missing folder private to this user:
// in the usual place, or in the private folder when the usual one is refused. A file
// descriptor (a HANDLE on Windows); -1 when no safe file could be opened.
std::intptr_t openLogFile();

} // namespace vantoril

#endif
