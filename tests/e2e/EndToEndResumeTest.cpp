// An update that cannot finish in one run: the record and service it leaves
// for the next start of the machine, and what the next run does with them.
#include "EndToEndSupport.h"

#include <thread>

namespace
{
// From the first removal to the end of the install a service stands to resume
// the update, and a second update is refused; then neither is left.
TEST(EndToEndResume, TheServiceStandsFromTheFirstRemovalToTheEndOfTheUpdate)
{
    PrepareInstalledMachine();
    Copy(Package(L"slow.msi"), L"C:\\Temp\\slow.msi");
    WriteBytes(L"C:\\lumet-block", "");
    std::thread watcher([] {
        // The install is held in its custom action until the block goes.
        EXPECT_TRUE(WaitForFile(L"C:\\lumet-blocked", 120000).has_value());
        const std::vector<std::wstring> runs = SubKeys(kRunsKey);
        EXPECT_EQ(runs.size(), 1u);
        for (const std::wstring& strGuid : runs)
            ExpectTheServiceStands(strGuid);
        ::Sleep(1000); // the second update's log is named after another second
        EXPECT_EQ(RunAndWait(L"\"" + FromUnix(LUMET_UPDATE_EXE) + L"\" C:\\Temp\\new.msi", 120000),
                  DWORD{ERROR_INSTALL_ALREADY_RUNNING});
        EXPECT_EQ(ReadBytes(LogFolder() + L"\\" + NewestLogName()),
                  "Update refused: another update is in progress: C:\\Temp\\new.msi\r\n");
        ::DeleteFileW(L"C:\\lumet-block");
    });
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\slow.msi"), 0u);
    watcher.join();
    ExpectNothingToResume();
    EXPECT_TRUE(Installed(kNew));
}

// The Windows Installer busy past the install's retries: the update ends with
// 1618, keeping its record; the next run carries it out first.
TEST(EndToEndResume, AnInstallHeldPastItsRetriesIsCarriedOutByTheNextRunFirst)
{
    PrepareInstalledMachine();
    Copy(FakeAppPath(), L"C:\\windows\\system32\\msiexec.exe");
    Copy(FromUnix(LUMET_WINE_MSIEXEC), L"C:\\windows\\lumet-real-msiexec.exe");
    ASSERT_EQ(RunAndWait(L"reg.exe add HKCU\\Software\\Wine\\DllOverrides /v msiexec.exe /d native /f"), 0u);
    WriteBytes(L"C:\\lumet-busy", "~"); // more answers of 1618 than three minutes of retries ask for
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), DWORD{ERROR_INSTALL_ALREADY_RUNNING});
    EXPECT_FALSE(Installed(kInstalled) || Installed(kNew));
    const std::vector<std::wstring> vecPending = SubKeys(kRunsKey);
    ASSERT_EQ(vecPending.size(), 1u);
    const std::wstring strGuid = vecPending[0];
    ExpectTheServiceStands(strGuid);
    const std::string first = RunLog();
    EXPECT_TRUE(first.ends_with("Application not started: the install failed\r\n"
                                "Update to be tried again at the next start (1618)\r\n"))
        << first;
    EXPECT_EQ(first.find("Install failed"), std::string::npos) << first;

    WriteBytes(L"C:\\lumet-busy", "0");
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), 0u);
    EXPECT_TRUE(Installed(kNew));
    ExpectNothingToResume();
    const std::string again = RunLog();
    const std::string resumed = "Unfinished update found: " + Utf8(strGuid) +
                                "\r\nUpdate resumed: " + Utf8(CacheFolder()) + "\\Runs\\" + Utf8(strGuid) +
                                "\r\nRun Lumet\r\nC:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe";
    EXPECT_TRUE(again.starts_with(resumed)) << again;
    // Then the update asked for, of a release installed now.
    EXPECT_NE(again.find(kUnsigned, resumed.size()), std::string::npos) << again;
}

// An install and its restore that both fail leave a record; one left while
// another release was installed since is refused, and ended.
TEST(EndToEndResume, AStaleRecordIsRefusedAndChangesNothing)
{
    PrepareInstalledMachine();
    // Neither the new release nor the installed one installs there.
    SetInstalledValue(L"InstallLocation", L"D:\\Apps\\Vimo\\");
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), DWORD{ERROR_INSTALL_FAILURE});
    EXPECT_EQ(RunLog(), LogOfChecks() + "Install failed (1603); restore failed (1603)\r\nApplication not started: the "
                                        "install failed\r\nUpdate to be tried again at the next start (1603)\r\n");
    const std::vector<std::wstring> vecPending = SubKeys(kRunsKey);
    ASSERT_EQ(vecPending.size(), 1u);
    const std::wstring strGuid = vecPending[0];

    Msiexec(L"/i \"" + Package(L"old.msi") + L"\" /qn");
    const size_t nLogs = FilesIn(InstallerLogs() + L"\\VimoLumet*.log").size();
    EXPECT_EQ(RunUpdater(L"/resume " + strGuid), DWORD{ERROR_PRODUCT_VERSION});
    EXPECT_EQ(RunLog(), "Update resumed: " + Utf8(CacheFolder()) + "\\Runs\\" + Utf8(strGuid) +
                            "\r\nResume refused: another release is installed now: " + Utf8(strGuid) + "\r\n");
    EXPECT_EQ(FilesIn(InstallerLogs() + L"\\VimoLumet*.log").size(), nLogs); // no installer ran
    EXPECT_TRUE(Installed(L"{C0DE0004-5A7E-4C1D-9B2A-000000000004}"));
    EXPECT_FALSE(Installed(kNew));
    ExpectNothingToResume();
}
}
