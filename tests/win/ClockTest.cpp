#include "win/Clock.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

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
}
