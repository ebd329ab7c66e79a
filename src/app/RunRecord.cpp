#include "app/RunRecord.h"

#include "installer/KeptPackages.h"
#include "win/FileCopy.h"
#include "win/Signature.h"
#include "win/Text.h"

namespace
{
constexpr wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kUpdaterCopy[] = L"LumetUpdate.exe";

std::wstring RecordKey(const std::wstring& strGuid) { return std::wstring(kUpdaterKey) + L"\\Runs\\" + strGuid; }
std::wstring RunOnceName(const std::wstring& strGuid) { return L"LumetUpdate-" + strGuid; }

// The record's values under the run's key, each with the field it holds.
struct TextValue
{
    const wchar_t* pszName;
    std::wstring RunRecord::* pField;
};
struct DigestValue
{
    const wchar_t* pszName;
    Sha256 RunRecord::* pField;
};
constexpr TextValue kTextValues[] = {
    {L"InstallDir", &RunRecord::strInstallDir}, {L"InstalledCode", &RunRecord::strInstalledCode},
    {L"Package", &RunRecord::strPackage},       {L"NewCode", &RunRecord::strNewCode},
    {L"Restore", &RunRecord::strRestore},       {L"RestoreFrom", &RunRecord::strRestoreFrom}};
constexpr DigestValue kDigestValues[] = {{L"PackageSHA256", &RunRecord::package},
                                         {L"RestoreSHA256", &RunRecord::restore},
                                         {L"UpdaterSHA256", &RunRecord::updater}};

// Copies the running updater into the run's folder; its digest in digest.
DWORD CopyUpdater(CWorkFolder& work, Sha256& digest)
{
    CHandle hImage;
    std::wstring strImage;
    Signer own;
    DWORD dwResult = OpenOwnImage(hImage, strImage);
    LARGE_INTEGER size = {};
    if (dwResult == ERROR_SUCCESS && !::GetFileSizeEx(hImage.Get(), &size))
        dwResult = ::GetLastError();
    if (dwResult == ERROR_SUCCESS)
        dwResult = ReadOwnSigner(own);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    dwResult = CopyIntoFolder(hImage.Get(), size.QuadPart, work.Handle(), kUpdaterCopy, digest);
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

DWORD CRunRecord::SetRunOnce(const CWorkFolder& work) const
{
    CMyRegKey runOnce;
    DWORD dwResult = runOnce.Create(HKEY_LOCAL_MACHINE, kRunOnceKey);
    if (dwResult == ERROR_SUCCESS)
        dwResult = runOnce.SetStringValue(RunOnceName(m_strGuid).c_str(),
                                          L"\"" + work.Path() + L"\\" + kUpdaterCopy + L"\" /resume " + m_strGuid);
    if (dwResult == ERROR_SUCCESS)
        dwResult = runOnce.Flush();
    return dwResult;
}

DWORD CRunRecord::Begin(CWorkFolder& work, RunRecord& record)
{
    DWORD dwResult = work.Create();
    if (dwResult == ERROR_SUCCESS)
        dwResult = CopyUpdater(work, record.updater);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    m_strGuid = work.Guid();
    CMyRegKey key;
    dwResult = key.Create(HKEY_LOCAL_MACHINE, RecordKey(m_strGuid).c_str());
    if (dwResult == ERROR_SUCCESS)
        dwResult = key.SetQwordValue(L"Phase", static_cast<ULONGLONG>(record.ePhase));
    for (const TextValue& value : kTextValues)
        if (dwResult == ERROR_SUCCESS)
            dwResult = key.SetStringValue(value.pszName, record.*value.pField);
    for (const DigestValue& value : kDigestValues)
    {
        const Sha256& digest = record.*value.pField;
        if (dwResult == ERROR_SUCCESS)
            dwResult = key.SetBinaryValue(value.pszName, digest.data(), static_cast<DWORD>(digest.size()));
    }
    if (dwResult == ERROR_SUCCESS)
        dwResult = key.Flush();
    if (dwResult == ERROR_SUCCESS)
        dwResult = SetRunOnce(work);
    if (dwResult != ERROR_SUCCESS)
    {
        key.Close();
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, RecordKey(m_strGuid).c_str());
        return dwResult;
    }
    m_key = std::move(key);
    return ERROR_SUCCESS;
}

DWORD CRunRecord::Resume(const std::wstring& strGuid, CWorkFolder& work, RunRecord& record)
{
    CMyRegKey key;
    if (!IsBracedGuid(strGuid) ||
        key.Open(HKEY_LOCAL_MACHINE, RecordKey(strGuid).c_str(), 0, KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return ERROR_NOT_FOUND;
    RunRecord read;
    ULONGLONG nPhase = 0;
    DWORD dwResult = key.QueryQwordValue(L"Phase", nPhase);
    for (const TextValue& value : kTextValues)
        if (dwResult == ERROR_SUCCESS)
            dwResult = key.QueryStringValue(value.pszName, read.*value.pField);
    for (const DigestValue& value : kDigestValues)
    {
        Sha256& digest = read.*value.pField;
        if (dwResult == ERROR_SUCCESS)
            dwResult = key.QueryBinaryValue(value.pszName, digest.data(), static_cast<DWORD>(digest.size()));
    }
    if (dwResult != ERROR_SUCCESS || nPhase < static_cast<ULONGLONG>(EPhase::Prepared) ||
        nPhase > static_cast<ULONGLONG>(EPhase::Restoring))
        return ERROR_NOT_FOUND;
    read.ePhase = static_cast<EPhase>(nPhase);
    m_strGuid = strGuid;
    m_key = std::move(key);
    record = std::move(read);
    dwResult = work.OpenExisting(strGuid);
    // Set again before anything else is done: another interruption resumes
    // again.
    return dwResult == ERROR_SUCCESS ? SetRunOnce(work) : dwResult;
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
    CMyRegKey runOnce;
    if (runOnce.Open(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_READ | KEY_WRITE) == ERROR_SUCCESS)
    {
        runOnce.DeleteValue(RunOnceName(m_strGuid).c_str());
        runOnce.Flush();
    }
    m_key.Close();
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, RecordKey(m_strGuid).c_str());
}
