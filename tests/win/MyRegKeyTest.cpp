#include "win/MyRegKey.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <string_view>
#include <utility>

using namespace std::string_view_literals;

namespace
{
const std::wstring kTestKey = L"SOFTWARE\\LumetTests";

struct Case
{
    const wchar_t* pszName; // also the label
    DWORD dwType;           // REG_NONE: not written
    std::wstring_view data;
    DWORD dwLaterType; // REG_NONE: unchanged between the two reads
    std::wstring_view later;
    DWORD dwExpected;
    const wchar_t* pszExpected; // null: the value as passed
};
const Case* g_pCase = nullptr; // cleared by the first read

// Stores the data exactly as given: no terminating NUL is added.
void SetValue(const wchar_t* pszName, DWORD dwType, std::wstring_view data)
{
    EXPECT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), pszName, dwType, data.data(),
                                static_cast<DWORD>(data.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// Reads the real registry and changes the value after the first read.
LONG WINAPI RacingQuery(HKEY hKey, LPCWSTR pszName, LPDWORD pReserved, LPDWORD pType, LPBYTE pData, LPDWORD pcbData)
{
    const LONG lResult = ::RegQueryValueExW(hKey, pszName, pReserved, pType, pData, pcbData);
    const Case* pCase = std::exchange(g_pCase, nullptr);
    if (pCase && pCase->dwLaterType != REG_NONE)
        SetValue(pszName, pCase->dwLaterType, pCase->later);
    return lResult;
}

TEST(MyRegKeyTest, QueryStringValueReadsStringsAndLeavesTheValueOnEveryError)
{
    // The DWORDs are the bytes of "ab": read as text, they would give "ab".
    const Case cases[] = {
        {L"no NUL", REG_SZ, L"abc"sv, REG_NONE, {}, 0, L"abc"},
        {L"embedded NUL", REG_SZ, L"ab\0cd\0"sv, REG_NONE, {}, 0, L"ab"},
        {L"zero bytes", REG_SZ, L""sv, REG_NONE, {}, 0, L""},
        {L"not expanded", REG_EXPAND_SZ, L"%SystemRoot%\\Vimo\0"sv, REG_NONE, {}, 0, L"%SystemRoot%\\Vimo"},
        {L"DWORD", REG_DWORD, L"ab"sv, REG_NONE, {}, ERROR_INVALID_PARAMETER, nullptr},
        {L"missing", REG_NONE, {}, REG_NONE, {}, ERROR_FILE_NOT_FOUND, nullptr},
        {L"grows from zero bytes", REG_SZ, L""sv, REG_SZ, L"abc\0"sv, ERROR_MORE_DATA, nullptr},
        {L"turns into a DWORD", REG_SZ, L"abc\0"sv, REG_DWORD, L"ab"sv, ERROR_INVALID_PARAMETER, nullptr},
    };
    SeamOverride<PfnRegQueryValueExW> reader(g_pfnRegQueryValueExW, &RacingQuery);
    for (const Case& c : cases)
    {
        if (c.dwType != REG_NONE)
            SetValue(c.pszName, c.dwType, c.data);
        g_pCase = &c;
        CMyRegKey key;
        std::wstring value = L"as passed";
        EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, kTestKey.c_str()), ERROR_SUCCESS);
        EXPECT_EQ(key.QueryStringValue(c.pszName, value), c.dwExpected) << Utf8(c.pszName);
        EXPECT_EQ(value, c.pszExpected ? c.pszExpected : L"as passed") << Utf8(c.pszName);
    }
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kTestKey.c_str());
}
}
