#include "installer/InstallerRuns.h"

#include "TestSupport.h"

#include "installer/ProcessRunner.h"
#include "win/Security.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <utility>
#include <vector>

namespace
{
struct StartedRun
{
    std::wstring strApplication, strCommandLine, strFolder;
    bool operator==(const StartedRun&) const = default;
};
using Runs = std::vector<StartedRun>;
Runs g_vecRun;
// Records the run in g_vecRun instead of starting anything; every run
// succeeds, with 1618 while g_nBusy counts down, then with g_dwExitCode.
DWORD g_dwExitCode = 0;
int g_nBusy = 0;
DWORD RecordRun(const ChildProgram& program, DWORD& dwExitCode)
{
    g_vecRun.push_back({program.strApplication, program.strCommandLine, program.strFolder});
    dwExitCode = g_nBusy-- > 0 ? ERROR_INSTALL_ALREADY_RUNNING : g_dwExitCode;
    return ERROR_SUCCESS;
}
const std::wstring kSystem = L"C:\\windows\\system32";
const std::wstring kMsiexec = kSystem + L"\\msiexec.exe";
const std::wstring kLogFolder = (std::filesystem::temp_directory_path() / L"VimoLog").wstring();
const std::wstring kOwnUninstaller = L"C:\\Program Files (x86)\\Vimo\\uninst.exe";

// The owners and access lists the program reads (Wine keeps none): the
// administrators' alone, as below the program-files folders, everywhere but
// in the uninstaller's own folder, which g_strFolderSddl gives.
const wchar_t kAdministratorsAlone[] = L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;FA;;;CO)";
std::wstring g_strFolderSddl = kAdministratorsAlone;
DWORD WINAPI PresentSecurity(HANDLE h, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* ppOwner, PSID*, PACL* ppDacl, PACL*,
                             PSECURITY_DESCRIPTOR* ppSecurity)
{
    wchar_t szPath[MAX_PATH] = {};
    ::GetFinalPathNameByHandleW(h, szPath, MAX_PATH, 0);
    const std::wstring strSddl = std::wstring(szPath).ends_with(L"\\Vimo") ? g_strFolderSddl : kAdministratorsAlone;
    BOOL bDefaulted = FALSE, bPresent = FALSE;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(strSddl.c_str(), SDDL_REVISION_1, ppSecurity, nullptr))
        return ::GetLastError();
    ::GetSecurityDescriptorOwner(*ppSecurity, ppOwner, &bDefaulted);
    ::GetSecurityDescriptorDacl(*ppSecurity, &bPresent, ppDacl, &bDefaulted);
    return ERROR_SUCCESS;
}

TEST(InstallerRunsTest, EachOperationStartsItsOneProgramWithItsCommandLine)
{
    const std::wstring strLog = L" /lv \"" + kLogFolder + L"\\VimoLumet20210102_030405.log\"";
    const std::wstring strCode = L"{8FB82970-3479-4000-ABC5-3425AC3B2087}";
    const std::wstring strOwnFolder = L"C:\\Program Files (x86)\\Vimo", strOwn = L"\"" + kOwnUninstaller + L"\" /S";
    const wchar_t* pszSetup = L"C:\\Setup Files\\Vimo Setup.exe";
    struct Case
    {
        const char* pszLabel;
        const wchar_t* pszArgument; // the package, or with no folder the uninstall command
        const wchar_t* pszFolder;   // null: a removal
        Runs vecRun;
        std::string log = {};
        int nBusy = 0;        // answers of 1618 before the run is let in
        DWORD dwExitCode = 0; // then the run's
        const wchar_t* pszOwnFolderSddl = kAdministratorsAlone;
    };
    const StartedRun quiet = {kMsiexec, L"MsiExec.exe /X" + strCode + L" /quiet /norestart" + strLog, kSystem};
    // The run of the system's msiexec that installs the package into the folder.
    const auto install = [&](const std::wstring& strPackage, const std::wstring& strFolder) {
        const std::wstring strCommand = L"MsiExec.exe /i \"" + strPackage + L"\" INSTALLDIR=\"" + strFolder + L"\"";
        return Runs{{kMsiexec, strCommand + L" /qn /norestart" + strLog, kSystem}};
    };
    const Runs toApps = install(L"C:\\Temp\\new.msi", L"C:\\Apps\\");
    const StartedRun setup = {pszSetup, L"\"" + std::wstring(pszSetup) + L"\" /silent", L"C:\\Setup Files"};
    const auto own = [&](const std::wstring& strCommand) { return Runs{{kOwnUninstaller, strCommand, strOwnFolder}}; };
    const std::string strBusy = "Another installation is in progress (1618): trying again in 5 s\r\n";
    const std::string strOwnNotRun = "Uninstall command not run: " + Utf8(strOwn) + "\r\n";
    std::vector<Case> cases = {
        {"no command", nullptr, nullptr, {quiet}},
        // No installer run restarts the machine: one that needs a restart
        // says so by its exit code, which the session remembers.
        {"unknown product", nullptr, nullptr, {quiet}, {}, 0, ERROR_UNKNOWN_PRODUCT},
        {"restart needed", nullptr, nullptr, {quiet}, {}, 0, ERROR_SUCCESS_REBOOT_REQUIRED},
        {"lower case, other code", L"msiexec.exe /x{OTHER-CODE}", nullptr, {quiet}},
        {"held twice by another installation", nullptr, nullptr, {quiet, quiet, quiet}, strBusy + strBusy, 2},
        {"maintenance form", L"MsiExec.exe /I{OTHER-CODE}", nullptr, {quiet}},
        {"quoted, by full path", L"\"C:\\Windows\\System32\\msiexec.exe\" /x{OTHER-CODE}", nullptr, {quiet}},
        {"elsewhere", L"D:\\Tools\\MSIEXEC /x{OTHER-CODE}", nullptr, {quiet}},
        {"own uninstaller, quoted", strOwn.c_str(), nullptr, own(strOwn)},
        {"own uninstaller, blanks unquoted", L"C:\\Program Files (x86)\\Vimo\\uninst.exe /S", nullptr,
         own(L"C:\\Program Files (x86)\\Vimo\\uninst.exe /S")},
        {"no folder", L"uninst.exe /S", nullptr, {}, "Uninstall command not run: uninst.exe /S\r\n"},
        {"empty command", L"", nullptr, {}},
        {".exe, blanks", pszSetup, L"D:\\", {setup}},
        {"no package", L"", L"", {}},
        {".Msi, no folder", L"C:\\Temp\\new.Msi", L"", install(L"C:\\Temp\\new.Msi", strOwnFolder + L"\\")},
        {"restart started", L"C:\\Temp\\new.msi", L"C:\\Apps\\", toApps, {}, 0, ERROR_SUCCESS_REBOOT_INITIATED},
    };

    // A stored uninstall program that is not the Windows Installer runs with
    // the updater's rights: not where users may add files beside it, delete
    // what its folder holds, or own it, nor where an entry cannot be read.
    for (const wchar_t* pszSddl :
         {L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200ab;;;BU)",
          L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200e9;;;AU)", L"O:BUD:PAI(A;;FA;;;SY)(A;;FA;;;BA)",
          L"O:BAD:PAI(A;;FA;;;SY)(OA;;FA;bf967aba-0de6-11d0-a285-00aa003049e2;;BU)"})
        cases.push_back({"own uninstaller, changeable", strOwn.c_str(), nullptr, {}, strOwnNotRun, 0, 0, pszSddl});

    FixedClock clock(MakeSystemTime(2021, 1, 2, 3, 4, 5));
    WriteBytes(kOwnUninstaller, "uninstaller");
    const SeamOverride<PfnGetSecurityInfo> security(g_pfnGetSecurityInfo, &PresentSecurity);
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, &RecordRun);
    CWorkFolder work;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLabel + (" " + Utf8(c.pszOwnFolderSddl)));
        std::error_code ec;
        std::filesystem::remove_all(kLogFolder, ec);
        g_vecRun.clear();
        g_nBusy = c.nBusy;
        g_dwExitCode = c.dwExitCode;
        g_strFolderSddl = c.pszOwnFolderSddl;
        const LogCapture log;
        CInstallerSession session(work);
        if (!c.pszFolder)
            UninstallProduct(session, c.pszArgument, strCode);
        else if (const DWORD dwResult = InstallPackage(session, c.pszArgument, c.pszFolder); !c.vecRun.empty())
        {
            EXPECT_EQ(dwResult, c.dwExitCode);
        }
        EXPECT_EQ(session.RestartNeeded(),
                  c.dwExitCode == ERROR_SUCCESS_REBOOT_REQUIRED || c.dwExitCode == ERROR_SUCCESS_REBOOT_INITIATED);
        EXPECT_EQ(g_vecRun, c.vecRun);
        // The installer's log folder is made for the Windows Installer's runs alone.
        EXPECT_EQ(IsFolder(kLogFolder), !c.vecRun.empty() && c.vecRun[0].strApplication == kMsiexec);
        EXPECT_EQ(log.Bytes(), c.log);
    }
}

// A VimoLog that the user made before the update, as any user may below
// their temporary folder, is not the update's: it is moved aside as it is,
// and the installer's logs go to a new one.
TEST(InstallerRunsTest, AVimoLogTheUserMadeIsMovedAsideNotUsed)
{
    const std::wstring strTemp = kLogFolder.substr(0, kLogFolder.rfind(L'\\') + 1);
    std::error_code ec;
    for (const std::wstring& strName : FilesIn(strTemp + L"VimoLog*"))
        std::filesystem::remove_all(strTemp + strName, ec);
    WriteBytes(kLogFolder + L"\\mine.txt", "the user's");
    CWorkFolder work;
    CInstallerSession session(work);

    const std::wstring strLog = session.GetInstallerLogPath();

    EXPECT_TRUE(strLog.starts_with(kLogFolder + L"\\VimoLumet")) << Utf8(strLog);
    EXPECT_FALSE(Exists(kLogFolder + L"\\mine.txt"));
    const std::vector<std::wstring> vecAside = FilesIn(strTemp + L"VimoLog-{*");
    ASSERT_EQ(vecAside.size(), 1u);
    EXPECT_EQ(ReadBytes(strTemp + vecAside[0] + L"\\mine.txt"), "the user's");
}
}
