#include "win/Clock.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace
{
TEST(ClockTest, TimeStampsHaveFixedWidthFields)
{
    const struct
    {
        SYSTEMTIME st;
        const wchar_t* pszExpected;
    } cases[] = {
        {MakeSystemTime(2024, 1, 2, 3, 4, 5), L"20240102_030405"},
        {MakeSystemTime(2099, 12, 31, 23, 59, 59), L"20991231_235959"},
        {MakeSystemTime(999, 10, 10, 10, 10, 10), L" 9991010_101010"},
        {MakeSystemTime(7, 1, 1), L"   70101_000000"},
        {MakeSystemTime(30827, 1, 1), L"308270101_000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatTimeStamp(c.st), c.pszExpected);
}

TEST(ClockTest, NumbersArePaddedToTheirWidth)
{
    const struct
    {
        unsigned n;
        size_t nWidth;
        wchar_t chPad;
        const wchar_t* pszExpected;
    } cases[] = {
        {0, 1, L'0', L"x0"},
        {0, 3, L'0', L"x000"},
        {7, 2, L' ', L"x 7"},
        {123, 2, L'0', L"x123"},
        {10, 0, L'0', L"x10"},
        {UINT_MAX, 1, L'0', L"x4294967295"},
        {UINT_MAX, 12, L'0', L"x004294967295"},
    };
    for (const auto& c : cases)
    {
        std::wstring text = L"x"; // appended to, not replaced
        AppendNumber(text, c.n, c.nWidth, c.chPad);
        EXPECT_EQ(text, c.pszExpected);
    }
}
}
