#include "RegistryFixture.h"
#include "TestSupport.h"

#include "resources/ProductList.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <memory>
#include <optional>

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

    std::unique_ptr<ScratchRegKey> MakeMakerKey()
    {
        return std::make_unique<ScratchRegKey>(HKEY_LOCAL_MACHINE, kMakerKey, kMakerRoot);
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

// Values put on the list of installed programs itself: read only by an
// operation that goes on with an empty product code.
class DecoyValues
{
public:
    DecoyValues()
    {
        EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallList.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &m_hKey, nullptr),
                  ERROR_SUCCESS);
        for (const wchar_t* pszName : kNames)
            ::RegSetValueExW(m_hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"decoy"), sizeof(L"decoy"));
    }
    ~DecoyValues()
    {
        for (const wchar_t* pszName : kNames)
            ::RegDeleteValueW(m_hKey, pszName);
        ::RegCloseKey(m_hKey);
    }

private:
    static constexpr const wchar_t* kNames[] = {L"InstallLocation", L"QuietUninstallString", L"UninstallString"};
    HKEY m_hKey = nullptr;
};

TEST_F(ProductDiscoveryTest, WithoutAProductCodeNothingIsFound)
{
    enum class Code { NoKey, NoValue, Empty, OnlyNul, Dword };
    const std::pair<const char*, Code> cases[] = {
        {"no maker's key", Code::NoKey}, {"no ProductCode value", Code::NoValue}, {"empty ProductCode", Code::Empty},
        {"ProductCode of only a NUL", Code::OnlyNul}, {"ProductCode is a DWORD", Code::Dword},
    };

    DecoyValues decoys;
    auto entry = MakeEntry(kCode);
    entry->SetString(L"InstallLocation", L"C:\\Apps\\Vimo\\");
    entry->SetString(L"UninstallString", L"MsiExec.exe /I" + kCode);
    for (const auto& [pszLabel, code] : cases)
    {
        SCOPED_TRACE(pszLabel);
        std::unique_ptr<ScratchRegKey> maker;
        if (code != Code::NoKey)
            maker = MakeMakerKey();
        if (code == Code::Empty)
            maker->SetRaw(L"ProductCode", REG_SZ, "", 0);
        else if (code == Code::OnlyNul)
            maker->SetString(L"ProductCode", L"");
        else if (code == Code::Dword)
            maker->SetDword(L"ProductCode", 1);

        EXPECT_EQ(m_list.GetProductCode(), L"");
        EXPECT_EQ(m_list.GetInstallLocation(), L"");
        EXPECT_EQ(m_list.GetUninstallString(), L"");
    }
}

TEST_F(ProductDiscoveryTest, ReadsTheInstalledProductFromTheMakersKeyAndItsUninstallEntry)
{
    auto maker = MakeMakerKey();
    maker->SetString(L"ProductCode", kCode);
    auto entry = MakeEntry(kCode);
    entry->SetString(L"InstallLocation", L"C:\\Program Files (x86)\\Vimo\\");
    entry->SetString(L"UninstallString", L"MsiExec.exe /I" + kCode, REG_EXPAND_SZ);

    EXPECT_EQ(m_list.GetProductCode(), kCode);
    EXPECT_EQ(m_list.GetInstallLocation(), L"C:\\Program Files (x86)\\Vimo\\");
    EXPECT_EQ(m_list.GetUninstallString(), L"MsiExec.exe /I" + kCode);

    // The code is appended exactly as stored: without braces it names
    // another entry.
    const std::wstring strBare = kCode.substr(1, kCode.size() - 2);
    maker->SetString(L"ProductCode", strBare);
    EXPECT_EQ(m_list.GetInstallLocation(), L"");
    auto bare = MakeEntry(strBare);
    bare->SetString(L"InstallLocation", L"D:\\Bare\\");
    bare->SetString(L"UninstallString", L"bare.exe");
    EXPECT_EQ(m_list.GetProductCode(), strBare);
    EXPECT_EQ(m_list.GetInstallLocation(), L"D:\\Bare\\");
    EXPECT_EQ(m_list.GetUninstallString(), L"bare.exe");
}

TEST_F(ProductDiscoveryTest, InstallLocationIsReturnedAsStored)
{
    struct Case
    {
        const char* pszLabel;
        std::optional<std::wstring> value; // none: the value is missing
        DWORD dwType;
        std::wstring strExpected;
    };
    const Case cases[] = {
        {"trailing backslash", L"C:\\Apps\\Vimo\\", REG_SZ, L"C:\\Apps\\Vimo\\"},
        {"no trailing backslash", L"C:\\Apps\\Vimo", REG_SZ, L"C:\\Apps\\Vimo"},
        {"not expanded", L"%ProgramFiles%\\Vimo\\", REG_EXPAND_SZ, L"%ProgramFiles%\\Vimo\\"},
        {"surrounding blanks kept", L" C:\\Vimo\\ ", REG_SZ, L" C:\\Vimo\\ "},
        {"empty", L"", REG_SZ, L""},
        {"missing", std::nullopt, REG_SZ, L""},
        {"not a string", L"", REG_DWORD, L""},
    };

    auto maker = MakeMakerKey();
    maker->SetString(L"ProductCode", kCode);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        auto entry = MakeEntry(kCode);
        if (c.dwType == REG_DWORD)
            entry->SetDword(L"InstallLocation", 1);
        else if (c.value)
            entry->SetString(L"InstallLocation", *c.value, c.dwType);
        EXPECT_EQ(m_list.GetInstallLocation(), c.strExpected);
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
        {"quiet only", Value::Text, Value::Missing, L"quiet.exe /S"},
        {"quiet empty", Value::Empty, Value::Text, L"MsiExec.exe /I{X}"},
        {"quiet a DWORD", Value::Dword, Value::Text, L"MsiExec.exe /I{X}"},
        {"no quiet", Value::Missing, Value::Text, L"MsiExec.exe /I{X}"},
        {"neither", Value::Missing, Value::Missing, L""},
        {"both empty", Value::Empty, Value::Empty, L""},
        {"quiet empty, plain a DWORD", Value::Empty, Value::Dword, L""},
    };

    auto maker = MakeMakerKey();
    maker->SetString(L"ProductCode", kCode);
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

TEST_F(ProductDiscoveryTest, EachCallReadsTheRegistryAfresh)
{
    auto maker = MakeMakerKey();
    maker->SetString(L"ProductCode", kCode);
    auto entry = MakeEntry(kCode);
    entry->SetString(L"InstallLocation", L"C:\\Old\\");
    entry->SetString(L"UninstallString", L"old.exe");
    EXPECT_EQ(m_list.GetInstallLocation(), L"C:\\Old\\");
    EXPECT_EQ(m_list.GetUninstallString(), L"old.exe");

    entry->SetString(L"InstallLocation", L"C:\\New\\");
    entry->SetString(L"UninstallString", L"new.exe");
    EXPECT_EQ(m_list.GetInstallLocation(), L"C:\\New\\");
    EXPECT_EQ(m_list.GetUninstallString(), L"new.exe");

    // As after a removal: the entry is gone, then the maker's key too.
    entry.reset();
    EXPECT_EQ(m_list.GetProductCode(), kCode);
    EXPECT_EQ(m_list.GetInstallLocation(), L"");
    EXPECT_EQ(m_list.GetUninstallString(), L"");
    entry = MakeEntry(kCode);
    entry->SetString(L"UninstallString", L"new.exe");
    maker.reset();
    EXPECT_EQ(m_list.GetProductCode(), L"");
    EXPECT_EQ(m_list.GetUninstallString(), L"");
}
}
