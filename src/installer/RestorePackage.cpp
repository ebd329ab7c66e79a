#include "installer/RestorePackage.h"

#include "installer/KeptPackages.h"
#include "installer/MsiPackage.h"
#include "win/Signature.h"
#include "win/Text.h"

#include <utility>

namespace
{
// The updater's own signer, read once, when a candidate's signer is first
// checked: by then the check of the new package, beside this, has opened the
// certificate stores, which takes the longest the first time in a process.
class CLazyOwnSigner
{
public:
    const Signer* Get()
    {
        if (!std::exchange(m_bRead, true))
            m_dwRead = ReadOwnSigner(m_signer);
        return m_dwRead == ERROR_SUCCESS ? &m_signer : nullptr;
    }

private:
    Signer m_signer;
    DWORD m_dwRead = ERROR_NOT_READY;
    bool m_bRead = false;
};

// Whether a copied candidate is a whole package of the installed release, of
// the updater's publisher; one that is not is deleted again (it lies in the
// run's own folder). Without the updater's own signer no candidate is.
bool IsPackageOfRelease(const CopiedFile& copy, const std::wstring& strInstalledCode, CLazyOwnSigner& own)
{
    const auto SignedByOwnPublisher = [&] {
        bool bRevocationChecked = true;
        const Signer* pOwn = own.Get();
        return pOwn != nullptr && CheckPackageSigner(copy.strPath, *pOwn, bRevocationChecked) == ERROR_SUCCESS;
    };
    PackageIdentity identity;
    if (IsWholeCompoundFile(copy.strPath) && SignedByOwnPublisher() &&
        CheckInstallerPackage(copy.strPath) == ERROR_SUCCESS && ReadPackageIdentity(copy.strPath, identity) &&
        EqualsNoCaseAscii(identity.strProductCode, strInstalledCode))
        return true;
    ::DeleteFileW(copy.strPath.c_str());
    return false;
}
}

bool FindRestorePackage(const std::wstring& strInstalledCode, CWorkFolder& work, RestorePackage& restore)
{
    const auto NoRestorePackage = [&](const wchar_t* pszReason) {
        restore.strWhyNone = pszReason;
        return false;
    };
    if (strInstalledCode.empty() || !IsProductInstalled(strInstalledCode))
        return NoRestorePackage(L"no installed release that the Windows Installer knows");
    CHandle hFolder;
    std::wstring strFolder;
    if (work.OpenSubFolder(L"Restore", hFolder, strFolder) != ERROR_SUCCESS)
        return NoRestorePackage(L"the run's own folder cannot be made or written");
    CLazyOwnSigner own;

    CopiedFile copy;
    std::wstring strFrom;
    bool bFound = CopyKeptPackage(strInstalledCode, hFolder.Get(), strFolder, copy, strFrom) == ERROR_SUCCESS &&
                  IsPackageOfRelease(copy, strInstalledCode, own);
    const std::wstring strSource = GetInstalledProductProperty(strInstalledCode, L"InstallSource");
    const std::wstring strName = GetInstalledProductProperty(strInstalledCode, L"PackageName");
    const std::wstring strCached = GetInstalledProductProperty(strInstalledCode, L"LocalPackage");
    const std::wstring strInstallSource = strSource.empty() || strName.empty()
                                              ? std::wstring()
                                              : strSource + (strSource.ends_with(L'\\') ? L"" : L"\\") + strName;
    for (const std::wstring& strCandidate : {strInstallSource, strCached})
    {
        if (bFound || strCandidate.empty() || CheckPackagePath(strCandidate) != ERROR_SUCCESS)
            continue;
        bFound = CopyPackage(strCandidate, hFolder.Get(), strFolder, copy) == ERROR_SUCCESS &&
                 IsPackageOfRelease(copy, strInstalledCode, own);
        if (bFound)
            strFrom = strCandidate;
    }
    if (!bFound)
        return NoRestorePackage(L"no whole package of the installed release passes the checks");
    restore.copy = std::move(copy);
    restore.strFrom = std::move(strFrom);
    return true;
}
