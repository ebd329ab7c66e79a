#include "RegistryFixture.h"
#include "TestSupport.h"

#include "installer/MyRegKey.h"

#include <gtest/gtest.h>

#include <functional>
#include <string_view>

using namespace std::string_literals;

namespace
{
const std::wstring kTestKey = L"SOFTWARE\\LumetTests\\MyRegKey";
const std::wstring kTestRoot = L"SOFTWARE\\LumetTests";
const std::wstring kAsPassed = L"as passed";

std::string Bytes(std::wstring_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

struct ValueCase
{
    const char* pszLabel;
    bool bWritten;
    DWORD dwType;
    std::string data;
    LONG lExpected;
    std::wstring strExpected; // the text read; on a nonzero result the string as passed
};

TEST(MyRegKeyTest, QueryStringValueReadsEachStoredShape)
{
    const std::wstring strLong(5000, L'x');
    const DWORD dwNumber = 0x636261; // the bytes of "abc" and a NUL, as a number
    const ValueCase cases[] = {
        {"text with its NUL", true, REG_SZ, Bytes(L"abc\0"s), 0, L"abc"},
        {"zero bytes", true, REG_SZ, "", 0, L""},
        {"only a NUL", true, REG_SZ, Bytes(L"\0"s), 0, L""},
        {"no terminating NUL", true, REG_SZ, Bytes(L"abc"), 0, L"abc"},
        {"odd byte count", true, REG_SZ, Bytes(L"abc") + "d", 0, L"abc"},
        {"embedded NUL", true, REG_SZ, Bytes(L"ab\0cd\0"s), 0, L"ab"},
        {"expandable, not expanded", true, REG_EXPAND_SZ, Bytes(L"%SystemRoot%\\Vimo\\\0"s), 0, L"%SystemRoot%\\Vimo\\"},
        {"longer than any fixed buffer", true, REG_SZ, Bytes(strLong + L'\0'), 0, strLong},
        {"DWORD", true, REG_DWORD, std::string(reinterpret_cast<const char*>(&dwNumber), 4), ERROR_INVALID_PARAMETER, kAsPassed},
        {"multi-string", true, REG_MULTI_SZ, Bytes(L"a\0b\0\0"s), ERROR_INVALID_PARAMETER, kAsPassed},
        {"missing", false, REG_SZ, "", ERROR_FILE_NOT_FOUND, kAsPassed},
    };

    ScratchRegKey scratch(HKEY_LOCAL_MACHINE, kTestKey, kTestRoot);
    for (const ValueCase& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        if (c.bWritten)
            scratch.SetRaw(L"Value", c.dwType, c.data.data(), static_cast<DWORD>(c.data.size()));

        CMyRegKey key;
        ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kTestKey.c_str()), ERROR_SUCCESS);
        std::wstring value = kAsPassed;
        EXPECT_EQ(key.QueryStringValue(L"Value", value), c.lExpected);
        EXPECT_EQ(value, c.strExpected);

        if (c.bWritten)
            scratch.DeleteValue(L"Value");
    }
}

// Changes the value between the two reads of QueryStringValue, through the
// reader seam; both reads still go to the real registry.
struct Race
{
    std::function<void()> change;
    int nReads = 0;
};
Race* g_pRace = nullptr;

LONG WINAPI RacingQuery(HKEY hKey, LPCWSTR pszName, LPDWORD pReserved, LPDWORD pType, LPBYTE pData, LPDWORD pcbData)
{
    const LONG lResult = ::RegQueryValueExW(hKey, pszName, pReserved, pType, pData, pcbData);
    if (++g_pRace->nReads == 1)
        g_pRace->change();
    return lResult;
}

struct RaceCase
{
    const char* pszLabel;
    DWORD dwFirstType;
    std::string first;
    bool bDeleted; // the value is gone at the second read
    DWORD dwSecondType;
    std::string second;
    LONG lExpected;
    std::wstring strExpected;
};

TEST(MyRegKeyTest, QueryStringValueReturnsTheSecondReadsOutcome)
{
    const DWORD dwNumber = 1;
    const RaceCase cases[] = {
        {"grows", REG_SZ, Bytes(L"abc\0"s), false, REG_SZ, Bytes(L"abcdefgh\0"s), ERROR_MORE_DATA, kAsPassed},
        {"grows from zero bytes", REG_SZ, "", false, REG_SZ, Bytes(L"abc\0"s), ERROR_MORE_DATA, kAsPassed},
        {"shrinks", REG_SZ, Bytes(L"abcdef\0"s), false, REG_SZ, Bytes(L"ab\0"s), 0, L"ab"},
        {"turns into a DWORD", REG_SZ, Bytes(L"abc\0"s), false, REG_DWORD,
         std::string(reinterpret_cast<const char*>(&dwNumber), 4), ERROR_INVALID_PARAMETER, kAsPassed},
        {"is deleted", REG_SZ, Bytes(L"abc\0"s), true, REG_SZ, "", ERROR_FILE_NOT_FOUND, kAsPassed},
    };

    ScratchRegKey scratch(HKEY_LOCAL_MACHINE, kTestKey, kTestRoot);
    for (const RaceCase& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        scratch.SetRaw(L"Value", c.dwFirstType, c.first.data(), static_cast<DWORD>(c.first.size()));

        Race race;
        race.change = [&] {
            if (c.bDeleted)
                scratch.DeleteValue(L"Value");
            else
                scratch.SetRaw(L"Value", c.dwSecondType, c.second.data(), static_cast<DWORD>(c.second.size()));
        };
        g_pRace = &race;
        g_pfnRegQueryValueExW = &RacingQuery;

        CMyRegKey key;
        ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kTestKey.c_str()), ERROR_SUCCESS);
        std::wstring value = kAsPassed;
        const LONG lResult = key.QueryStringValue(L"Value", value);
        g_pfnRegQueryValueExW = &::RegQueryValueExW;
        g_pRace = nullptr;

        EXPECT_EQ(race.nReads, 2);
        EXPECT_EQ(lResult, c.lExpected);
        EXPECT_EQ(value, c.strExpected);
        if (!c.bDeleted)
            scratch.DeleteValue(L"Value");
    }
}

TEST(MyRegKeyTest, OpensForReadingOnlyAndWithoutARegistryView)
{
    ScratchRegKey scratch(HKEY_LOCAL_MACHINE, kTestKey, kTestRoot);
    scratch.SetString(L"Value", L"abc");

    CMyRegKey key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, (kTestKey + L"\\").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(key.m_bOpen, 1);
    const wchar_t szNew[] = L"new";
    EXPECT_EQ(::RegSetValueExW(key.m_hKey, L"Value", 0, REG_SZ, reinterpret_cast<const BYTE*>(szNew), sizeof(szNew)),
              ERROR_ACCESS_DENIED);

    // A key of the 32-bit view is found by naming WOW6432Node in the path,
    // and only so: no view flag redirects the plain path.
    ScratchRegKey view(HKEY_LOCAL_MACHINE, L"SOFTWARE\\LumetTestsView", L"SOFTWARE\\WOW6432Node\\LumetTestsView",
                       KEY_WOW64_32KEY);
    CMyRegKey named;
    EXPECT_EQ(named.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\LumetTestsView"), ERROR_SUCCESS);
    CMyRegKey plain;
    EXPECT_EQ(plain.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\LumetTestsView"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(plain.m_bOpen, 0);
    EXPECT_EQ(plain.m_hKey, nullptr);
    std::wstring value = kAsPassed;
    EXPECT_NE(plain.QueryStringValue(L"Value", value), ERROR_SUCCESS);
    EXPECT_EQ(value, kAsPassed);
}

TEST(MyRegKeyTest, AKeyIsClosedExactlyOnce)
{
    ScratchRegKey scratch(HKEY_LOCAL_MACHINE, kTestKey, kTestRoot);
    scratch.SetString(L"Value", L"abc");

    CMyRegKey other;
    {
        CMyRegKey key;
        ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kTestKey.c_str()), ERROR_SUCCESS);
        const HKEY hClosed = key.m_hKey;
        key.Close();
        EXPECT_EQ(key.m_bOpen, 0);

        // The freed handle value is handed out again, so closing it a second
        // time would close the other object's key.
        ASSERT_EQ(other.Open(HKEY_LOCAL_MACHINE, kTestKey.c_str()), ERROR_SUCCESS);
        ASSERT_EQ(other.m_hKey, hClosed) << "the handle value was not reused: a second close would go unseen";

        key.Close();
        EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, (kTestKey + L"\\missing").c_str()), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(key.m_bOpen, 0);
    } // destroyed after a second Close and a failed Open

    std::wstring value;
    EXPECT_EQ(other.QueryStringValue(L"Value", value), ERROR_SUCCESS);
    EXPECT_EQ(value, L"abc");
}
}
