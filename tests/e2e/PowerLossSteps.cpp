// The steps of the power-loss tests (power-loss.sh), each run on its own in
// one prefix: the machine before the update, its resume service while a run
// works, the first program of each start of the machine, and the machine
// after the update was interrupted and the prefix started again, once the
// resumed update that the start brought has ended.
#include "EndToEndSupport.h"

#include <memory>

namespace
{
const std::wstring kCache = L"C:\\ProgramData\\LumetUpdate";
const std::wstring kLumetUpdateKey = L"SOFTWARE\\Vimo\\LumetUpdate";
const char kNobodysDesktop[] = "Application not started: resumed at the start of the machine, on nobody's desktop\r\n";

// The names of the keys below strKey; none when it is not there.
std::vector<std::wstring> SubKeys(const std::wstring& strKey)
{
    std::vector<std::wstring> names;
    CMyRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, strKey.c_str()) != ERROR_SUCCESS)
        return names;
    wchar_t szName[256];
    for (DWORD i = 0, cch = 256; ::RegEnumKeyExW(key.Get(), i, szName, &cch, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i, cch = 256)
        names.emplace_back(szName, cch);
    return names;
}

// The resume services there are, each with its status.
std::vector<ENUM_SERVICE_STATUS_PROCESSW> ResumeServices()
{
    std::vector<ENUM_SERVICE_STATUS_PROCESSW> found;
    const std::unique_ptr<SC_HANDLE__, decltype(&::CloseServiceHandle)> manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE), &::CloseServiceHandle);
    DWORD cb = 0, n = 0;
    std::vector<BYTE> buffer;
    while (manager &&
           !::EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                    buffer.data(), static_cast<DWORD>(buffer.size()), &cb, &n, nullptr, nullptr))
    {
        if (::GetLastError() != ERROR_MORE_DATA)
        {
            ADD_FAILURE() << "services not listed: " << ::GetLastError();
            return found;
        }
        buffer.resize(buffer.size() + cb);
    }
    const auto* pEntries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < n; ++i)
        if (::_wcsnicmp(pEntries[i].lpServiceName, L"LumetUpdate-", 12) == 0)
            found.push_back(pEntries[i]);
    return found;
}

// Nothing is left for a later start to take up: no run's record, no resume
// service.
void ExpectNothingToResume()
{
    EXPECT_EQ(SubKeys(kLumetUpdateKey + L"\\Runs"), std::vector<std::wstring>{});
    for (const std::wstring& strService : SubKeys(L"System\\CurrentControlSet\\Services"))
        EXPECT_NE(::_wcsnicmp(strService.c_str(), L"LumetUpdate-", 12), 0) << Utf8(strService);
}

// What an ended run leaves: nothing to resume, and of the cache's runs only
// the one that keeps the installed package, as strCode's kept package,
// holding nothing but strFolder\pszPackage, a whole copy of that package
// (the resumed run's copy of the updater went at this start). The run's
// GUID, or empty.
std::wstring ExpectTheRunEnded(const std::wstring& strCode, const std::wstring& strFolder, const wchar_t* pszPackage)
{
    ExpectNothingToResume();
    EXPECT_EQ(SubKeys(kLumetUpdateKey + L"\\Kept"), std::vector<std::wstring>{strCode});
    const std::vector<std::wstring> runs = FilesIn(kCache + L"\\Runs\\*");
    if (runs.size() != 1)
    {
        ADD_FAILURE() << "run folders left: " << runs.size();
        return std::wstring();
    }
    const std::wstring strRun = kCache + L"\\Runs\\" + runs[0];
    EXPECT_EQ(FilesIn(strRun + L"\\*"), std::vector<std::wstring>{strFolder});
    EXPECT_EQ(FilesIn(strRun + L"\\" + strFolder + L"\\*"), std::vector<std::wstring>{pszPackage});
    const std::wstring strKept = L"Runs\\" + runs[0] + L"\\" + strFolder + L"\\" + pszPackage;
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kLumetUpdateKey + L"\\Kept\\" + strCode, L"Path"), strKept);
    EXPECT_TRUE(ReadBytes(kCache + L"\\" + strKept) == ReadBytes(Package(pszPackage)));
    return runs[0];
}

// The log of the resumed run, which the service started: beside the first
// run's, what it took up first, and no application started on a desktop
// nobody is signed in to.
std::string ResumedLog()
{
    EXPECT_GE(FilesIn(LogFolder() + L"\\Vimo_LumetUpdate*.log").size(), 2u);
    EXPECT_TRUE(FakeRuns().empty());
    return ReadBytes(LogFolder() + L"\\" + NewestLogName());
}
std::string Resumed(const std::wstring& strGuid) { return "Update resumed: " + Utf8(kCache + L"\\Runs\\" + strGuid); }

// Whether the release of strCode is whole at the application's place: known
// to the Windows Installer, named in the maker's key, and its files there.
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

// The machine starts again, this its first program: the service manager
// starts the resume service, if one is left, as the start begins, and this
// ends once that service has run and stopped (a service not yet started
// this time says it never was), or has gone.
TEST(PowerLoss, StartOfTheMachine)
{
    for (DWORD dwWaited = 0;; dwWaited += 100)
    {
        std::string running;
        for (const ENUM_SERVICE_STATUS_PROCESSW& service : ResumeServices())
            if (service.ServiceStatusProcess.dwCurrentState != SERVICE_STOPPED ||
                service.ServiceStatusProcess.dwWin32ExitCode == ERROR_SERVICE_NEVER_STARTED)
                running += Utf8(service.lpServiceName) + " ";
        if (running.empty())
            return;
        ASSERT_LT(dwWaited, 180000u) << "not over after 3 minutes: " << running;
        ::Sleep(100);
    }
}

// While a run works, held in its install: its resume service stands for the
// next start, as the service manager is to start it (a process of its own,
// at the start of the machine, as LocalSystem, the updater's copy in the
// run's folder with the run's GUID), and is not marked for deletion: Windows
// starts no service so marked at the next start. (Wine forgets the mark at a
// power loss: the service manager is asked instead, whose change of nothing
// in the configuration refuses a marked service.)
TEST(PowerLoss, ResumeServiceStands)
{
    const std::vector<std::wstring> runs = FilesIn(kCache + L"\\Runs\\*");
    ASSERT_EQ(runs.size(), 1u);
    const std::wstring& strGuid = runs[0];
    using CService = std::unique_ptr<SC_HANDLE__, decltype(&::CloseServiceHandle)>;
    const CService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT), &::CloseServiceHandle);
    const CService service(::OpenServiceW(manager.get(), (L"LumetUpdate-" + strGuid).c_str(),
                                          SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG),
                           &::CloseServiceHandle);
    ASSERT_TRUE(service) << ::GetLastError();
    std::vector<BYTE> buffer(8192);
    DWORD cb = 0;
    const auto* pConfig = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
    ASSERT_TRUE(::QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                      static_cast<DWORD>(buffer.size()), &cb))
        << ::GetLastError();
    EXPECT_EQ(pConfig->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(pConfig->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(std::wstring(pConfig->lpServiceStartName), L"LocalSystem");
    EXPECT_EQ(std::wstring(pConfig->lpBinaryPathName),
              L"\"" + kCache + L"\\Runs\\" + strGuid + L"\\LumetUpdate.exe\" /resume " + strGuid);
    EXPECT_TRUE(::ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        << ::GetLastError();
}

// The update was finished at the next start: the new release is installed,
// every earlier one removed.
TEST(PowerLoss, FinishedAfterTheRestart)
{
    for (const auto& [name, code] : ListedProducts())
        EXPECT_FALSE(Installed(code)) << Utf8(code);
    EXPECT_FALSE(Installed(kInstalled));
    EXPECT_TRUE(WholeRelease(kNew, L"NEW_RELEASE.txt"));
    const std::wstring strGuid = ExpectTheRunEnded(kNew, L"Package", L"slow.msi");
    EXPECT_EQ(ResumedLog(), Resumed(strGuid) + "\r\n" + kNobodysDesktop);
}

// The copy of the new package was cut short: nothing is installed from it,
// and the installed release comes back from the restore package, which the
// cache keeps from then on. (The files the interrupted install had put in
// place stay: Wine's installer rolls nothing back after a power loss.)
TEST(PowerLoss, RestoredAfterTheRestart)
{
    EXPECT_TRUE(WholeRelease(kInstalled, L"OLD_RELEASE.txt"));
    EXPECT_FALSE(Installed(kNew));
    const std::wstring strGuid = ExpectTheRunEnded(kInstalled, L"Restore", L"installed.msi");
    EXPECT_EQ(ResumedLog(), Resumed(strGuid) +
                                "\r\nPackage copy does not match its record: " + Utf8(kCache + L"\\Runs\\" + strGuid) +
                                "\\Package\\slow.msi\r\nInstall failed (1603); restored " + Utf8(kInstalled) +
                                " from " + Utf8(Package(L"installed.msi")) + "\r\n" + kNobodysDesktop);
}

// Wherever the power was lost, once the starts have run their course a whole
// application is installed, the earlier release or the new one, and nothing
// is left to resume.
TEST(PowerLoss, WholeApplication)
{
    EXPECT_TRUE(WholeRelease(kInstalled, L"OLD_RELEASE.txt") || WholeRelease(kNew, L"NEW_RELEASE.txt"))
        << "installed: " << Installed(kInstalled) << " new: " << Installed(kNew)
        << " maker's key: " << Utf8(RegText(HKEY_LOCAL_MACHINE, kMakerKey, L"ProductCode"));
    ExpectNothingToResume();
}
}
