#include "log/Log.h"

#include "TestSupport.h"

#include "log/LogRetention.h"
#include "win/KnownFolders.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace
{
class LogTest : public ::testing::Test
{
protected:
    void TearDown() override { CloseLog(); }
    ScratchFolder m_folder{L"logtest"};
};

TEST_F(LogTest, HoldsExactlyTheUtf8OfWhatWasWrittenWhileOpen)
{
    const std::wstring path = m_folder / L"run.log";
    WriteBytes(path, "an earlier run's log of the same second");
    WriteLog(L"before");
    ASSERT_TRUE(OpenLog(path));
    WriteLog(L"Run Lumet\r\n");
    WriteLog(L"");
    WriteLog(L"C:\\Gr\u00fc\u00dfe\\\u65e5\\\U0001F600.exe");
    CloseLog();
    WriteLog(L"after");
    EXPECT_EQ(ReadBytes(path), "Run Lumet\r\nC:\\Gr\xC3\xBC\xC3\x9F"
                               "e\\\xE6\x97\xA5\\\xF0\x9F\x98\x80.exe");
}

// The log lies below the user's profile, named after the UTC start; the
// per-user setting of the local application-data folder, which the user
// may point anywhere, plays no part.
TEST_F(LogTest, PathIsNamedAfterTheUtcStartBelowTheProfileWhateverTheUserSays)
{
    FixedClock clock(MakeSystemTime(2021, 3, 5, 7, 8, 9));
    const std::wstring strLocal = GetShellFolder(CSIDL_PROFILE) + L"\\AppData\\Local";
    ASSERT_FALSE(strLocal.starts_with(L"\\"));
    const std::wstring strElsewhere = m_folder / L"Elsewhere";
    MakeFolders(strElsewhere);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER,
                                L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                L"Local AppData", REG_EXPAND_SZ, strElsewhere.c_str(),
                                static_cast<DWORD>((strElsewhere.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"LOCALAPPDATA", strElsewhere.c_str()));
    ASSERT_EQ(GetShellFolder(CSIDL_LOCAL_APPDATA), strElsewhere); // as the system now reports it

    EXPECT_EQ(MakeLogFilePath(), strLocal + L"\\Vimo\\VimoLumet\\Log\\Vimo_LumetUpdate20210305_070809.log");
    EXPECT_TRUE(IsFolder(strLocal + L"\\Vimo\\VimoLumet\\Log"));
    EXPECT_FALSE(Exists(strElsewhere + L"\\Vimo"));
}

// A user plants a hard link at the coming log name to a file they cannot
// write: older systems let them, and an elevated run would empty it.
TEST_F(LogTest, NoLogIsOpenedOnAFileWithAnotherName)
{
    const ScratchFolder victim(L"log-hard-link");
    WriteBytes(victim / L"system.dat", "precious");
    ASSERT_TRUE(::CreateHardLinkW((m_folder / L"run.log").c_str(), (victim / L"system.dat").c_str(), nullptr));
    EXPECT_FALSE(OpenLog(m_folder / L"run.log"));
    WriteLog(L"written");
    EXPECT_EQ(ReadBytes(victim / L"system.dat"), "precious");
}

// A user replaces the log folder, or the folder above it, with a link to a
// folder of old files before the update starts.
TEST_F(LogTest, NothingIsPrunedOrWrittenThroughALinkInTheLogFolderChain)
{
    const SYSTEMTIME stNow = MakeSystemTime(2026, 6, 15);
    const FixedClock clock(stNow);
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {{L"Vimo\\VimoLumet\\Log", L"old.dat"},
                                                               {L"Vimo\\VimoLumet", L"Log\\old.dat"}};
    for (const auto& [pszLinked, pszOld] : cases)
    {
        const ScratchFolder victim(L"log-victim"), appData(L"log-appdata");
        WriteBytes(victim / pszOld, "old");
        SetLastWriteTime(victim / pszOld, stNow, 40 * 86400LL);
        const std::wstring strLink = appData / pszLinked;
        MakeFolders(strLink.substr(0, strLink.rfind(L'\\')));
        ASSERT_TRUE(MakeFolderLink(strLink, victim.Path()));

        const std::wstring strFolder = appData / L"Vimo\\VimoLumet\\Log";
        EXPECT_FALSE(OpenLog(strFolder + L"\\run.log")) << Utf8(pszLinked);
        PruneOldLogs(strFolder);
        EXPECT_TRUE(Exists(victim / pszOld)) << Utf8(pszLinked);
        EXPECT_FALSE(Exists(strFolder + L"\\run.log")) << Utf8(pszLinked); // it would be in the victim folder
    }
}
}
