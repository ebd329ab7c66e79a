#include "win/Security.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

PfnSetSecurityInfo g_pfnSetSecurityInfo = &::SetSecurityInfo;
PfnGetSecurityInfo g_pfnGetSecurityInfo = &::GetSecurityInfo;

namespace
{
// Full control for SYSTEM and the administrators, for the folder and what it
// holds; the owner is the administrators; nothing is inherited from above.
constexpr wchar_t kAdministratorsOnly[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Rights that change a folder or file, what it holds, or who may.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                        FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL | MAXIMUM_ALLOWED;

}

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

namespace
{
// The administrators, SYSTEM, and the service that owns the system's own
// files (NT SERVICE\TrustedInstaller).
bool IsAdministratorsOrSystem(PSID pSid)
{
    static const CLocalMemory<PSID> pTrustedInstaller = [] {
        CLocalMemory<PSID> pParsed;
        ::ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", pParsed.Put());
        return pParsed;
    }();
    return pSid && (::IsWellKnownSid(pSid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(pSid, WinLocalSystemSid) ||
                    (pTrustedInstaller.IsValid() && ::EqualSid(pSid, pTrustedInstaller.Get())));
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

COwnershipPrivileges::COwnershipPrivileges()
{
    struct
    {
        TOKEN_PRIVILEGES privileges;
        LUID_AND_ATTRIBUTES second;
    } wanted = {};
    wanted.privileges.PrivilegeCount = 2;
    wanted.privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    wanted.second.Attributes = SE_PRIVILEGE_ENABLED;
    DWORD cbPrevious = sizeof(m_previous);
    // Without them the hand-over gets what the file's own list grants.
    m_bChanged = ::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, m_hToken.Put()) &&
                 ::LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &wanted.privileges.Privileges[0].Luid) &&
                 ::LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted.second.Luid) &&
                 ::AdjustTokenPrivileges(m_hToken.Get(), FALSE, &wanted.privileges, sizeof(m_previous),
                                         &m_previous.privileges, &cbPrevious);
}

COwnershipPrivileges::~COwnershipPrivileges()
{
    // Only those that this turned on are turned off again.
    if (m_bChanged)
        ::AdjustTokenPrivileges(m_hToken.Get(), FALSE, &m_previous.privileges, 0, nullptr, nullptr);
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

namespace
{
// Whether the owner of what h is open on is the administrators' and no entry
// of its access list that applies to it lets anyone else do any of changing;
// with bProtected its list must also inherit nothing.
bool OwnedAndChangedByAdministratorsOnly(HANDLE h, ACCESS_MASK changing, bool bProtected)
{
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    CLocalMemory<PSECURITY_DESCRIPTOR> pSecurity;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    if (g_pfnGetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner,
                             nullptr, &pDacl, nullptr, pSecurity.Put()) != ERROR_SUCCESS ||
        !::GetSecurityDescriptorControl(pSecurity.Get(), &control, &dwRevision) || !IsAdministratorsOrSystem(pOwner) ||
        (bProtected && (control & SE_DACL_PROTECTED) == 0) || pDacl == nullptr)
        return false;
    // Generic rights stand for all the specific ones they grant.
    changing |= GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
    for (DWORD i = 0; i < pDacl->AceCount; ++i)
    {
        void* pAce = nullptr;
        if (!::GetAce(pDacl, i, &pAce))
            return false;
        const auto* pHeader = static_cast<const ACE_HEADER*>(pAce);
        if (pHeader->AceType == ACCESS_DENIED_ACE_TYPE || (pHeader->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        if (pHeader->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false; // a kind of entry this check does not read
        const auto* pAllowed = static_cast<const ACCESS_ALLOWED_ACE*>(pAce);
        if ((pAllowed->Mask & changing) != 0 &&
            !IsAdministratorsOrSystem(const_cast<PSID>(static_cast<const void*>(&pAllowed->SidStart))))
            return false;
    }
    return true;
}
}

bool IsAdministratorsOnly(HANDLE h) { return OwnedAndChangedByAdministratorsOnly(h, kChangingRights, true); }

bool OnlyAdministratorsCan(HANDLE h, ACCESS_MASK changing)
{
    return OwnedAndChangedByAdministratorsOnly(h, changing, false);
}
