#include "win/Text.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace std::string_view_literals;

namespace
{
// Only A-Z fold: the letters beside them in the code table, and letters
// outside ASCII whose case the system would fold, stay apart.
TEST(TextTest, OnlyAsciiLettersFold)
{
    const struct
    {
        std::wstring_view a, b;
        bool bEqual;
    } cases[] = {
        {L"MSIEXEC.EXE", L"msiexec.exe", true},
        {L"AZ", L"az", true},
        {L"@[", L"`{", false}, // the neighbours of
                               // A-Z and a-z
        {L"\u00C4", L"\u00E4", false},
        {L"\u0130", L"i", false},
        {L"abc", L"abcd", false},
        {L"", L"", true},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(EqualsNoCaseAscii(c.a, c.b), c.bEqual) << testing::PrintToString(std::wstring(c.a));
        EXPECT_EQ(EqualsNoCaseAscii(c.b, c.a), c.bEqual);
    }
    EXPECT_EQ(ToLowerAscii(L"@AZ[`az{\u00C4\u0130"), L"@az[`az{\u00C4\u0130");
}

TEST(TextTest, FullPathsStartAtADriveRootOrAServer)
{
    const struct
    {
        std::wstring_view path;
        bool bDriveRoot, bFull;
    } cases[] = {
        {L"C:\\x", true, true},   {L"c:\\", true, true},    {L"C:x", false, false},          {L"C:", false, false},
        {L"C:/x", false, false},  {L"1:\\x", false, false}, {L"@:\\x", false, false},        {L"[:\\x", false, false},
        {L"`:\\x", false, false}, {L"{:\\x", false, false}, {L"\\\\server\\s", false, true}, {L"\\x", false, false},
        {L"/", false, false},     {L"", false, false},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(StartsWithDriveRoot(c.path), c.bDriveRoot) << testing::PrintToString(std::wstring(c.path));
        EXPECT_EQ(IsFullPath(c.path), c.bFull) << testing::PrintToString(std::wstring(c.path));
    }
}

TEST(TextTest, Utf8ConvertsBothWays)
{
    const struct
    {
        std::wstring_view wide;
        std::string_view utf8;
    } cases[] = {
        {L"a\0b"sv, "a\0b"sv}, // a length, not a terminator, ends the text
        {L"\u00C4\u20AC", "\xC3\x84\xE2\x82\xAC"},
        {L"\U0001F600", "\xF0\x9F\x98\x80"}, // a surrogate pair is one character
    };
    for (const auto& c : cases)
    {
        std::string utf8 = "old";
        std::wstring wide = L"old";
        EXPECT_TRUE(WideToUtf8(c.wide, utf8));
        EXPECT_EQ(utf8, c.utf8);
        EXPECT_EQ(Utf8ToWide(c.utf8, wide), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(wide, c.wide);
    }
}

// What is not valid in one form is no failure: it comes out of the system's
// converter as U+FFFD (under Wine one each for a surrogate without its pair,
// a byte that begins nothing and a sequence cut short), with nothing of our
// own put in its place.
TEST(TextTest, Utf8KeepsTheSystemsConversionOfInvalidText)
{
    std::string utf8 = "old";
    EXPECT_TRUE(WideToUtf8(L"\xD800x", utf8));
    EXPECT_EQ(utf8, "\xEF\xBF\xBDx");
    std::wstring wide = L"old";
    EXPECT_EQ(Utf8ToWide("\xFFx\xF0\x9F", wide), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(wide, L"\xFFFDx\xFFFD");

    EXPECT_TRUE(WideToUtf8(L"", utf8));
    EXPECT_EQ(utf8, "");
    wide = L"kept";
    EXPECT_EQ(Utf8ToWide("", wide), static_cast<DWORD>(ERROR_NO_DATA));
    EXPECT_EQ(wide, L"kept");
}
}
