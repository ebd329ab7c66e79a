#include "TestSupport.h"

#include "log/Log.h"
#include "log/LogRetention.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
constexpr long long kDay = 86400;
constexpr long long kHour = 3600;

const SYSTEMTIME kNow = MakeSystemTime(2026, 6, 15, 12, 0, 0);

struct AgedFile
{
    const wchar_t* relative;
    long long nAgeSeconds;
    bool bKept;
};

// Ages relative to kNow; negative ages lie in the future.
const std::vector<AgedFile> kTree = {
    {L"young.log", 1 * kDay, true},
    {L"fifteen-days-23-hours.log", 15 * kDay + 23 * kHour, true},
    {L"sixteen-days.log", 16 * kDay, false},
    {L"report.txt", 40 * kDay, false},
    {L"no-extension", 40 * kDay, false},
    {L".settings", 100 * kDay, true},
    {L".cache\\old.log", 100 * kDay, true},
    {L"sub\\young.log", 2 * kDay, true},
    {L"sub\\deeper\\deepest\\old.log", 20 * kDay, false},
    {L"future.log", -30 * kDay, true},
};

class PruneTest : public ::testing::TestWithParam<bool>
{
protected:
    void MakeTree()
    {
        for (const AgedFile& f : kTree)
        {
            const std::wstring path = m_folder / f.relative;
            MakeFolders(path.substr(0, path.rfind(L'\\')));
            WriteBytes(path, "x");
            SetLastWriteTime(path, AddSeconds(kNow, -f.nAgeSeconds));
        }
    }
    ScratchFolder m_folder{L"prune"};
};

TEST_P(PruneTest, DeletesFilesOlderThanFifteenWholeDaysAtAnyDepth)
{
    MakeTree();
    FixedClock clock(kNow);
    const bool bTrailingBackslash = GetParam();
    PruneOldLogs((m_folder.Path() + (bTrailingBackslash ? L"\\" : L"")).c_str());

    for (const AgedFile& f : kTree)
        EXPECT_EQ(Exists(m_folder / f.relative), f.bKept) << Utf8(f.relative);
    // Folders stay, even when pruning left them empty.
    EXPECT_TRUE(IsFolder(m_folder / L"sub\\deeper\\deepest"));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutTrailingBackslash, PruneTest, ::testing::Bool());

TEST(PruneShortPathTest, PathsShorterThanThreeCharactersAreNotScanned)
{
    const std::wstring rootFile = L"C:\\lumet-prune-root.tmp";
    WriteBytes(rootFile, "x");
    SetLastWriteTime(rootFile, MakeSystemTime(2001, 1, 1));
    PruneOldLogs(L"C:");
    PruneOldLogs(L"");
    EXPECT_TRUE(Exists(rootFile));
    ::DeleteFileW(rootFile.c_str());
}

TEST(PruneShortPathTest, MissingFolderIsNoError)
{
    PruneOldLogs(L"C:\\lumet-tests\\no such folder");
    PruneOldLogs(nullptr);
}

TEST(PruneLinkTest, NeverEntersALinkToAFolderElsewhere)
{
    ScratchFolder logFolder(L"prune-log");
    ScratchFolder victim(L"prune-victim");
    const std::wstring victimFile = victim / L"precious.dat";
    WriteBytes(victimFile, "precious");
    SetLastWriteTime(victimFile, MakeSystemTime(2001, 1, 1));

    ASSERT_TRUE(MakeFolderLink(logFolder / L"planted", victim.Path()));

    FixedClock clock(kNow);
    PruneOldLogs(logFolder.Path().c_str());
    EXPECT_EQ(ReadBytes(victimFile), "precious");
    ::DeleteFileW((logFolder / L"planted").c_str());
}


TEST(CalendarTimeTest, EarlyYearsCountAsZeroAndLateOnesCannotBeConverted)
{
    const std::optional<int64_t> t1899 = CalendarTimeOf(MakeSystemTime(1899, 12, 31, 23, 59, 59));
    ASSERT_TRUE(t1899.has_value());
    EXPECT_EQ(*t1899, 0);

    EXPECT_FALSE(CalendarTimeOf(MakeSystemTime(3001, 1, 2)).has_value());

    const std::optional<int64_t> a = CalendarTimeOf(MakeSystemTime(2026, 6, 15, 12, 0, 0));
    const std::optional<int64_t> b = CalendarTimeOf(MakeSystemTime(2026, 6, 16, 12, 0, 1));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*b - *a, kDay + 1);
}

TEST(CalendarTimeTest, PrunableOnlyAfterSixteenDaysAndNeverWhenUnconvertible)
{
    EXPECT_FALSE(IsPrunable(ToFileTime(AddSeconds(kNow, -(16 * kDay - 1))), kNow));
    EXPECT_TRUE(IsPrunable(ToFileTime(AddSeconds(kNow, -16 * kDay)), kNow));
    EXPECT_TRUE(IsPrunable(ToFileTime(MakeSystemTime(1850, 5, 1)), kNow));
    EXPECT_FALSE(IsPrunable(ToFileTime(AddSeconds(kNow, 30 * kDay)), kNow));
    EXPECT_FALSE(IsPrunable(ToFileTime(MakeSystemTime(3500, 1, 1)), kNow));
}

TEST(OpenLogPruneTest, OpeningTheLogPrunesItsFolderButNotTheNewFile)
{
    ScratchFolder folder(L"open-prune");
    const std::wstring old = folder / L"Vimo_LumetUpdate20010101_000000.log";
    WriteBytes(old, "old");
    SetLastWriteTime(old, MakeSystemTime(2001, 1, 1));
    const std::wstring young = folder / L"young.log";
    WriteBytes(young, "young");

    CloseLog();
    const std::wstring path = folder / L"Vimo_LumetUpdate20260615_120000.log";
    ASSERT_NE(OpenLog(path.c_str()), INVALID_HANDLE_VALUE);
    CloseLog();
    EXPECT_FALSE(Exists(old));
    EXPECT_TRUE(Exists(young));
    EXPECT_TRUE(Exists(path));
}
}
