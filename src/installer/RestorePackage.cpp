#include "installer/RestorePackage.h"

#include "installer/KeptPackages.h"
#include "installer/MsiPackage.h"
#include "win/PackageCache.h"
#include "win/Signature.h"
#include "win/Text.h"

namespace
{
// Whether a candidate at strPath is a whole package of the installed
// release, of the updater's publisher.
bool IsPackageOfRelease(const std::wstring& strPath, const std::wstring& strInstalledCode, const Signer& own)
{
    bool bRevocationChecked = true;
    PackageIdentity identity;
    return IsWholeCompoundFile(strPath) && CheckPackageSigner(strPath, own, bRevocationChecked) == ERROR_SUCCESS &&
           CheckInstallerPackage(strPath) == ERROR_SUCCESS && ReadPackageIdentity(strPath, identity) &&
           EqualsNoCaseAscii(identity.strProductCode, strInstalledCode);
}
}

bool FindRestorePackage(const std::wstring& strInstalledCode, const Signer& own, CWorkFolder& work,
                        RestorePackage& restore)
{
    const auto NoRestorePackage = [&](const wchar_t* pszReason) {
        restore.strWhyNone = pszReason;
        return false;
    };
    if (strInstalledCode.empty() || !IsProductInstalled(strInstalledCode))
        return NoRestorePackage(L"no installed release that the Windows Installer knows");

    // The package kept in the cache is used where it lies (it is the installed
    // product's own source), checked while held unwritable; only the
    // administrators can write in the cache, and the run holds it again.
    CopiedFile copy;
    CHandle hKept;
    if (OpenKeptPackage(strInstalledCode, copy, hKept) == ERROR_SUCCESS &&
        IsPackageOfRelease(copy.strPath, strInstalledCode, own))
    {
        restore.strFrom = copy.strPath;
        restore.copy = std::move(copy);
        return true;
    }
    hKept.Close();

    // Anything else may lie anywhere (a downloads folder): only its copy in
    // the run's own folder is checked and used.
    CHandle hFolder;
    std::wstring strFolder;
    if (work.OpenSubFolder(kRestoreFolder, hFolder, strFolder) != ERROR_SUCCESS)
        return NoRestorePackage(L"the run's own folder cannot be made or written");
    const std::wstring strSource = GetInstalledProductProperty(strInstalledCode, L"InstallSource");
    const std::wstring strName = GetInstalledProductProperty(strInstalledCode, L"PackageName");
    const std::wstring strCached = GetInstalledProductProperty(strInstalledCode, L"LocalPackage");
    const std::wstring strInstallSource = strSource.empty() || strName.empty()
                                              ? std::wstring()
                                              : strSource + (strSource.ends_with(L'\\') ? L"" : L"\\") + strName;
    for (const std::wstring& strCandidate : {strInstallSource, strCached})
    {
        if (strCandidate.empty() || CheckPackagePath(strCandidate) != ERROR_SUCCESS ||
            CopyPackage(strCandidate, hFolder.Get(), strFolder, copy) != ERROR_SUCCESS)
            continue;
        if (IsPackageOfRelease(copy.strPath, strInstalledCode, own))
        {
            restore.copy = std::move(copy);
            restore.strFrom = strCandidate;
            return true;
        }
        ::DeleteFileW(copy.strPath.c_str()); // in the run's own folder
    }
    return NoRestorePackage(L"no whole package of the installed release passes the checks");
}
