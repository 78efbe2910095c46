#ifndef VANTORIL_FOLDERACCESS_H
#define VANTORIL_FOLDERACCESS_H

#include <cstdint>
#include <string>
#include <vector>

// Whether anyone but a folder's owner, this user, the administrators and the system may
// put files into it. A program folder that others may write can have its libraries
// replaced and roots planted in its `trust` folder, so neither the library's anchors nor
// the program's data use it. The program that loads the library asks the same rules,
// so both compile this code. Free of Qt, like the rest of the library.
namespace vantoril {

// Whom an entry of a Windows access list names, as far as writing goes.
enum class Trustee
{
    Owner,            // the folder's owner (when it is not one of the others below), or
                      // OWNER RIGHTS / CREATOR OWNER standing for it
    CurrentUser,      // the user running this process, or the owner its token gives new objects
    Administrators,   // BUILTIN\Administrators
    System,           // LOCAL SYSTEM
    TrustedInstaller, // the service that owns the system's own files
    Other             // anyone else: another user, Users, Authenticated Users, Everyone
};

// One entry of an access list, as the folder's security descriptor holds it.
struct AccessEntry
{
    bool allows;           // an access-allowed entry; a deny entry takes nothing away here
    bool inheritOnly;      // only handed down to new children, no rights on the folder itself
    std::uint32_t mask;    // the access mask, generic rights not yet mapped
    Trustee trustee;
};

// Rights on a folder that let a holder add, replace or remove what is in it, or give
// themselves that right (Windows' values, so that the decision can be tested anywhere).
constexpr std::uint32_t folderWriteRights = 0x00000002   // FILE_ADD_FILE
                                          | 0x00000004   // FILE_ADD_SUBDIRECTORY
                                          | 0x00000040   // FILE_DELETE_CHILD
                                          | 0x00010000   // DELETE
                                          | 0x00040000   // WRITE_DAC
                                          | 0x00080000   // WRITE_OWNER
                                          | 0x10000000   // GENERIC_ALL
                                          | 0x40000000;  // GENERIC_WRITE

// What a folder is checked for.
enum class FolderUse
{
    Program, // holds the program: whoever owns it may, like the administrators, write it
    Private  // holds this user's own files: it must also belong to this user (or to the
             // administrators or the system, who may write anything anyway)
};

// Why a folder with this owner and access list may not serve the use; empty when it may.
// Without an access list at all everyone has every right. Deny entries are ignored, so
// that a list is judged by what it hands out: the answer may only err towards refusing.
std::string folderRefusal(FolderUse use, Trustee owner, bool hasAccessList, const std::vector<AccessEntry> &entries);

// The same for the folder at path (UTF-8 on Windows), by the system's own rules: its
// owner and access list on Windows, its owner and mode bits elsewhere. A folder that
// cannot be checked is refused.
std::string folderRefusal(FolderUse use, const std::string &path);

} // namespace vantoril

#endif
