#include "win/Security.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

PfnSetSecurityInfo g_pfnSetSecurityInfo = &::SetSecurityInfo;

namespace
{
// Full control for SYSTEM and the administrators, for the folder and what it
// holds; the owner is the administrators; nothing is inherited from above.
constexpr wchar_t kAdministratorsOnly[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Rights that change a folder or file, what it holds, or who may.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                        FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL | MAXIMUM_ALLOWED;

// The SID of the user this process runs as, in its text form; empty when
// it cannot be read.
std::wstring UserSid()
{
    CHandle hToken;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, hToken.Put()))
        return std::wstring();
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD cb = 0;
    CLocalMemory<LPWSTR> pszSid;
    if (!::GetTokenInformation(hToken.Get(), TokenUser, buffer, sizeof(buffer), &cb) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, pszSid.Put()))
        return std::wstring();
    return pszSid.Get();
}

bool IsAdministratorsOrSystem(PSID pSid)
{
    return pSid && (::IsWellKnownSid(pSid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(pSid, WinLocalSystemSid));
}

// Turns the privilege on in this process's token; false when the token does
// not hold it.
bool EnablePrivilege(const wchar_t* pszPrivilege)
{
    CHandle hToken;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, hToken.Put()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return ::LookupPrivilegeValueW(nullptr, pszPrivilege, &privileges.Privileges[0].Luid) &&
           ::AdjustTokenPrivileges(hToken.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
           ::GetLastError() == ERROR_SUCCESS;
}
}

CLocalMemory<PSECURITY_DESCRIPTOR> MakeAdministratorsOnlySecurity(bool bUserReads)
{
    std::wstring strSddl = kAdministratorsOnly;
    if (bUserReads)
    {
        const std::wstring strUser = UserSid();
        if (strUser.empty())
            return CLocalMemory<PSECURITY_DESCRIPTOR>();
        strSddl += L"(A;OICI;FR;;;" + strUser + L")";
    }
    CLocalMemory<PSECURITY_DESCRIPTOR> pSecurity;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(strSddl.c_str(), SDDL_REVISION_1, pSecurity.Put(), nullptr);
    return pSecurity;
}

bool EnableOwnershipPrivileges()
{
    static const bool bEnabled = EnablePrivilege(SE_TAKE_OWNERSHIP_NAME) && EnablePrivilege(SE_RESTORE_NAME);
    return bEnabled;
}

DWORD GiveToAdministrators(HANDLE h)
{
    const CLocalMemory<PSECURITY_DESCRIPTOR> pSecurity = MakeAdministratorsOnlySecurity(false);
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    BOOL bDefaulted = FALSE, bPresent = FALSE;
    if (!pSecurity.IsValid() || !::GetSecurityDescriptorOwner(pSecurity.Get(), &pOwner, &bDefaulted) ||
        !::GetSecurityDescriptorDacl(pSecurity.Get(), &bPresent, &pDacl, &bDefaulted))
        return ERROR_INVALID_SECURITY_DESCR;
    return g_pfnSetSecurityInfo(
        h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        pOwner, nullptr, pDacl, nullptr);
}

bool IsAdministratorsOnly(HANDLE h)
{
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    CLocalMemory<PSECURITY_DESCRIPTOR> pSecurity;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    if (::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner, nullptr,
                          &pDacl, nullptr, pSecurity.Put()) != ERROR_SUCCESS ||
        !::GetSecurityDescriptorControl(pSecurity.Get(), &control, &dwRevision) || !IsAdministratorsOrSystem(pOwner) ||
        (control & SE_DACL_PROTECTED) == 0 || pDacl == nullptr)
        return false;
    for (DWORD i = 0; i < pDacl->AceCount; ++i)
    {
        void* pAce = nullptr;
        if (!::GetAce(pDacl, i, &pAce))
            return false;
        const auto* pHeader = static_cast<const ACE_HEADER*>(pAce);
        if (pHeader->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (pHeader->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false; // a kind of entry this check does not read
        const auto* pAllowed = static_cast<const ACCESS_ALLOWED_ACE*>(pAce);
        if ((pAllowed->Mask & kChangingRights) != 0 &&
            !IsAdministratorsOrSystem(const_cast<PSID>(static_cast<const void*>(&pAllowed->SidStart))))
            return false;
    }
    return true;
}
