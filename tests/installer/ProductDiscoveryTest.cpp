#include "RegistryFixture.h"
#include "TestSupport.h"

#include "resources/ProductList.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <memory>

namespace
{
const std::wstring kMakerKey =
    L"SOFTWARE\\WOW6432Node\\Vimo\\Vimo 2020\\Installer\\Applications\\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}";
const std::wstring kMakerRoot = L"SOFTWARE\\WOW6432Node\\Vimo";
const std::wstring kUninstallList = L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kCode = L"{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C8D}";

class ProductDiscoveryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMakerRoot));
        m_bHadUninstallList = KeyExists(HKEY_LOCAL_MACHINE, kUninstallList);
    }
    // A fresh prefix has no list of installed 32-bit programs: the entries
    // made it, so it goes again.
    void TearDown() override
    {
        if (!m_bHadUninstallList)
            ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kUninstallList.c_str());
    }

    std::unique_ptr<ScratchRegKey> MakeMakerKey(const std::wstring& strCode)
    {
        auto key = std::make_unique<ScratchRegKey>(HKEY_LOCAL_MACHINE, kMakerKey, kMakerRoot);
        key->SetString(L"ProductCode", strCode);
        return key;
    }
    std::unique_ptr<ScratchRegKey> MakeEntry(const std::wstring& strCode)
    {
        return std::make_unique<ScratchRegKey>(HKEY_LOCAL_MACHINE, kUninstallList + L"\\" + strCode);
    }

    // Without a COM apartment the list loads no products; the discovery
    // operations do not need them.
    ProductList m_list;
    bool m_bHadUninstallList = false;
};

TEST_F(ProductDiscoveryTest, ReadsTheInstalledProductFromTheMakersKeyAndItsUninstallEntry)
{
    auto maker = MakeMakerKey(kCode);
    auto entry = MakeEntry(kCode);
    entry->SetString(L"InstallLocation", L"C:\\Program Files (x86)\\Vimo\\");
    entry->SetString(L"UninstallString", L"MsiExec.exe /I" + kCode, REG_EXPAND_SZ);

    EXPECT_EQ(m_list.GetProductCode(), kCode);
    EXPECT_EQ(m_list.GetInstallLocation(), L"C:\\Program Files (x86)\\Vimo\\");
    EXPECT_EQ(m_list.GetUninstallString(), L"MsiExec.exe /I" + kCode);

    // Read afresh on each call, and returned as stored.
    entry->SetString(L"InstallLocation", L"D:\\Vimo");
    EXPECT_EQ(m_list.GetInstallLocation(), L"D:\\Vimo");

    // The code is appended exactly as stored: without braces it names
    // another entry.
    const std::wstring strBare = kCode.substr(1, kCode.size() - 2);
    maker->SetString(L"ProductCode", strBare);
    EXPECT_EQ(m_list.GetInstallLocation(), L"");
    auto bare = MakeEntry(strBare);
    bare->SetString(L"InstallLocation", L"D:\\Bare\\");
    EXPECT_EQ(m_list.GetProductCode(), strBare);
    EXPECT_EQ(m_list.GetInstallLocation(), L"D:\\Bare\\");
}

TEST_F(ProductDiscoveryTest, WithoutAProductCodeNoUninstallEntryIsOpened)
{
    // Values on the list of installed programs itself, which an operation
    // going on with an empty code would open.
    ScratchRegKey list(HKEY_LOCAL_MACHINE, kUninstallList);
    list.SetString(L"InstallLocation", L"decoy");
    list.SetString(L"UninstallString", L"decoy");
    const auto expectNothing = [&] {
        EXPECT_EQ(m_list.GetProductCode(), L"");
        EXPECT_EQ(m_list.GetInstallLocation(), L"");
        EXPECT_EQ(m_list.GetUninstallString(), L"");
    };

    {
        SCOPED_TRACE("no maker's key");
        expectNothing();
    }
    auto maker = MakeMakerKey(L"");
    {
        SCOPED_TRACE("empty ProductCode");
        expectNothing();
    }
    maker->SetDword(L"ProductCode", 1);
    {
        SCOPED_TRACE("ProductCode is a DWORD");
        expectNothing();
    }
}

TEST_F(ProductDiscoveryTest, QuietUninstallStringWinsWhenItHoldsText)
{
    enum class Value { Missing, Empty, Dword, Text };
    struct Case
    {
        const char* pszLabel;
        Value quiet;
        Value plain;
        std::wstring strExpected;
    };
    const Case cases[] = {
        {"both", Value::Text, Value::Text, L"quiet.exe /S"},
        {"quiet empty", Value::Empty, Value::Text, L"MsiExec.exe /I{X}"},
        {"quiet a DWORD", Value::Dword, Value::Text, L"MsiExec.exe /I{X}"},
        {"no quiet", Value::Missing, Value::Text, L"MsiExec.exe /I{X}"},
        {"neither", Value::Missing, Value::Missing, L""},
        {"quiet empty, plain a DWORD", Value::Empty, Value::Dword, L""},
    };

    auto maker = MakeMakerKey(kCode);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        auto entry = MakeEntry(kCode);
        const auto set = [&](const wchar_t* pszName, Value value, const std::wstring& strText) {
            if (value == Value::Empty)
                entry->SetString(pszName, L"");
            else if (value == Value::Dword)
                entry->SetDword(pszName, 1);
            else if (value == Value::Text)
                entry->SetString(pszName, strText, REG_EXPAND_SZ);
        };
        set(L"QuietUninstallString", c.quiet, L"quiet.exe /S");
        set(L"UninstallString", c.plain, L"MsiExec.exe /I{X}");
        EXPECT_EQ(m_list.GetUninstallString(), c.strExpected);
    }
}

TEST_F(ProductDiscoveryTest, AfterARemovalNothingIsFound)
{
    auto maker = MakeMakerKey(kCode);
    auto entry = MakeEntry(kCode);
    entry->SetString(L"InstallLocation", L"C:\\Vimo\\");
    entry->SetString(L"UninstallString", L"uninst.exe");

    entry.reset();
    EXPECT_EQ(m_list.GetProductCode(), kCode);
    EXPECT_EQ(m_list.GetInstallLocation(), L"");
    EXPECT_EQ(m_list.GetUninstallString(), L"");

    entry = MakeEntry(kCode);
    entry->SetString(L"UninstallString", L"uninst.exe");
    maker.reset();
    EXPECT_EQ(m_list.GetUninstallString(), L"");
}
}
