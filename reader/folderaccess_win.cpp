#include "folderaccess.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace vantoril {

namespace {

std::wstring wide(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(size_t(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &text[0], size);
    return text;
}

std::vector<BYTE> tokenInformation(TOKEN_INFORMATION_CLASS kind)
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

// Groups that stand for many users: never one of "us", even as a folder's owner. (Wine
// gives a file of another Unix user the anonymous logon as owner, so that one is left to
// the owner's rule: as an entry of anyone but the owner it counts as another user's.)
bool isBroadGroup(PSID sid)
{
    const WELL_KNOWN_SID_TYPE groups[] = {WinWorldSid,         WinAuthenticatedUserSid, WinBuiltinUsersSid,
                                          WinInteractiveSid,   WinNetworkSid,           WinBuiltinGuestsSid,
                                          WinLocalSid,         WinBatchSid};
    for (WELL_KNOWN_SID_TYPE group : groups) {
        if (IsWellKnownSid(sid, group))
            return true;
    }
    return false;
}

// The SIDs an entry is judged against, taken once per folder.
struct Parties
{
    PSID owner = nullptr;
    PSID user = nullptr;
    PSID defaultOwner = nullptr;
    PSID trustedInstaller = nullptr;
};

Trustee classify(PSID sid, const Parties &parties)
{
    if (!IsValidSid(sid) || isBroadGroup(sid))
        return Trustee::Other;
    if (IsWellKnownSid(sid, WinCreatorOwnerRightsSid) || IsWellKnownSid(sid, WinCreatorOwnerSid)
        || (parties.owner && EqualSid(sid, parties.owner)))
        return Trustee::Owner;
    if ((parties.user && EqualSid(sid, parties.user)) || (parties.defaultOwner && EqualSid(sid, parties.defaultOwner)))
        return Trustee::CurrentUser;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        return Trustee::Administrators;
    if (IsWellKnownSid(sid, WinLocalSystemSid))
        return Trustee::System;
    if (parties.trustedInstaller && EqualSid(sid, parties.trustedInstaller))
        return Trustee::TrustedInstaller;
    return Trustee::Other;
}

// Every entry of the list, inherited ones included, in the form the decision takes.
std::vector<AccessEntry> entriesOf(PACL list, const Parties &parties)
{
    std::vector<AccessEntry> entries;
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(list, i, &ace))
            continue;
        const auto *header = static_cast<const ACE_HEADER *>(ace);
        AccessEntry entry;
        // Every kind of entry keeps its mask right after the header.
        entry.mask = *reinterpret_cast<const ACCESS_MASK *>(static_cast<const BYTE *>(ace) + sizeof(ACE_HEADER));
        entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        entry.trustee = Trustee::Other;
        switch (header->AceType) {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
            entry.allows = true;
            entry.trustee = classify(reinterpret_cast<PSID>(&static_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart), parties);
            break;
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            // Not used on files; whoever it names counts as someone else.
            entry.allows = true;
            break;
        default:
            entry.allows = false;
            break;
        }
        entries.push_back(entry);
    }
    return entries;
}

} // namespace

std::string folderRefusal(FolderUse use, const std::string &path)
{
    std::wstring name = wide(path);
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (name.empty()
        || GetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 &owner, nullptr, &list, nullptr, &descriptor)
            != ERROR_SUCCESS)
        return "cannot be checked";
    std::vector<BYTE> user = tokenInformation(TokenUser);
    std::vector<BYTE> defaultOwner = tokenInformation(TokenOwner);
    PSID trustedInstaller = nullptr;
    ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &trustedInstaller);
    Parties parties;
    parties.user = user.empty() ? nullptr : reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
    parties.defaultOwner = defaultOwner.empty() ? nullptr : reinterpret_cast<TOKEN_OWNER *>(defaultOwner.data())->Owner;
    parties.trustedInstaller = trustedInstaller;
    // Who the owner is, before the owner's own entries are told apart from the others'.
    const Trustee ownerTrustee = owner ? classify(owner, parties) : Trustee::Other;
    parties.owner = owner && IsValidSid(owner) && !isBroadGroup(owner) ? owner : nullptr;
    const std::string refusal =
        folderRefusal(use, ownerTrustee, list != nullptr, list ? entriesOf(list, parties) : std::vector<AccessEntry>());
    LocalFree(trustedInstaller);
    LocalFree(descriptor);
    return refusal;
}

} // namespace vantoril
