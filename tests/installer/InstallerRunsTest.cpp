#include "installer/InstallerRuns.h"

#include "TestSupport.h"

#include "installer/ProcessRunner.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace
{
// Each run: the program started by its path (empty: left to the system's
// search) and its command line.
using Runs = std::vector<std::pair<std::wstring, std::wstring>>;
Runs g_vecRun;
const std::wstring kMsiexec = L"C:\\windows\\system32\\msiexec.exe";
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
    const Case cases[] = {
        {"no command", nullptr, nullptr, {{kMsiexec, strQuiet}}, true},
        {"lower case, other code", L"msiexec.exe /x{OTHER-CODE}", nullptr, {{kMsiexec, strQuiet}}, true},
        {"maintenance form", L"MsiExec.exe /I{OTHER-CODE}", nullptr, {{kMsiexec, strQuiet}}, true},
        {"without .exe", L"msiexec /x{OTHER-CODE}", nullptr, {{kMsiexec, strQuiet}}, true},
        {"quoted, by full path",
         L"\"C:\\Windows\\System32\\msiexec.exe\" /x{OTHER-CODE}",
         nullptr,
         {{kMsiexec, strQuiet}},
         true},
        {"elsewhere", L"D:\\Tools\\MSIEXEC /x{OTHER-CODE}", nullptr, {{kMsiexec, strQuiet}}, true},
        {"own uninstaller, quoted",
         L"\"C:\\Program Files (x86)\\Vimo\\uninst.exe\" /S",
         nullptr,
         {{strOwn, L"\"C:\\Program Files (x86)\\Vimo\\uninst.exe\" /S"}},
         false},
        {"own uninstaller, blanks unquoted",
         L"C:\\Program Files (x86)\\Vimo\\uninst.exe /S",
         nullptr,
         {{strOwn, L"C:\\Program Files (x86)\\Vimo\\uninst.exe /S"}},
         false},
        {"no folder", L"uninst.exe /S", nullptr, {}, false, "Uninstall command not run: uninst.exe /S\r\n"},
        {"empty command", L"", nullptr, {}, false},
        {".exe, blanks", pszSetup, L"D:\\", {{pszSetup, L"\"" + std::wstring(pszSetup) + L"\" /silent"}}, false},
        {"no package", L"", L"", {}, false},
        {".Msi, no folder",
         L"C:\\Temp\\new.Msi",
         L"",
         {{kMsiexec,
           L"MsiExec.exe /i \"C:\\Temp\\new.Msi\" INSTALLDIR=\"C:\\Program Files (x86)\\Vimo\\\" /qn" + strLog}},
         true},
    };

    FixedClock clock(MakeSystemTime(2021, 1, 2, 3, 4, 5));
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine,
                                           [](const std::wstring& strApplication, const std::wstring& strCommandLine) {
                                               g_vecRun.emplace_back(strApplication, strCommandLine);
                                               return true;
                                           });
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        std::error_code ec;
        std::filesystem::remove_all(kLogFolder, ec);
        g_vecRun.clear();
        const LogCapture log;
        if (c.pszFolder)
            InstallPackage(c.pszArgument, c.pszFolder);
        else
            UninstallProduct(c.pszArgument, strCode);
        EXPECT_EQ(g_vecRun, c.vecRun);
        EXPECT_EQ(IsFolder(kLogFolder), c.bLogFolder);
        EXPECT_EQ(log.Bytes(), c.log);
    }
}

// The named program starts, whatever the first word of its command line.
TEST(RunCommandLineTest, StartsTheNamedProgramWithACommandOf32766CharactersAndRefusesALongerOne)
{
    // A copy of the stand-in application, so that its marker is ours alone.
    ScratchFolder folder(L"run");
    const std::wstring strApp = folder / L"app.exe";
    ASSERT_TRUE(::CopyFileW(FakeAppPath().c_str(), strApp.c_str(), FALSE));
    std::wstring strCommand = L"NoSuchProgram.exe ";
    strCommand.resize(32766, L'x');

    EXPECT_TRUE(RunCommandLine(strApp, strCommand));
    EXPECT_EQ(ReadBytes(strApp + L".started").size(), 32766u);
    ::DeleteFileW((strApp + L".started").c_str());
    EXPECT_FALSE(RunCommandLine(strApp, strCommand + L'x'));
    EXPECT_FALSE(Exists(strApp + L".started"));
}
}
