#include "installer/ProductDiscovery.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <tuple>

namespace
{
const std::wstring kMakerRoot = L"SOFTWARE\\WOW6432Node\\Vimo";
const std::wstring kMakerKey =
    kMakerRoot + L"\\Vimo 2020\\Installer\\Applications\\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}";
const std::wstring kUninstall = L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kCode = L"{8D2F4B6C-1E3A-4C5D-8B7E-6F5A4B3C2D1E}";

// A REG_SZ value with its terminating NUL, as programs store strings; the
// key is made when it is missing.
void SetText(const std::wstring& strKey, const wchar_t* pszName, const std::wstring& strText)
{
    EXPECT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), pszName, REG_SZ, strText.c_str(),
                                static_cast<DWORD>((strText.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// A value of another shape than expected would carry options or properties
// into an installer's command line: it counts as not found. Without a product
// code no uninstall entry is read: the list of installed programs itself
// holds decoys.
TEST(ProductDiscoveryTest, ReadsTheProductCodeAndThenItsUninstallEntryWhenEachHasTheExpectedShape)
{
    SetText(kUninstall, L"InstallLocation", L"C:\\Decoy\\");
    SetText(kUninstall, L"UninstallString", L"decoy.exe");
    // The product code, install location and quiet uninstall command stored
    // (an empty one is passed over); whether the code and location are taken.
    const std::tuple<std::wstring, std::wstring, bool, bool, std::wstring> cases[] = {
        {kCode, L"D:\\Apps\\Vimo\\", true, true, L""},
        {kCode, L"D:\\Apps\\Vimo\\", true, true, L"uninst.exe /S"},
        {L"{8d2f4b6c-1e3a-4c5d-8b7e-6f5a4b3c2d1e}", L"d:\\Vimo", true, true, L""},
        {kCode + L" EVILPROP=1 REBOOT=Force", L"D:\\Apps\\", false, false, L""},
        {kCode.substr(1, 36), L"D:\\Apps\\", false, false, L""},
        {L"{8D2F4B6C1-E3A-4C5D-8B7E-6F5A4B3C2D1E}", L"D:\\Apps\\", false, false, L""},
        {L"{8D2F4B6C-1E3A-4C5D-8B7E-6F5A4B3C2D1G}", L"D:\\Apps\\", false, false, L""},
        {kCode, L"C:\\Apps\\Vimo\\\" TARGETDIR=\"C:\\Evil\\", true, false, L""},
        {kCode, L"\\\\server\\share\\Vimo\\", true, false, L""},
        {kCode, L"Apps\\Vimo\\", true, false, L""},
        {kCode, L"C:Apps\\Vimo\\", true, false, L""},
    };
    for (const auto& [strCode, strLocation, bCodeKept, bLocationKept, strQuiet] : cases)
    {
        SCOPED_TRACE(Utf8(strCode + L" " + strLocation + L" " + strQuiet));
        SetText(kMakerKey, L"ProductCode", strCode);
        SetText(kUninstall + strCode, L"InstallLocation", strLocation);
        SetText(kUninstall + strCode, L"QuietUninstallString", strQuiet);
        SetText(kUninstall + strCode, L"UninstallString", L"MsiExec.exe /I" + strCode);
        EXPECT_EQ(GetProductCode(), bCodeKept ? strCode : L"");
        EXPECT_EQ(GetInstallLocation(), bLocationKept ? strLocation : L"");
        EXPECT_EQ(GetUninstallString(), !bCodeKept ? L"" : strQuiet.empty() ? L"MsiExec.exe /I" + strCode : strQuiet);
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, (kUninstall + strCode).c_str());
    }

    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kMakerRoot.c_str());
    ::SHDeleteValueW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), L"InstallLocation");
    ::SHDeleteValueW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), L"UninstallString");
}
}
