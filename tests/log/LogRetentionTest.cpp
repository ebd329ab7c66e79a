#include "log/LogRetention.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace
{
constexpr long long kDay = 86400;
const SYSTEMTIME kNow = MakeSystemTime(2026, 6, 15, 12, 0, 0);

TEST(PruneTest, DeletesFilesOlderThanFifteenWholeDaysAtAnyDepth)
{
    const struct
    {
        const wchar_t* relative;
        long long nAgeSeconds; // negative: in the future
        bool bKept;
    } files[] = {
        {L"fifteen-days-23-hours.log", 15 * kDay + 23 * 3600, true},
        {L"sixteen-days.log", 16 * kDay, false},
        {L"read-only.log", 20 * kDay, true},
        {L"report.txt", 40 * kDay, false},
        {L".settings", 100 * kDay, true},
        {L".cache\\old.log", 100 * kDay, true},
        {L"sub\\deeper\\old.log", 20 * kDay, false},
        {L"future.log", -30 * kDay, true},
        {L"planted\\precious.dat", 40 * kDay, true}, // written through a link to a folder elsewhere
    };
    ScratchFolder folder(L"prune");
    ScratchFolder victim(L"prune-victim");
    ASSERT_TRUE(MakeFolderLink(folder / L"planted", victim.Path()));
    for (const auto& f : files)
    {
        WriteBytes(folder / f.relative, "x");
        SetLastWriteTime(folder / f.relative, kNow, f.nAgeSeconds);
    }
    ASSERT_TRUE(::SetFileAttributesW((folder / L"read-only.log").c_str(), FILE_ATTRIBUTE_READONLY));
    FixedClock clock(kNow);
    PruneOldLogs(folder / L"planted"); // a link: nothing through it goes
    PruneOldLogs(folder.Path());
    for (const auto& f : files)
        EXPECT_EQ(Exists(folder / f.relative), f.bKept) << Utf8(f.relative);
    EXPECT_TRUE(IsFolder(folder / L"sub\\deeper"));
    ::SetFileAttributesW((folder / L"read-only.log").c_str(), FILE_ATTRIBUTE_NORMAL);
}
}
