// The steps of the power-loss tests (power-loss.sh), each run on its own in
// the one prefix: they set up, wait for and check the machine.
#include "EndToEndSupport.h"

#include <memory>

namespace
{
const char kNobodysDesktop[] = "Application not started: resumed at the start of the machine, on nobody's desktop\r\n";
using CService = std::unique_ptr<SC_HANDLE__, decltype(&::CloseServiceHandle)>;

// The resumed run's log; it started no application on nobody's desktop.
std::string ResumedLog()
{
    EXPECT_GE(FilesIn(LogFolder() + L"\\Vimo_LumetUpdate*.log").size(), 2u);
    EXPECT_TRUE(FakeRuns().empty());
    return ReadBytes(LogFolder() + L"\\" + NewestLogName());
}

// Whether the release of strCode is whole: installed, in the maker's key, its files there.
bool WholeRelease(const std::wstring& strCode, const wchar_t* pszMarker)
{
    return Installed(strCode) && ::MsiQueryProductStateW(strCode.c_str()) == INSTALLSTATE_DEFAULT &&
           RegText(HKEY_LOCAL_MACHINE, kMakerKey, L"ProductCode") == strCode &&
           Exists(L"C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe") &&
           Exists(std::wstring(L"C:\\Apps\\Vimo\\VimoLumet\\") + pszMarker);
}

// Vimo Lumet installed, the update's packages and the updater at hand.
TEST(PowerLoss, Prepare)
{
    PrepareInstalledMachine();
    Copy(Package(L"slow.msi"), L"C:\\Temp\\slow.msi");
    Copy(FromUnix(LUMET_UPDATE_EXE), L"C:\\Tools\\LumetUpdate.exe");
}

// The first program of a start of the machine: ends once any resume service
// has run and stopped (one not yet started says it never was), or has gone.
TEST(PowerLoss, StartOfTheMachine)
{
    const CService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT), &::CloseServiceHandle);
    ASSERT_TRUE(manager) << ::GetLastError();
    for (DWORD dwWaited = 0;; dwWaited += 100)
    {
        std::string running;
        for (const std::wstring& strName : ResumeServices())
        {
            const CService service(::OpenServiceW(manager.get(), strName.c_str(), SERVICE_QUERY_STATUS),
                                   &::CloseServiceHandle);
            SERVICE_STATUS status = {};
            if (service && ::QueryServiceStatus(service.get(), &status) &&
                (status.dwCurrentState != SERVICE_STOPPED || status.dwWin32ExitCode == ERROR_SERVICE_NEVER_STARTED))
                running += Utf8(strName) + " ";
        }
        if (running.empty())
            return;
        ASSERT_LT(dwWaited, 180000u) << "not over after 3 minutes: " << running;
        ::Sleep(100);
    }
}

// While a run is held in its install, its resume service stands for the next
// start, and is not marked for deletion (which Wine forgets at a power loss,
// so a change of nothing in the configuration asks instead).
TEST(PowerLoss, ResumeServiceStands)
{
    const std::vector<std::wstring> runs = FilesIn(CacheFolder() + L"\\Runs\\*");
    ASSERT_EQ(runs.size(), 1u);
    ExpectTheServiceStands(runs[0]);
    const CService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT), &::CloseServiceHandle);
    const CService service(::OpenServiceW(manager.get(), (L"LumetUpdate-" + runs[0]).c_str(), SERVICE_CHANGE_CONFIG),
                           &::CloseServiceHandle);
    ASSERT_TRUE(service) << ::GetLastError();
    EXPECT_TRUE(::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        << ::GetLastError();
}

TEST(PowerLoss, FinishedAfterTheRestart)
{
    for (const auto& [name, code] : ListedProducts())
        EXPECT_FALSE(Installed(code)) << Utf8(code);
    EXPECT_FALSE(Installed(kInstalled));
    EXPECT_TRUE(WholeRelease(kNew, L"NEW_RELEASE.txt"));
    const std::string run = ExpectTheRunEnded(kNew, L"Package", L"slow.msi");
    EXPECT_EQ(ResumedLog(), "Update resumed: " + run + "\r\n" + kNobodysDesktop);
}

// The package's copy was cut short: the installed release comes back from the
// restore package, which the cache then keeps.
TEST(PowerLoss, RestoredAfterTheRestart)
{
    EXPECT_TRUE(WholeRelease(kInstalled, L"OLD_RELEASE.txt"));
    EXPECT_FALSE(Installed(kNew));
    const std::string run = ExpectTheRunEnded(kInstalled, L"Restore", L"installed.msi");
    EXPECT_EQ(ResumedLog(), "Update resumed: " + run + "\r\nPackage copy does not match its record: " + run +
                                "\\Package\\slow.msi\r\nInstall failed (1603); restored " + Utf8(kInstalled) +
                                " from " + Utf8(Package(L"installed.msi")) + "\r\n" + kNobodysDesktop);
}

// Wherever the power was lost, a whole release, old or new, and nothing to resume.
TEST(PowerLoss, WholeApplication)
{
    EXPECT_TRUE(WholeRelease(kInstalled, L"OLD_RELEASE.txt") || WholeRelease(kNew, L"NEW_RELEASE.txt"))
        << "installed: " << Installed(kInstalled) << " new: " << Installed(kNew)
        << " maker's key: " << Utf8(RegText(HKEY_LOCAL_MACHINE, kMakerKey, L"ProductCode"));
    ExpectNothingToResume();
}
}
