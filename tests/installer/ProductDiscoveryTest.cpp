#include "installer/ProductDiscovery.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

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
    struct Case
    {
        std::wstring strCode, strLocation;
        bool bCodeKept, bLocationKept;
    };
    const Case cases[] = {
        {kCode, L"D:\\Apps\\Vimo\\", true, true},
        {L"{8d2f4b6c-1e3a-4c5d-8b7e-6f5a4b3c2d1e}", L"d:\\Vimo", true, true},
        {kCode + L" EVILPROP=1 REBOOT=Force", L"D:\\Apps\\", false, false},
        {kCode.substr(1, 36), L"D:\\Apps\\", false, false},
        {L"{8D2F4B6C1-E3A-4C5D-8B7E-6F5A4B3C2D1E}", L"D:\\Apps\\", false, false},
        {L"{8D2F4B6C-1E3A-4C5D-8B7E-6F5A4B3C2D1G}", L"D:\\Apps\\", false, false},
        {kCode, L"C:\\Apps\\Vimo\\\" TARGETDIR=\"C:\\Evil\\", true, false},
        {kCode, L"\\\\server\\share\\Vimo\\", true, false},
        {kCode, L"Apps\\Vimo\\", true, false},
        {kCode, L"C:Apps\\Vimo\\", true, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(Utf8(c.strCode + L" " + c.strLocation));
        SetText(kMakerKey, L"ProductCode", c.strCode);
        SetText(kUninstall + c.strCode, L"InstallLocation", c.strLocation);
        SetText(kUninstall + c.strCode, L"QuietUninstallString", L""); // empty: passed over
        SetText(kUninstall + c.strCode, L"UninstallString", L"MsiExec.exe /I" + c.strCode);
        EXPECT_EQ(GetProductCode(), c.bCodeKept ? c.strCode : L"");
        EXPECT_EQ(GetInstallLocation(), c.bLocationKept ? c.strLocation : L"");
        EXPECT_EQ(GetUninstallString(), c.bCodeKept ? L"MsiExec.exe /I" + c.strCode : L"");
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, (kUninstall + c.strCode).c_str());
    }

    // A quiet uninstall command that is not empty comes first.
    SetText(kMakerKey, L"ProductCode", kCode);
    SetText(kUninstall + kCode, L"QuietUninstallString", L"uninst.exe /S");
    SetText(kUninstall + kCode, L"UninstallString", L"MsiExec.exe /I{X}");
    EXPECT_EQ(GetUninstallString(), L"uninst.exe /S");

    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, (kUninstall + kCode).c_str());
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kMakerRoot.c_str());
    ::SHDeleteValueW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), L"InstallLocation");
    ::SHDeleteValueW(HKEY_LOCAL_MACHINE, kUninstall.c_str(), L"UninstallString");
}
}
