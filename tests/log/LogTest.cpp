#include "log/Log.h"

#include "TestSupport.h"

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
    WriteLog(L"C:\\Gr\u00fc\u00dfe\\\U0001F600.exe");
    CloseLog();
    WriteLog(L"after");
    EXPECT_EQ(ReadBytes(path), "Run Lumet\r\nC:\\Gr\xC3\xBC\xC3\x9F"
                               "e\\\xF0\x9F\x98\x80.exe");
}

// The log lies below the user's profile, named after the UTC start, wherever
// the user points the per-user local application-data folder.
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
    EXPECT_FALSE(Exists(strElsewhere + L"\\Vimo"));
}

// A user plants a hard link at the coming log name to a file they cannot
// write (older systems let them; an elevated run would empty it), or a link to
// a folder elsewhere in place of a folder above the log.
TEST_F(LogTest, NoLogIsOpenedOnAFileWithAnotherNameOrThroughALink)
{
    const ScratchFolder victim(L"log-hard-link");
    WriteBytes(victim / L"system.dat", "precious");
    MakeFolders(victim / L"Log");
    ASSERT_TRUE(::CreateHardLinkW((m_folder / L"run.log").c_str(), (victim / L"system.dat").c_str(), nullptr));
    ASSERT_TRUE(MakeFolderLink(m_folder / L"Vimo", victim.Path()));
    EXPECT_FALSE(OpenLog(m_folder / L"run.log"));
    EXPECT_FALSE(OpenLog(m_folder / L"Vimo\\Log\\new.log"));
    WriteLog(L"written");
    EXPECT_EQ(ReadBytes(victim / L"system.dat"), "precious");
    EXPECT_FALSE(Exists(victim / L"Log\\new.log"));
}
}
