#include "installer/ProductDiscovery.h"

#include "win/MyRegKey.h"
#include "win/Text.h"

// How the application is installed here: its product code from the maker's
// installer key, then its install location and uninstall command from its
// entry in the list of installed programs. Both keys belong to the 32-bit
// view, which the paths name themselves. The result codes of the reads are
// not looked at: a missing value, one of another type, an unreadable one and
// an empty one all leave the string empty, and that is all callers test.

namespace
{
constexpr wchar_t kMakerInstallerKey[] =
    L"SOFTWARE\\WOW6432Node\\Vimo\\Vimo 2020\\Installer\\Applications\\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}\\";

// Followed directly by the product code, exactly as stored.
constexpr wchar_t kUninstallKeyPrefix[] = L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The product code goes into installer command lines after /X and the
// install location between quotes after INSTALLDIR=, so a value of any other
// shape could add options or properties there. Such values count as not found.

// A drive letter, a colon and a backslash first, and no double quote.
bool IsLocalFolderPath(const std::wstring& str)
{
    return StartsWithDriveRoot(str) && str.find(L'"') == std::wstring::npos;
}

// Opens the application's uninstall entry; false when there is no product
// code or no entry.
bool OpenUninstallEntry(CMyRegKey& key)
{
    const std::wstring strProductCode = GetProductCode();
    if (strProductCode.empty())
        return false;
    const std::wstring strKey = kUninstallKeyPrefix + strProductCode;
    return key.Open(HKEY_LOCAL_MACHINE, strKey.c_str()) == ERROR_SUCCESS;
}
}

std::wstring GetProductCode()
{
    CMyRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kMakerInstallerKey) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring strProductCode;
    key.QueryStringValue(L"ProductCode", strProductCode);
    return IsBracedGuid(strProductCode) ? strProductCode : std::wstring();
}

std::wstring GetInstallLocation()
{
    CMyRegKey key;
    if (!OpenUninstallEntry(key))
        return std::wstring();
    std::wstring strLocation;
    key.QueryStringValue(L"InstallLocation", strLocation);
    return IsLocalFolderPath(strLocation) ? strLocation : std::wstring();
}

std::wstring GetUninstallString()
{
    CMyRegKey key;
    if (!OpenUninstallEntry(key))
        return std::wstring();
    std::wstring strCommand;
    key.QueryStringValue(L"QuietUninstallString", strCommand);
    if (strCommand.empty())
        key.QueryStringValue(L"UninstallString", strCommand);
    return strCommand;
}
