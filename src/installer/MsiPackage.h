#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// What the update reads of Windows Installer packages, and of the products
// the Windows Installer has installed, through the system folder's msi.dll.

// Whether the file is a compound file (the Windows Installer's format) of a
// whole number of sectors. Every writer writes whole sectors, so a file that
// is not was cut short. Read by the program itself, not by the Windows
// Installer.
bool IsWholeCompoundFile(const std::wstring& strPath);

// Checks a copied Windows Installer package: it must be a whole compound file
// that the Windows Installer opens as a package, and hold every file it
// installs: each cabinet embedded in it and present, no file kept
// uncompressed beside it, no nested installation from beside it.
// ERROR_SUCCESS, 1620 ERROR_INSTALL_PACKAGE_INVALID, 1612
// ERROR_INSTALL_SOURCE_ABSENT, or ERROR_PROC_NOT_FOUND when the system's
// Windows Installer functions cannot be loaded.
DWORD CheckInstallerPackage(const std::wstring& strCopy);

// The properties of a package that say which release of which product it is.
struct PackageIdentity
{
    std::wstring strProductCode;
    std::wstring strUpgradeCode;
    std::wstring strProductVersion;
};

// Reads them from the package's Property table, the package opened read-only;
// false when it cannot be read or lacks one of them.
bool ReadPackageIdentity(const std::wstring& strPackage, PackageIdentity& identity);

// Whether the Windows Installer has the product installed.
bool IsProductInstalled(const std::wstring& strProductCode);

// A property that the Windows Installer keeps of an installed product
// ("VersionString", "InstallSource", "PackageName", "LocalPackage"); empty
// when there is none.
std::wstring GetInstalledProductProperty(const std::wstring& strProductCode, const wchar_t* pszProperty);

// Whether the installed product belongs to the product line of the upgrade
// code (the Windows Installer lists it under that code).
bool IsRelatedProduct(const std::wstring& strUpgradeCode, const std::wstring& strProductCode);

// Compares two versions of the form "4.0.12.3" field by field as numbers, a
// missing field counting as 0: below 0 when a is lower, 0 when equal, above 0
// when higher.
int CompareVersions(std::wstring_view a, std::wstring_view b);
