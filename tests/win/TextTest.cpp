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
        {L"AZ", L"az", true},     {L"@[", L"`{", false},    {L"\u00C4", L"\u00E4", false},
        {L"\u0130", L"i", false}, {L"abc", L"abcd", false}, {L"", L"", true},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(EqualsNoCaseAscii(c.a, c.b) == c.bEqual && EqualsNoCaseAscii(c.b, c.a) == c.bEqual)
            << testing::PrintToString(std::wstring(c.a));
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
        EXPECT_TRUE(StartsWithDriveRoot(c.path) == c.bDriveRoot && IsFullPath(c.path) == c.bFull)
            << testing::PrintToString(std::wstring(c.path));
}

// A length, not a terminator, ends a text; what is not valid comes out of the
// system's converter as U+FFFD, with nothing of our own put in its place.
TEST(TextTest, Utf8ConvertsBothWaysAndKeepsTheSystemsConversionOfInvalidText)
{
    const struct
    {
        std::wstring_view wide;
        std::string_view utf8;
        bool bToUtf8, bToWide;
    } cases[] = {
        {L"a\0b"sv, "a\0b"sv, true, true},
        {L"\U0001F600", "\xF0\x9F\x98\x80", true, true}, // a surrogate pair is one character
        {L"\xD800x", "\xEF\xBF\xBDx", true, false},
        {L"\xFFFDx\xFFFD", "\xFFx\xF0\x9F", false, true},
        {L"", "", true, false},
    };
    for (const auto& c : cases)
    {
        std::string utf8 = "old";
        std::wstring wide = L"old";
        EXPECT_TRUE(!c.bToUtf8 || (WideToUtf8(c.wide, utf8) && utf8 == c.utf8)) << testing::PrintToString(utf8);
        EXPECT_TRUE(!c.bToWide || (Utf8ToWide(c.utf8, wide) == ERROR_SUCCESS && wide == c.wide))
            << testing::PrintToString(wide);
    }
    std::wstring wide = L"kept";
    EXPECT_EQ(Utf8ToWide("", wide), static_cast<DWORD>(ERROR_NO_DATA));
    EXPECT_EQ(wide, L"kept");
}
}
