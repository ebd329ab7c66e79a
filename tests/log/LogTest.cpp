#include "TestSupport.h"

#include "log/Log.h"

#include <gtest/gtest.h>

namespace
{
class LogTest : public ::testing::Test
{
protected:
    void SetUp() override { CloseLog(); }
    void TearDown() override { CloseLog(); }
    ScratchFolder m_folder{L"logtest"};
};

TEST_F(LogTest, WritesExactlyTheUtf8BytesOfEachTextInOrder)
{
    const std::wstring path = m_folder / L"run.log";
    ASSERT_NE(OpenLog(path.c_str()), INVALID_HANDLE_VALUE);
    WriteLog(L"Run Lumet\r\n");
    WriteLog(L"C:\\Programme\\Gr\u00fc\u00dfe\\\u65e5\u672c\\Vimo.exe");
    WriteLog(L"");
    WriteLog(L"\U0001F600\u20ac");
    CloseLog();

    EXPECT_EQ(ReadBytes(path), "Run Lumet\r\n"
                               "C:\\Programme\\Gr\xC3\xBC\xC3\x9F" "e\\\xE6\x97\xA5\xE6\x9C\xAC\\Vimo.exe"
                               "\xF0\x9F\x98\x80\xE2\x82\xAC");
}

TEST_F(LogTest, WritesNothingWhenNoLogIsOpen)
{
    WriteLog(L"before");
    const std::wstring path = m_folder / L"run.log";
    ASSERT_NE(OpenLog(path.c_str()), INVALID_HANDLE_VALUE);
    WriteLog(L"during");
    CloseLog();
    WriteLog(L"after");
    EXPECT_EQ(ReadBytes(path), "during");

    // A failed open leaves no log either.
    const std::wstring missing = m_folder / L"no such folder\\run.log";
    EXPECT_EQ(OpenLog(missing.c_str()), INVALID_HANDLE_VALUE);
    WriteLog(L"lost");
    EXPECT_EQ(g_hLogFile, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Exists(missing));
}

TEST_F(LogTest, OpenTruncatesAFileOfTheSameName)
{
    const std::wstring path = m_folder / L"same-second.log";
    WriteBytes(path, "the earlier run's log");
    ASSERT_NE(OpenLog(path.c_str()), INVALID_HANDLE_VALUE);
    WriteLog(L"new");
    CloseLog();
    EXPECT_EQ(ReadBytes(path), "new");
}

TEST_F(LogTest, SecondOpenWhileOpenNeitherPrunesNorCreates)
{
    const std::wstring first = m_folder / L"first.log";
    const HANDLE hFirst = OpenLog(first.c_str());
    ASSERT_NE(hFirst, INVALID_HANDLE_VALUE);

    ScratchFolder other(L"other");
    const std::wstring old = other / L"old.log";
    WriteBytes(old, "old");
    SetLastWriteTime(old, MakeSystemTime(2001, 1, 1));

    const std::wstring second = other / L"second.log";
    EXPECT_EQ(OpenLog(second.c_str()), hFirst);
    EXPECT_FALSE(Exists(second));
    EXPECT_TRUE(Exists(old));
    EXPECT_EQ(OpenLog(nullptr), hFirst);
}

TEST_F(LogTest, OthersMayReadButNotWriteOrDeleteTheOpenLog)
{
    const std::wstring path = m_folder / L"shared.log";
    ASSERT_NE(OpenLog(path.c_str()), INVALID_HANDLE_VALUE);

    HANDLE hRead = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(hRead, INVALID_HANDLE_VALUE);
    if (hRead != INVALID_HANDLE_VALUE)
        ::CloseHandle(hRead);

    HANDLE hWrite = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(hWrite, INVALID_HANDLE_VALUE);
    if (hWrite != INVALID_HANDLE_VALUE)
        ::CloseHandle(hWrite);

    EXPECT_FALSE(::DeleteFileW(path.c_str()));
}

TEST_F(LogTest, LogPathIsNamedAfterTheUtcStartAndMadeLevelByLevel)
{
    FixedClock clock(MakeSystemTime(2021, 3, 5, 7, 8, 9));
    const std::wstring appData = m_folder / L"AppData\\Local";
    MakeFolders(appData);

    EXPECT_EQ(MakeLogFilePathIn(appData), appData + L"\\Vimo\\VimoLumet\\Log\\Vimo_LumetUpdate20210305_070809.log");
    EXPECT_TRUE(IsFolder(appData + L"\\Vimo"));
    EXPECT_TRUE(IsFolder(appData + L"\\Vimo\\VimoLumet"));
    EXPECT_TRUE(IsFolder(appData + L"\\Vimo\\VimoLumet\\Log"));
}

TEST_F(LogTest, ExistingLogFolderChainIsLeftAsItIs)
{
    const std::wstring appData = m_folder / L"Local";
    MakeFolders(appData + L"\\Vimo\\VimoLumet\\Log");
    const std::wstring kept = appData + L"\\Vimo\\VimoLumet\\Log\\earlier.log";
    WriteBytes(kept, "earlier");

    FixedClock clock(MakeSystemTime(2020, 12, 10, 2, 29, 19));
    EXPECT_EQ(MakeLogFilePathIn(appData), appData + L"\\Vimo\\VimoLumet\\Log\\Vimo_LumetUpdate20201210_022919.log");
    EXPECT_EQ(ReadBytes(kept), "earlier");
}

TEST_F(LogTest, NoApplicationDataFolderGivesNoPathAndNoLog)
{
    EXPECT_EQ(MakeLogFilePathIn(L""), L"");
    EXPECT_EQ(OpenLog(L""), INVALID_HANDLE_VALUE);
    WriteLog(L"lost");
}

TEST_F(LogTest, RealPathLiesBelowTheUsersLocalApplicationData)
{
    FixedClock clock(MakeSystemTime(2026, 1, 2, 3, 4, 5));
    const std::wstring path = MakeLogFilePath();
    EXPECT_NE(path.find(L"\\AppData\\Local\\Vimo\\VimoLumet\\Log\\Vimo_LumetUpdate20260102_030405.log"),
              std::wstring::npos)
        << Utf8(path);
    const HANDLE h = OpenLog(path.c_str());
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseLog();
    EXPECT_TRUE(Exists(path));
    ::DeleteFileW(path.c_str());
}

struct Utf8Case
{
    const wchar_t* text;
    std::string bytes;
};

class WideToUtf8Test : public ::testing::TestWithParam<Utf8Case>
{
};

TEST_P(WideToUtf8Test, GivesTheBytesAndAZeroFilledBuffer)
{
    std::unique_ptr<char[]> buffer;
    const int n = WideToUtf8(GetParam().text, buffer);
    ASSERT_EQ(n, static_cast<int>(GetParam().bytes.size()));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(std::string(buffer.get(), static_cast<size_t>(n)), GetParam().bytes);
    EXPECT_EQ(buffer[static_cast<size_t>(n)], '\0');
    EXPECT_EQ(buffer[static_cast<size_t>(n) + 1], '\0');
}

INSTANTIATE_TEST_SUITE_P(Texts, WideToUtf8Test,
                         ::testing::Values(Utf8Case{L"", ""}, Utf8Case{L"abc", "abc"},
                                           Utf8Case{L"\u00fc", "\xC3\xBC"},
                                           Utf8Case{L"\u65e5", "\xE6\x97\xA5"},
                                           Utf8Case{L"\U0001F600", "\xF0\x9F\x98\x80"}));
}
