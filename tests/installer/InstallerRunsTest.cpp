#include "installer/InstallerRuns.h"

#include "TestSupport.h"

#include "installer/ProcessRunner.h"

#include <gtest/gtest.h>

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
const std::wstring kSystem = L"C:\\windows\\system32";
const std::wstring kMsiexec = kSystem + L"\\msiexec.exe";
const std::wstring kLogFolder = (std::filesystem::temp_directory_path() / L"VimoLog").wstring();

TEST(InstallerRunsTest, EachOperationStartsItsOneProgramWithItsCommandLine)
{
    const std::wstring strLog = L" /lv \"" + kLogFolder + L"\\VimoLumet20210102_030405.log\"";
    const std::wstring strCode = L"{8FB82970-3479-4000-ABC5-3425AC3B2087}";
    const std::wstring strQuiet = L"MsiExec.exe /X" + strCode + L" /quiet" + strLog;
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
           L"MsiExec.exe /i \"C:\\Temp\\new.Msi\" INSTALLDIR=\"C:\\Program Files (x86)\\Vimo\\\" /qn" + strLog,
           kSystem}},
         true},
    };

    FixedClock clock(MakeSystemTime(2021, 1, 2, 3, 4, 5));
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, [](const ChildProgram& program, DWORD& dwExitCode) {
        g_vecRun.push_back({program.strApplication, program.strCommandLine, program.strFolder});
        dwExitCode = 0;
        return DWORD{ERROR_SUCCESS};
    });
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

// A VimoLog that the user made before the update, as any user may below
// their temporary folder, is not the update's: it is moved aside as it is,
// and the installer's logs go to a new one.
TEST(InstallerRunsTest, AVimoLogTheUserMadeIsMovedAsideNotUsed)
{
    std::error_code ec;
    std::filesystem::remove_all(kLogFolder, ec);
    WriteBytes(kLogFolder + L"\\mine.txt", "the user's");
    CWorkFolder work;
    CInstallerSession session(work);

    const std::wstring strLog = session.GetInstallerLogPath();

    EXPECT_TRUE(strLog.starts_with(kLogFolder + L"\\VimoLumet")) << Utf8(strLog);
    EXPECT_FALSE(Exists(kLogFolder + L"\\mine.txt"));
    std::vector<std::wstring> vecAside;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(kLogFolder).parent_path()))
        if (entry.path().filename().wstring().starts_with(L"VimoLog-{"))
            vecAside.push_back(entry.path().wstring());
    ASSERT_EQ(vecAside.size(), 1u);
    EXPECT_EQ(ReadBytes(vecAside[0] + L"\\mine.txt"), "the user's");
}
}
