// The steps of the power-loss tests (power-loss.sh), each run on its own in
// one prefix: the machine before the update, and the machine after the
// update was interrupted and the prefix started again.
#include "EndToEndSupport.h"

namespace
{
// What an ended run leaves: no RunOnce value, no record, and of its own
// folder only the copy of the updater that ran it, which goes at the restart.
void ExpectTheRunEnded()
{
    CMyRegKey runOnce;
    ASSERT_EQ(runOnce.Open(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"), 0u);
    wchar_t szName[256];
    for (DWORD i = 0, cch = 256;
         ::RegEnumValueW(runOnce.Get(), i, szName, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, cch = 256)
        EXPECT_FALSE(std::wstring(szName).starts_with(L"LumetUpdate-")) << Utf8(szName);
    CMyRegKey runs;
    DWORD cRuns = 0;
    if (runs.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vimo\\LumetUpdate\\Runs") == ERROR_SUCCESS)
        ::RegQueryInfoKeyW(runs.Get(), nullptr, nullptr, nullptr, &cRuns, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr);
    EXPECT_EQ(cRuns, 0u);
    for (const std::wstring& strFolder : FilesIn(L"C:\\windows\\Temp\\LumetUpdate-*"))
        EXPECT_EQ(FilesIn(L"C:\\windows\\Temp\\" + strFolder + L"\\*"), std::vector<std::wstring>{L"LumetUpdate.exe"});
}

// The resumed run's log, first of all saying what it took up.
std::string ResumedLog()
{
    const std::string log = ReadBytes(LogFolder() + L"\\" + NewestLogName());
    EXPECT_TRUE(log.starts_with("Update resumed: C:\\windows\\Temp\\LumetUpdate-{") ||
                log.starts_with("Update resumed: C:\\Windows\\Temp\\LumetUpdate-{"))
        << log;
    return log;
}

// Vimo Lumet installed, the update's packages and the updater at hand.
TEST(PowerLoss, Prepare)
{
    PrepareInstalledMachine();
    Copy(Package(L"slow.msi"), L"C:\\Temp\\slow.msi");
    Copy(FromUnix(LUMET_UPDATE_EXE), L"C:\\Tools\\LumetUpdate.exe");
}

// The update was finished at the next start: the new release is installed,
// every earlier one removed.
TEST(PowerLoss, FinishedAfterTheRestart)
{
    for (const auto& [name, code] : ListedProducts())
        EXPECT_FALSE(Installed(code)) << Utf8(code);
    EXPECT_FALSE(Installed(kInstalled));
    EXPECT_TRUE(Installed(kNew));
    EXPECT_TRUE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\NEW_RELEASE.txt"));
    const std::string log = ResumedLog();
    EXPECT_NE(log.find("Run Lumet\r\nC:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe"), std::string::npos) << log;
    ExpectTheRunEnded();
}

// The copy of the new package was cut short: nothing is installed from it,
// and the installed release comes back from the restore package. (The files
// the interrupted install had put in place stay: Wine's installer rolls
// nothing back after a power loss.)
TEST(PowerLoss, RestoredAfterTheRestart)
{
    EXPECT_TRUE(Installed(kInstalled));
    EXPECT_FALSE(Installed(kNew));
    EXPECT_TRUE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\OLD_RELEASE.txt"));
    const std::string log = ResumedLog();
    EXPECT_NE(log.find("Package copy does not match its record: "), std::string::npos) << log;
    EXPECT_NE(
        log.find("Install failed (1603); restored " + Utf8(kInstalled) + " from " + Utf8(Package(L"installed.msi"))),
        std::string::npos)
        << log;
    ExpectTheRunEnded();
}
}
