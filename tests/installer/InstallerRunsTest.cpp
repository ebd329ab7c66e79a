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
// Each run: the program started by its path, its command line and the folder
// it starts in.
struct StartedRun
{
    std::wstring strApplication, strCommandLine, strFolder;
    bool operator==(const StartedRun&) const = default;
};
using Runs = std::vector<StartedRun>;
Runs g_vecRun;
// Records the run in g_vecRun instead of starting anything; every run
// succeeds, with g_dwExitCode.
DWORD g_dwExitCode = 0;
DWORD RecordRun(const ChildProgram& program, DWORD& dwExitCode)
{
    g_vecRun.push_back({program.strApplication, program.strCommandLine, program.strFolder});
    dwExitCode = g_dwExitCode;
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
    const std::wstring strQuiet = L"MsiExec.exe /X" + strCode + L" /quiet /norestart" + strLog;
    const std::wstring strOwn = L"C:\\Program Files (x86)\\Vimo\\uninst.exe";
    const wchar_t* pszSetup = L"C:\\Setup Files\\Vimo Setup.exe";
    struct Case
    {
        const char* pszLabel;
        const wchar_t* pszArgument; // the package, or with no folder the uninstall command
        const wchar_t* pszFolder;   // null: a removal
        Runs vecRun;
        bool bLogFolder;
        std::string log = {};
    };
    const std::wstring strOwnFolder = L"C:\\Program Files (x86)\\Vimo";
    const StartedRun quiet = {kMsiexec, strQuiet, kSystem};
    const Case cases[] = {
        {"no command", nullptr, nullptr, {quiet}, true},
        {"lower case, other code", L"msiexec.exe /x{OTHER-CODE}", nullptr, {quiet}, true},
        {"maintenance form", L"MsiExec.exe /I{OTHER-CODE}", nullptr, {quiet}, true},
        {"without .exe", L"msiexec /x{OTHER-CODE}", nullptr, {quiet}, true},
        {"quoted, by full path", L"\"C:\\Windows\\System32\\msiexec.exe\" /x{OTHER-CODE}", nullptr, {quiet}, true},
        {"elsewhere", L"D:\\Tools\\MSIEXEC /x{OTHER-CODE}", nullptr, {quiet}, true},
        {"own uninstaller, quoted",
         L"\"C:\\Program Files (x86)\\Vimo\\uninst.exe\" /S",
         nullptr,
         {{strOwn, L"\"C:\\Program Files (x86)\\Vimo\\uninst.exe\" /S", strOwnFolder}},
         false},
        {"own uninstaller, blanks unquoted",
         L"C:\\Program Files (x86)\\Vimo\\uninst.exe /S",
         nullptr,
         {{strOwn, L"C:\\Program Files (x86)\\Vimo\\uninst.exe /S", strOwnFolder}},
         false},
        {"no folder", L"uninst.exe /S", nullptr, {}, false, "Uninstall command not run: uninst.exe /S\r\n"},
        {"empty command", L"", nullptr, {}, false},
        {".exe, blanks",
         pszSetup,
         L"D:\\",
         {{pszSetup, L"\"" + std::wstring(pszSetup) + L"\" /silent", L"C:\\Setup Files"}},
         false},
        {"no package", L"", L"", {}, false},
        {".Msi, no folder",
         L"C:\\Temp\\new.Msi",
         L"",
         {{kMsiexec,
           L"MsiExec.exe /i \"C:\\Temp\\new.Msi\" INSTALLDIR=\"C:\\Program Files (x86)\\Vimo\\\" /qn /norestart" +
               strLog,
           kSystem}},
         true},
    };

    FixedClock clock(MakeSystemTime(2021, 1, 2, 3, 4, 5));
    WriteBytes(kOwnUninstaller, "uninstaller");
    const SeamOverride<PfnGetSecurityInfo> security(g_pfnGetSecurityInfo, &PresentSecurity);
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, &RecordRun);
    CWorkFolder work;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        std::error_code ec;
        std::filesystem::remove_all(kLogFolder, ec);
        g_vecRun.clear();
        const LogCapture log;
        CInstallerSession session(work);
        if (c.pszFolder)
            InstallPackage(session, c.pszArgument, c.pszFolder);
        else
            UninstallProduct(session, c.pszArgument, strCode);
        EXPECT_EQ(g_vecRun, c.vecRun);
        EXPECT_EQ(IsFolder(kLogFolder), c.bLogFolder);
        EXPECT_EQ(log.Bytes(), c.log);
    }
}

// No installer run restarts the machine: a run that needs a restart says so
// by its exit code, and the session remembers it for the update's own.
TEST(InstallerRunsTest, ARunThatNeedsARestartIsRememberedNotCarriedOut)
{
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, &RecordRun);
    CWorkFolder work;
    for (const DWORD dwExitCode : {0ul, 1605ul, 3010ul, 1641ul})
    {
        g_vecRun.clear();
        g_dwExitCode = dwExitCode;
        CInstallerSession session(work);
        UninstallProduct(session, nullptr, L"{8FB82970-3479-4000-ABC5-3425AC3B2087}");
        EXPECT_EQ(InstallPackage(session, L"C:\\Temp\\new.msi", L"C:\\Apps\\"), dwExitCode);
        ASSERT_EQ(g_vecRun.size(), 2u);
        for (const StartedRun& run : g_vecRun)
            EXPECT_NE(run.strCommandLine.find(L" /norestart "), std::wstring::npos) << Utf8(run.strCommandLine);
        EXPECT_EQ(session.RestartNeeded(), dwExitCode == 3010 || dwExitCode == 1641) << dwExitCode;
    }
    g_dwExitCode = 0;
}

// A VimoLog that the user made before the update, as any user may below
// their temporary folder, is not the update's: it is moved aside as it is,
// and the installer's logs go to a new one.
TEST(InstallerRunsTest, AVimoLogTheUserMadeIsMovedAsideNotUsed)
{
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::path(kLogFolder).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(temp))
        if (entry.path().filename().wstring().starts_with(L"VimoLog"))
            std::filesystem::remove_all(entry.path(), ec);
    WriteBytes(kLogFolder + L"\\mine.txt", "the user's");
    CWorkFolder work;
    CInstallerSession session(work);

    const std::wstring strLog = session.GetInstallerLogPath();

    EXPECT_TRUE(strLog.starts_with(kLogFolder + L"\\VimoLumet")) << Utf8(strLog);
    EXPECT_FALSE(Exists(kLogFolder + L"\\mine.txt"));
    std::vector<std::wstring> vecAside;
    for (const auto& entry : std::filesystem::directory_iterator(temp))
        if (entry.path().filename().wstring().starts_with(L"VimoLog-{"))
            vecAside.push_back(entry.path().wstring());
    ASSERT_EQ(vecAside.size(), 1u);
    EXPECT_EQ(ReadBytes(vecAside[0] + L"\\mine.txt"), "the user's");
}

// A stored uninstall program that is not the Windows Installer runs with the
// updater's rights: only where nobody but the administrators can change it,
// put anything beside it, or replace a folder above it.
TEST(InstallerRunsTest, AStoredUninstallProgramRunsOnlyWhereTheAdministratorsAloneCanChangeIt)
{
    WriteBytes(kOwnUninstaller, "uninstaller");
    const SeamOverride<PfnGetSecurityInfo> security(g_pfnGetSecurityInfo, &PresentSecurity);
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, &RecordRun);
    const std::wstring strCommand = L"\"" + kOwnUninstaller + L"\" /S";
    const struct
    {
        const char* pszLabel;
        const wchar_t* pszFolderSddl;
        bool bRuns;
    } cases[] = {
        {"the administrators' alone", kAdministratorsAlone, true},
        {"users may add files beside it", L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200ab;;;BU)", false},
        {"users may delete what it holds", L"O:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200e9;;;AU)", false},
        {"a user owns it", L"O:BUD:PAI(A;;FA;;;SY)(A;;FA;;;BA)", false},
        {"an entry the check cannot read", L"O:BAD:PAI(A;;FA;;;SY)(OA;;FA;bf967aba-0de6-11d0-a285-00aa003049e2;;BU)",
         false},
    };
    CWorkFolder work;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        g_strFolderSddl = c.pszFolderSddl;
        g_vecRun.clear();
        const LogCapture log;
        CInstallerSession session(work);
        UninstallProduct(session, strCommand.c_str(), L"{8FB82970-3479-4000-ABC5-3425AC3B2087}");
        EXPECT_EQ(g_vecRun.size(), c.bRuns ? 1u : 0u);
        EXPECT_EQ(log.Bytes(), c.bRuns ? "" : "Uninstall command not run: " + Utf8(strCommand) + "\r\n");
    }
    g_strFolderSddl = kAdministratorsAlone;
}
}
