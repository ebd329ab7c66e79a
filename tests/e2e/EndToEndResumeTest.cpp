// An update that cannot finish in one run: what it leaves for the next start
// of the machine (a record and a service), and what the next run does with
// it. The power-loss tests (power-loss.sh) restart the machine itself.
#include "EndToEndSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
const std::wstring kRuns = L"SOFTWARE\\Vimo\\LumetUpdate\\Runs";
const std::wstring kServices = L"System\\CurrentControlSet\\Services\\";

// The GUIDs of the runs whose record is kept.
std::vector<std::wstring> PendingRuns()
{
    std::vector<std::wstring> vecGuids;
    CMyRegKey runs;
    wchar_t szName[64];
    DWORD cch = 64;
    for (DWORD i = 0; runs.Get() || runs.Open(HKEY_LOCAL_MACHINE, kRuns.c_str()) == ERROR_SUCCESS; ++i, cch = 64)
    {
        if (::RegEnumKeyExW(runs.Get(), i, szName, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        vecGuids.emplace_back(szName, cch);
    }
    return vecGuids;
}

// The service of the run strGuid: its program and how it starts, or "<none>".
std::wstring ServiceOf(const std::wstring& strGuid)
{
    DWORD dwStart = 0, cb = sizeof(dwStart);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, (kServices + L"LumetUpdate-" + strGuid).c_str(), L"Start", RRF_RT_REG_DWORD,
                       nullptr, &dwStart, &cb) != ERROR_SUCCESS)
        return L"<none>";
    return RegText(HKEY_LOCAL_MACHINE, kServices + L"LumetUpdate-" + strGuid, L"ImagePath") + L" start " +
           std::to_wstring(dwStart) + L" as " +
           RegText(HKEY_LOCAL_MACHINE, kServices + L"LumetUpdate-" + strGuid, L"ObjectName");
}

std::wstring ServiceExpected(const std::wstring& strGuid)
{
    return L"\"" + CacheFolder() + L"\\Runs\\" + strGuid + L"\\LumetUpdate.exe\" /resume " + strGuid +
           L" start 2 as LocalSystem";
}

// From before the first removal to the end of the install, the update can be
// resumed by the service, whoever signs in next, or nobody; once it is over,
// neither the service nor the record is left. Meanwhile a second update is
// refused, never run beside it.
TEST(EndToEndResume, TheServiceStandsFromTheFirstRemovalToTheEndOfTheUpdate)
{
    PrepareInstalledMachine();
    Copy(Package(L"slow.msi"), L"C:\\Temp\\slow.msi");
    WriteBytes(L"C:\\lumet-block", "");
    std::vector<std::wstring> vecDuring;
    std::wstring strService;
    DWORD dwSecond = 0;
    std::string second;
    std::thread watcher([&] {
        // The install is held in its custom action until the block goes.
        EXPECT_TRUE(WaitForFile(L"C:\\lumet-blocked", 120000).has_value());
        vecDuring = PendingRuns();
        if (vecDuring.size() == 1)
            strService = ServiceOf(vecDuring[0]);
        ::Sleep(1000); // the second update's log is named after another second
        dwSecond = RunAndWait(L"\"" + FromUnix(LUMET_UPDATE_EXE) + L"\" C:\\Temp\\new.msi", 120000);
        second = ReadBytes(LogFolder() + L"\\" + NewestLogName());
        ::DeleteFileW(L"C:\\lumet-block");
    });
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\slow.msi"), 0u);
    watcher.join();
    ASSERT_EQ(vecDuring.size(), 1u);
    EXPECT_EQ(strService, ServiceExpected(vecDuring[0]));
    EXPECT_EQ(dwSecond, DWORD{ERROR_INSTALL_ALREADY_RUNNING});
    EXPECT_EQ(second, "Update refused: another update is in progress: C:\\Temp\\new.msi\r\n");
    EXPECT_EQ(ServiceOf(vecDuring[0]), L"<none>");
    EXPECT_TRUE(PendingRuns().empty());
    EXPECT_TRUE(Installed(kNew));
}

// Another installation holds the Windows Installer past the install's
// retries, after the removals: the update ends with 1618 and keeps its record
// and service, with nothing installed and nothing put back. Running the
// updater again, as a user would, carries out that run first, from its copy
// in the cache, never a second run beside it; then the update asked for.
TEST(EndToEndResume, AnInstallHeldPastItsRetriesIsCarriedOutByTheNextRunFirst)
{
    PrepareInstalledMachine();
    Copy(FakeAppPath(), L"C:\\windows\\system32\\msiexec.exe");
    Copy(FromUnix(LUMET_WINE_MSIEXEC), L"C:\\windows\\lumet-real-msiexec.exe");
    ASSERT_EQ(RunAndWait(L"reg.exe add HKCU\\Software\\Wine\\DllOverrides /v msiexec.exe /d native /f"), 0u);
    WriteBytes(L"C:\\lumet-busy", "~"); // more answers of 1618 than three minutes of retries ask for
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), DWORD{ERROR_INSTALL_ALREADY_RUNNING});
    EXPECT_FALSE(Installed(kInstalled) || Installed(kNew));
    const std::vector<std::wstring> vecPending = PendingRuns();
    ASSERT_EQ(vecPending.size(), 1u);
    const std::wstring strGuid = vecPending[0];
    EXPECT_EQ(ServiceOf(strGuid), ServiceExpected(strGuid));
    const std::string first = RunLog();
    EXPECT_TRUE(first.ends_with("Application not started: the install failed\r\n"
                                "Update to be tried again at the next start (1618)\r\n"))
        << first;
    EXPECT_EQ(first.find("Install failed"), std::string::npos) << first;

    WriteBytes(L"C:\\lumet-busy", "0");
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), 0u);
    EXPECT_TRUE(Installed(kNew));
    EXPECT_TRUE(PendingRuns().empty());
    EXPECT_EQ(ServiceOf(strGuid), L"<none>");
    const std::string again = RunLog();
    const std::string resumed = "Unfinished update found: " + Utf8(strGuid) +
                                "\r\nUpdate resumed: " + Utf8(CacheFolder()) + "\\Runs\\" + Utf8(strGuid) +
                                "\r\nRun Lumet\r\nC:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe";
    EXPECT_TRUE(again.starts_with(resumed)) << again;
    // Then the update asked for, of a release installed now.
    EXPECT_NE(again.find(kUnsigned, resumed.size()), std::string::npos) << again;
}

// A record left by an update that could not finish, while another release
// was installed meanwhile: the resume refuses it, ends it, and changes
// nothing.
TEST(EndToEndResume, AStaleRecordIsRefusedAndChangesNothing)
{
    PrepareInstalledMachine();
    // Neither the new release nor the installed one installs there.
    const std::wstring strLocation = L"D:\\Apps\\Vimo\\";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kUninstall + kInstalled).c_str(), L"InstallLocation", REG_SZ,
                                strLocation.c_str(), static_cast<DWORD>((strLocation.size() + 1) * sizeof(wchar_t))),
              0);
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), DWORD{ERROR_INSTALL_FAILURE});
    const std::vector<std::wstring> vecPending = PendingRuns();
    ASSERT_EQ(vecPending.size(), 1u);
    const std::wstring strGuid = vecPending[0];

    Msiexec(L"/i \"" + Package(L"old.msi") + L"\" /qn");
    const size_t nLogs = FilesIn(TempFolder() + L"VimoLog\\VimoLumet*.log").size();
    EXPECT_EQ(RunUpdater(L"/resume " + strGuid), DWORD{ERROR_PRODUCT_VERSION});
    EXPECT_EQ(RunLog(), "Update resumed: " + Utf8(CacheFolder()) + "\\Runs\\" + Utf8(strGuid) +
                            "\r\nResume refused: another release is installed now: " + Utf8(strGuid) + "\r\n");
    EXPECT_EQ(FilesIn(TempFolder() + L"VimoLog\\VimoLumet*.log").size(), nLogs); // no installer ran
    EXPECT_TRUE(Installed(L"{C0DE0004-5A7E-4C1D-9B2A-000000000004}"));
    EXPECT_FALSE(Installed(kNew));
    EXPECT_TRUE(PendingRuns().empty());
    EXPECT_EQ(ServiceOf(strGuid), L"<none>");
}
}
