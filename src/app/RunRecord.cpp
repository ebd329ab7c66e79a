#include "app/RunRecord.h"

#include "app/ResumeService.h"
#include "win/FileCopy.h"
#include "win/KnownFolders.h"
#include "win/PackageCache.h"
#include "win/RegistryRecord.h"
#include "win/Security.h"
#include "win/Text.h"

#include <shlobj.h>

namespace
{
std::wstring RecordKey(const std::wstring& strGuid) { return std::wstring(kRunsKey) + L"\\" + strGuid; }

// The plan's values under the run's key, but its phase, which the run sets
// on its own as it goes.
constexpr RecordValue<UpdatePlan> kPlanValues[] = {{L"InstallDir", &UpdatePlan::strInstallDir},
                                                   {L"InstalledCode", &UpdatePlan::strInstalledCode},
                                                   {L"Package", &UpdatePlan::strPackage},
                                                   {L"NewCode", &UpdatePlan::strNewCode},
                                                   {L"Restore", &UpdatePlan::strRestore},
                                                   {L"RestoreFrom", &UpdatePlan::strRestoreFrom},
                                                   {L"UserSid", &UpdatePlan::strUserSid},
                                                   {L"UserProfile", &UpdatePlan::strUserProfile},
                                                   {.pszName = L"Starts", .pNumber = &UpdatePlan::nStarts},
                                                   {.pszName = L"PackageSHA256", .pDigest = &UpdatePlan::package},
                                                   {.pszName = L"RestoreSHA256", .pDigest = &UpdatePlan::restore},
                                                   {.pszName = L"UpdaterSHA256", .pDigest = &UpdatePlan::updater}};

// The copies are recorded by their place in the cache.
DWORD WritePlan(const CMyRegKey& key, UpdatePlan plan)
{
    plan.strPackage = RelativeToCache(plan.strPackage);
    plan.strRestore = RelativeToCache(plan.strRestore);
    const DWORD dwResult = key.SetQwordValue(L"Phase", static_cast<ULONGLONG>(plan.ePhase));
    return dwResult == ERROR_SUCCESS ? WriteRecord(key, plan, kPlanValues) : dwResult;
}

DWORD ReadPlan(const CMyRegKey& key, UpdatePlan& plan)
{
    UpdatePlan read;
    ULONGLONG nPhase = 0;
    if (key.QueryQwordValue(L"Phase", nPhase) != ERROR_SUCCESS || ReadRecord(key, read, kPlanValues) != ERROR_SUCCESS ||
        nPhase < static_cast<ULONGLONG>(EPhase::Prepared) || nPhase > static_cast<ULONGLONG>(EPhase::Restoring))
        return ERROR_NOT_FOUND;
    read.ePhase = static_cast<EPhase>(nPhase);
    read.strPackage = InCache(read.strPackage);
    read.strRestore = InCache(read.strRestore);
    plan = std::move(read);
    return ERROR_SUCCESS;
}

// Copies the running updater into the run's folder; its digest in digest.
// A signed updater's copy must be signed by its signer.
DWORD CopyUpdater(CWorkFolder& work, const Signer& own, Sha256& digest)
{
    CHandle hImage;
    std::wstring strImage;
    DWORD dwResult = OpenOwnImage(hImage, strImage);
    if (dwResult == ERROR_SUCCESS)
        dwResult = CopyIntoFolder(hImage.Get(), work.Handle(), kUpdaterCopy, digest);
    if (dwResult != ERROR_SUCCESS || own.IsEmpty())
        return dwResult;
    const std::wstring strCopy = work.Path() + L"\\" + kUpdaterCopy;
    const CHandle hCopy(
        ::CreateFileW(strCopy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    Signer copied;
    bool bRevocationChecked = true;
    if (!hCopy.IsValid() || VerifyFileSignature(strCopy, hCopy.Get(), copied, bRevocationChecked) != ERROR_SUCCESS ||
        !SameSigner(copied, own))
        return kErrorInvalidImageHash;
    return ERROR_SUCCESS;
}
}

DWORD CRunRecord::Begin(CWorkFolder& work, UpdatePlan& plan, const Signer& own)
{
    DWORD dwResult = work.Create();
    if (dwResult == ERROR_SUCCESS)
        dwResult = CopyUpdater(work, own, plan.updater);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    plan.strUserSid = UserSid();
    plan.strUserProfile = GetShellFolder(CSIDL_PROFILE);
    m_strGuid = work.Guid();
    CMyRegKey key;
    dwResult = key.Create(HKEY_LOCAL_MACHINE, RecordKey(m_strGuid).c_str());
    if (dwResult == ERROR_SUCCESS)
        dwResult = WritePlan(key, plan);
    if (dwResult == ERROR_SUCCESS)
        dwResult = RegisterAgain(work);
    if (dwResult != ERROR_SUCCESS)
    {
        key.Close();
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, RecordKey(m_strGuid).c_str());
        return dwResult;
    }
    m_key = std::move(key);
    return ERROR_SUCCESS;
}

DWORD CRunRecord::Resume(const std::wstring& strGuid, UpdatePlan& plan)
{
    CMyRegKey key;
    if (!IsBracedGuid(strGuid) ||
        key.Open(HKEY_LOCAL_MACHINE, RecordKey(strGuid).c_str(), 0, KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return ERROR_NOT_FOUND;
    if (ReadPlan(key, plan) != ERROR_SUCCESS)
    {
        // Half written, or written by something else: nothing can be resumed
        // from it, and it would stand in the way of every later update.
        key.Close();
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, RecordKey(strGuid).c_str());
        return ERROR_NOT_FOUND;
    }
    m_strGuid = strGuid;
    m_key = std::move(key);
    return ERROR_SUCCESS;
}

void CRunRecord::CountStart(UpdatePlan& plan)
{
    ++plan.nStarts;
    m_key.SetQwordValue(L"Starts", plan.nStarts);
    m_key.Flush();
}

DWORD CRunRecord::RegisterAgain(const CWorkFolder& work) const
{
    return RegisterResumeService(m_strGuid, work.Path() + L"\\" + kUpdaterCopy);
}

void CRunRecord::SetPhase(EPhase ePhase)
{
    if (!IsPending())
        return;
    // Best effort: a record that stays behind resumes from an earlier phase,
    // which does no harm.
    m_key.SetQwordValue(L"Phase", static_cast<ULONGLONG>(ePhase));
    m_key.Flush();
}

void CRunRecord::End()
{
    if (!IsPending())
        return;
    // The service first: a record without a service is never acted on, a
    // service without a record is refused and deletes itself.
    DeleteResumeService(m_strGuid);
    m_key.Close();
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, RecordKey(m_strGuid).c_str());
}

std::wstring FindUnfinishedRun()
{
    CMyRegKey runs;
    if (runs.Open(HKEY_LOCAL_MACHINE, kRunsKey) != ERROR_SUCCESS)
        return std::wstring();
    for (const std::wstring& strName : runs.SubKeyNames())
        if (IsBracedGuid(strName))
            return strName;
    return std::wstring();
}

bool IsRunRecorded(const std::wstring& strGuid)
{
    CMyRegKey key;
    return IsBracedGuid(strGuid) && key.Open(HKEY_LOCAL_MACHINE, RecordKey(strGuid).c_str()) == ERROR_SUCCESS;
}

bool ReadRunUser(const std::wstring& strGuid, std::wstring& strSid, std::wstring& strProfile)
{
    CMyRegKey key;
    return IsBracedGuid(strGuid) && key.Open(HKEY_LOCAL_MACHINE, RecordKey(strGuid).c_str()) == ERROR_SUCCESS &&
           key.QueryStringValue(L"UserSid", strSid) == ERROR_SUCCESS &&
           key.QueryStringValue(L"UserProfile", strProfile) == ERROR_SUCCESS;
}
