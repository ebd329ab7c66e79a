#include "installer/RestorePackage.h"

#include "installer/KeptPackages.h"
#include "installer/MsiPackage.h"
#include "log/Log.h"
#include "win/Signature.h"
#include "win/Text.h"

namespace
{
// Whether a copied candidate is a whole package of the installed release, of
// the updater's publisher; one that is not is deleted again (it lies in the
// run's own folder).
bool IsPackageOfRelease(const CopiedFile& copy, const std::wstring& strInstalledCode, const Signer& own)
{
    bool bRevocationChecked = true;
    PackageIdentity identity;
    if (IsWholeCompoundFile(copy.strPath) &&
        CheckPackageSigner(copy.strPath, own, bRevocationChecked) == ERROR_SUCCESS &&
        CheckInstallerPackage(copy.strPath) == ERROR_SUCCESS && ReadPackageIdentity(copy.strPath, identity) &&
        EqualsNoCaseAscii(identity.strProductCode, strInstalledCode))
        return true;
    ::DeleteFileW(copy.strPath.c_str());
    return false;
}

bool NoRestorePackage(const wchar_t* pszReason)
{
    WriteLog(std::wstring(L"No restore package: ") + pszReason + L"\r\n");
    return false;
}
}

bool FindRestorePackage(const std::wstring& strInstalledCode, CWorkFolder& work, RestorePackage& restore)
{
    if (strInstalledCode.empty() || !IsProductInstalled(strInstalledCode))
        return NoRestorePackage(L"no installed release that the Windows Installer knows");
    CHandle hFolder;
    std::wstring strFolder;
    if (work.OpenSubFolder(L"Restore", hFolder, strFolder) != ERROR_SUCCESS)
        return NoRestorePackage(L"the run's own folder cannot be made or written");
    Signer own;
    if (ReadOwnSigner(own) != ERROR_SUCCESS)
        return NoRestorePackage(L"the updater's own signer cannot be read");

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
    WriteLog(L"Restore package: " + strFrom + L"\r\n");
    restore.copy = std::move(copy);
    restore.strFrom = std::move(strFrom);
    return true;
}
