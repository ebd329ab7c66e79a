#include "resources/ProductList.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

namespace
{
const std::wstring kMakerRoot = L"SOFTWARE\\WOW6432Node\\Vimo";
const std::wstring kMakerKey =
    kMakerRoot + L"\\Vimo 2020\\Installer\\Applications\\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}";
const std::wstring kUninstall = L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// A REG_SZ value with its terminating NUL, as programs store strings; the
// key is made when it is missing.
void SetText(const std::wstring& strKey, const wchar_t* pszName, const std::wstring& strText)
{
    EXPECT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), pszName, REG_SZ, strText.c_str(),
                                static_cast<DWORD>((strText.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

TEST(ProductDiscoveryTest, ReadsTheMakersProductCodeAndThenItsUninstallEntry)
{
    ProductList list;
    // Values on the list of installed programs itself, which a read going on
    // without a product code would open.
    SetText(kUninstall, L"InstallLocation", L"decoy");
    SetText(kUninstall, L"UninstallString", L"decoy");
    EXPECT_EQ(list.GetProductCode() + list.GetInstallLocation() + list.GetUninstallString(), L"");

    // The code names the entry exactly as stored, here without braces.
    const std::wstring strCode = L"1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C8D";
    const std::wstring strEntry = kUninstall + strCode;
    SetText(kMakerKey, L"ProductCode", strCode);
    SetText(strEntry, L"InstallLocation", L"C:\\Apps\\Vimo\\");
    SetText(strEntry, L"QuietUninstallString", L"uninst.exe /S");
    SetText(strEntry, L"UninstallString", L"MsiExec.exe /I{X}");
    EXPECT_EQ(list.GetProductCode(), strCode);
    EXPECT_EQ(list.GetInstallLocation(), L"C:\\Apps\\Vimo\\");
    EXPECT_EQ(list.GetUninstallString(), L"uninst.exe /S");
    SetText(strEntry, L"QuietUninstallString", L"");
    EXPECT_EQ(list.GetUninstallString(), L"MsiExec.exe /I{X}");

    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, strEntry.c_str());
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kMakerRoot.c_str());
    ::SHDeleteValueW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), L"InstallLocation");
    ::SHDeleteValueW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), L"UninstallString");
}
}
