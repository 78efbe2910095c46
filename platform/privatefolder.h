#ifndef PRIVATEFOLDER_H
#define PRIVATEFOLDER_H

#include <QString>

namespace Platform {

// Whether only this user (on Windows: this user, the administrators and the system) may
// put anything in the folder. Otherwise another user could plant a link in place of the
// log or a temporary file before the program writes it. Each system has its own source.
bool isPrivateFolder(const QString &folder);

} // namespace Platform

#endif
