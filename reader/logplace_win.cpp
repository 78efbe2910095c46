#include "logplace.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace vantoril {

namespace {

const wchar_t usualFolder[] = L"c:\\windows\\temp\\tarsel";
const wchar_t fileName[] = L"Vantoril.log";

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

// The user's own temporary folder, which the system makes for this user alone.
std::wstring privateFolder()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return {};
    return std::wstring(buffer, length) + L"tarsel";
}

// One piece of the process token: the user, or the owner it gives new objects (the
// administrators' group for an elevated administrator).
std::vector<BYTE> tokenSid(TOKEN_INFORMATION_CLASS kind)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> information(size);
    if (size == 0 || !GetTokenInformation(token, kind, information.data(), size, &size))
        information.clear();
    CloseHandle(token);
    return information;
}

PSID userSid(std::vector<BYTE> &user)
{
    return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
}

PSID ownerSid(std::vector<BYTE> &owner)
{
    return owner.empty() ? nullptr : reinterpret_cast<TOKEN_OWNER *>(owner.data())->Owner;
}

// Why an object opened with READ_CONTROL may not hold the log: owned by someone else,
// or open to writing by anyone but this user, the system and the administrators.
std::string securityRefusal(HANDLE handle)
{
    PSID owner = nullptr;
    PACL access = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &access, nullptr, &descriptor) != ERROR_SUCCESS)
        return "cannot be checked";
    std::vector<BYTE> userInformation = tokenSid(TokenUser);
    std::vector<BYTE> ownerInformation = tokenSid(TokenOwner);
    const PSID user = userSid(userInformation);
    const PSID defaultOwner = ownerSid(ownerInformation);
    const auto isOurs = [&](PSID sid) {
        return (user && EqualSid(sid, user)) || (defaultOwner && EqualSid(sid, defaultOwner))
            || IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)
            || IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
    };
    const DWORD writing = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER
        | GENERIC_WRITE | GENERIC_ALL;
    std::string refusal;
    if (!user || !defaultOwner) {
        refusal = "cannot be checked";
    } else if (!owner || !isOurs(owner)) {
        refusal = "belongs to another user";
    } else if (!access) {
        refusal = "may be written by others"; // no list at all lets everyone in
    } else {
        for (DWORD i = 0; i < access->AceCount && refusal.empty(); ++i) {
            void *entry = nullptr;
            if (!GetAce(access, i, &entry))
                continue;
            const auto *header = static_cast<const ACE_HEADER *>(entry);
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
                continue;
            auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
            if ((allowed->Mask & writing) && !isOurs(reinterpret_cast<PSID>(&allowed->SidStart)))
                refusal = "may be written by others";
        }
    }
    LocalFree(descriptor);
    return refusal;
}

// Why an opened folder or file may not hold the log; empty when it may. Opened with
// FILE_FLAG_OPEN_REPARSE_POINT, a junction or link shows as itself here.
std::string refusalOf(HANDLE handle, bool folder)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information))
        return "cannot be checked";
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "is a link";
    if (folder != ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
        return folder ? "is not a folder" : "is not a regular file";
    if (!folder && information.nNumberOfLinks != 1)
        return "has another name";
    return securityRefusal(handle);
}

// Not shared for deletion: the folder cannot be renamed or replaced while it is used.
HANDLE openFolder(const std::wstring &folder)
{
    return CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Made for this user (and the system) alone: c:\windows\temp hands its users' right to
// write down to new folders.
void makePrivateFolder(const std::wstring &folder)
{
    std::vector<BYTE> userInformation = tokenSid(TokenUser);
    const PSID user = userSid(userInformation);
    wchar_t *userText = nullptr;
    if (!user || !ConvertSidToStringSidW(user, &userText))
        return;
    const std::wstring rules = L"D:P(A;OICI;FA;;;" + std::wstring(userText) + L")(A;OICI;FA;;;SY)";
    LocalFree(userText);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    CreateDirectoryW(folder.c_str(), &attributes);
    LocalFree(descriptor);
}

HANDLE openIn(const std::wstring &folder, bool &refused)
{
    refused = false;
    HANDLE directory = openFolder(folder);
    if (directory == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        makePrivateFolder(folder);
        directory = openFolder(folder);
    }
    if (directory == INVALID_HANDLE_VALUE) {
        // Another user's private folder: it exists and will never do.
        refused = GetLastError() == ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    if (!refusalOf(directory, true).empty()) {
        refused = true;
        CloseHandle(directory);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW((folder + L"\\" + fileName).c_str(), FILE_APPEND_DATA | READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    CloseHandle(directory);
    if (file != INVALID_HANDLE_VALUE && !refusalOf(file, false).empty()) {
        refused = true;
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Why a place that exists may not hold the log, looking only; empty when it may.
std::string placeRefusal(const std::wstring &folder)
{
    HANDLE directory = openFolder(folder);
    if (directory == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED ? utf8(folder) + " cannot be opened" : std::string();
    std::string refusal = refusalOf(directory, true);
    if (!refusal.empty()) {
        CloseHandle(directory);
        return utf8(folder) + " " + refusal;
    }
    const std::wstring file = folder + L"\\" + fileName;
    HANDLE existing = CreateFileW(file.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    CloseHandle(directory);
    if (existing == INVALID_HANDLE_VALUE)
        return {};
    refusal = refusalOf(existing, false);
    CloseHandle(existing);
    return refusal.empty() ? refusal : utf8(file) + " " + refusal;
}

} // namespace

LogPlace findLogPlace()
{
    const std::wstring fallbackFolder = privateFolder();
    LogPlace place;
    place.fallbackPath = fallbackFolder.empty() ? std::string() : utf8(fallbackFolder + L"\\" + fileName);
    place.refusal = placeRefusal(usualFolder);
    place.path = place.refusal.empty() ? utf8(std::wstring(usualFolder) + L"\\" + fileName) : place.fallbackPath;
    return place;
}

std::intptr_t openLogFile()
{
    bool refused = false;
    HANDLE file = openIn(usualFolder, refused);
    if (file == INVALID_HANDLE_VALUE && refused) {
        const std::wstring fallbackFolder = privateFolder();
        if (!fallbackFolder.empty())
            file = openIn(fallbackFolder, refused);
    }
    return reinterpret_cast<std::intptr_t>(file);
}

} // namespace vantoril
