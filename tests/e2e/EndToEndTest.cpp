// The whole program, LumetUpdate.exe, run from its command line against real
// Windows Installer packages, each case in a fresh Wine prefix.
#include "EndToEndSupport.h"
#include "installer/PackageCheck.h"

#include <thread>
#include <utility>

namespace
{
const char kLaunchOfAppsVimo[] = "C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe";

TEST(EndToEnd, TypicalUpdate)
{
    const bool bShell = DesktopShellAnswers();
    PrepareInstalledMachine();
    // The user's own variables reach the elevated updater, not what it starts.
    ASSERT_TRUE(::SetEnvironmentVariableW(L"LUMET_USER_VARIABLE", L"planted"));
    // The package swapped for another product's as the first removal begins
    // (its installer log appears just before): what was checked is installed.
    std::thread swapper([] {
        for (int i = 0; i < 3000 && FilesIn(InstallerLogs() + L"\\VimoLumet*.log").empty(); ++i)
            ::Sleep(10);
        EXPECT_TRUE(::CopyFileW(Package(L"other.msi").c_str(), L"C:\\Temp\\new.msi", FALSE));
    });
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), 0u);
    swapper.join();

    for (const auto& [name, code] : ListedProducts())
        EXPECT_FALSE(Installed(code)) << Utf8(code);
    EXPECT_FALSE(Installed(kInstalled));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kMakerKey, L"ProductCode"), kNew);
    EXPECT_FALSE(Installed(L"{C0DE0003-5A7E-4C1D-9B2A-000000000003}"));
    EXPECT_FALSE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\OTHER_RELEASE.txt"));
    EXPECT_TRUE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\NEW_RELEASE.txt"));
    // Started by the desktop's shell, in its own folder, without the caller's
    // variables; where the shell never answers, not at all.
    if (bShell)
    {
        ASSERT_TRUE(WaitForFile(L"C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe.started").has_value());
        const std::vector<FakeRun> runs = FakeRuns();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].run, kLaunchOfAppsVimo);
        EXPECT_EQ(runs[0].folder, "C:\\Apps\\Vimo\\VimoLumet");
        EXPECT_EQ(runs[0].parent, "explorer.exe");
        EXPECT_FALSE(runs[0].HasVariable("LUMET_USER_VARIABLE"));
    }
    EXPECT_EQ(RunLog(true), LogOfLaunch(kLaunchOfAppsVimo) + (bShell ? "" : kShellSilent));

    EXPECT_TRUE(IsFolder(DataFolder()));
    EXPECT_TRUE(FilesIn(DataFolder() + L"\\*").empty());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"));
    EXPECT_TRUE(Exists(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk")); // recorded, not deleted
    // Ten installer runs, ten logs, though some started within one second.
    EXPECT_EQ(FilesIn(InstallerLogs() + L"\\VimoLumet*.log").size(), 10u);
    // Only the package stays, whole, as the install source a repair reads.
    const std::string strRun = ExpectTheRunEnded(kNew, L"Package", L"new.msi");
    wchar_t szSource[MAX_PATH] = {};
    DWORD cch = MAX_PATH;
    ASSERT_EQ(::MsiGetProductInfoW(kNew.c_str(), L"InstallSource", szSource, &cch), 0u);
    EXPECT_EQ(Utf8(szSource), strRun + "\\Package\\");
}

const wchar_t kTempNew[] = L"C:\\Temp\\new.msi";

struct RunCase
{
    const char* name;
    DWORD dwExitCode;
    std::string log;
    const wchar_t* package = nullptr;         // put at packageAt ("check:" a fixture); else new.msi is at kTempNew
    const wchar_t* updater = nullptr;         // a fixture in place of the updater built
    const wchar_t* installLocation = nullptr; // replaces the recorded one when given
    const wchar_t* arguments = kTempNew;      // the updater's command line after its own path
    const wchar_t* packageAt = kTempNew;
};

// A refusal: its code is the exit code, its log words it by the program's table.
RunCase Refusal(const char* name, DWORD dwCode, const wchar_t* package = nullptr, const wchar_t* updater = nullptr,
                const wchar_t* arguments = kTempNew)
{
    const wchar_t* pszReason = ReasonOfRefusal(dwCode);
    const std::string log = "Update refused: " + Utf8(pszReason ? pszReason : L"<no reason>") + ": " + Utf8(arguments);
    return RunCase{name, dwCode, log + "\r\n", package, updater, nullptr, arguments};
}

class EndToEndRun : public ::testing::TestWithParam<RunCase>
{};

TEST_P(EndToEndRun, InstallsAndLaunchesWhereTheCaseSaysOrRefusesBeforeAnythingIsRemoved)
{
    const RunCase& c = GetParam();
    PrepareInstalledMachine();
    if (c.installLocation)
        SetInstalledValue(L"InstallLocation", c.installLocation);
    if (c.package)
        Copy(std::wstring(c.package).starts_with(L"check:") ? Fixture(c.package + 6) : Package(c.package), c.packageAt);
    // Planted where the install location without its backslash runs on.
    Copy(FakeAppPath(), L"C:\\Apps\\VimoVimoLumet\\VimoLumet.exe");
    MakeFolders(L"C:\\Temp\\folder.msi");
    // The publisher's authority trusted by the machine; the forged one by the user.
    if (c.updater)
    {
        TrustRoot(HKEY_LOCAL_MACHINE, Fixture(L"ca.der"));
        TrustRoot(HKEY_CURRENT_USER, Fixture(L"forged-ca.der"));
    }
    EXPECT_EQ(c.updater ? RunUpdater(c.arguments, Fixture(c.updater)) : RunUpdater(c.arguments), c.dwExitCode);
    EXPECT_EQ(RunLog(), c.log);
    EXPECT_FALSE(Exists(L"C:\\Apps\\VimoVimoLumet\\VimoLumet.exe.started"));
    // The new release lands in the folder of the application the log starts.
    const std::string app = c.log.substr(c.log.rfind('\n') + 1);
    EXPECT_EQ(Installed(kNew), !app.empty());
    EXPECT_TRUE(app.empty() || Exists(std::wstring(app.begin(), app.begin() + app.rfind('\\')) + L"\\NEW_RELEASE.txt"));
    // A refusal changes nothing, leaves no run folder or record, and no cache
    // at all for a package that is not there.
    if (!c.log.starts_with("Update refused"))
        return;
    const auto listed = ListedProducts();
    EXPECT_TRUE(Installed(listed[1].second) && Installed(listed[7].second) && Installed(kInstalled));
    EXPECT_EQ(ReadBytes(DataFolder() + L"\\.state"), "state");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"));
    EXPECT_TRUE(FakeRuns().empty());
    EXPECT_TRUE(FilesIn(InstallerLogs() + L"\\*").empty());
    EXPECT_TRUE(FilesIn(CacheFolder() + L"\\Runs\\*").empty());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kRunsKey));
    EXPECT_NE(Exists(CacheFolder()), c.dwExitCode == ERROR_INVALID_COMMAND_LINE ||
                                         c.dwExitCode == ERROR_FILE_NOT_FOUND || c.dwExitCode == ERROR_BAD_PATHNAME);
}

// The test certificates name no revocation server; the installed package is
// not the publisher's, so no restore package.
const std::string kSignedRunLog =
    std::string("Revocation not checked: C:\\Temp\\new.msi\r\n") +
    "No restore package: no whole package of the installed release passes the checks\r\n" + "Run Lumet\r\n" +
    kLaunchOfAppsVimo;

INSTANTIATE_TEST_SUITE_P(
    Cases, EndToEndRun,
    ::testing::Values(RunCase{"PackagePathWithBlanks", 0, LogOfLaunch(kLaunchOfAppsVimo), L"new.msi", nullptr, nullptr,
                              L"\"C:\\Temp dir\\Vimo Lumet 4.0.msi\" second.msi", L"C:\\Temp dir\\Vimo Lumet 4.0.msi"},
                      RunCase{"InstallLocationWithAQuote", 0, LogOfLaunch(kDefaultExe), nullptr, nullptr,
                              L"C:\\Apps\\Vimo\\\" TARGETDIR=\"C:\\Evil\\"},
                      RunCase{"InstallLocationWithoutTrailingBackslash", 0, LogOfLaunch(kLaunchOfAppsVimo), nullptr,
                              nullptr, L"C:\\Apps\\Vimo"},
                      RunCase{"InstallAsksForARestart", 3010, LogOfLaunch(kLaunchOfAppsVimo), L"reboot.msi"},
                      Refusal("NoArgument", ERROR_INVALID_COMMAND_LINE, nullptr, nullptr, L""),
                      Refusal("PathNamesNothing", ERROR_FILE_NOT_FOUND, nullptr, nullptr, L"C:\\Temp\\gone.msi"),
                      Refusal("RelativePath", ERROR_BAD_PATHNAME, nullptr, nullptr, L"new.msi"),
                      Refusal("Folder", ERROR_INSTALL_PACKAGE_OPEN_FAILED, nullptr, nullptr, L"C:\\Temp\\folder.msi"),
                      Refusal("CutShort", ERROR_INSTALL_PACKAGE_INVALID, L"check:half.msi"),
                      Refusal("CabinetOutside", ERROR_INSTALL_SOURCE_ABSENT, L"external.msi"),
                      Refusal("OlderRelease", ERROR_PRODUCT_VERSION, L"old.msi"),
                      Refusal("AnotherProduct", ERROR_PATCH_TARGET_NOT_FOUND, L"other.msi"),
                      // A signed updater takes packages of its own publisher only.
                      RunCase{"SignedBySamePublisher", 0, kSignedRunLog, L"check:publisher.msi",
                              L"updater-publisher.exe"},
                      Refusal("Unsigned", kErrorInvalidImageHash, nullptr, L"updater-publisher.exe"),
                      Refusal("SignedByAnotherPublisher", ERROR_INSTALL_PACKAGE_REJECTED, L"check:other.msi",
                              L"updater-publisher.exe")),
    [](const ::testing::TestParamInfo<RunCase>& info) { return info.param.name; });

// An installer program at a path with blanks runs from its checked copy, with
// /silent and the machine's environment; never a program planted at a blank.
TEST(EndToEnd, NonInstallerPackageRunsWithSilentSwitch)
{
    MakeFolders(L"C:\\Setup Files");
    for (const wchar_t* pszPath : {L"C:\\Setup Files\\Vimo Setup.exe", L"C:\\Setup.exe", L"C:\\Setup Files\\Vimo.exe"})
        ASSERT_TRUE(::CopyFileW(FakeAppPath().c_str(), pszPath, FALSE));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"LUMET_USER_VARIABLE", L"planted"));
    EXPECT_EQ(RunUpdater(L"\"C:\\Setup Files\\Vimo Setup.exe\""), 0u);
    const std::vector<FakeRun> runs = FakeRuns();
    ASSERT_EQ(runs.size(), 1u);
    const std::string copy = runs[0].run;
    EXPECT_TRUE(InRunFolder(copy) && copy.ends_with("\\Package\\Vimo Setup.exe")) << copy;
    EXPECT_EQ(runs[0].command, "\"" + copy + "\" /silent");
    EXPECT_EQ(runs[0].folder, copy.substr(0, copy.rfind('\\')));
    EXPECT_TRUE(runs[0].HasVariable("TEMP", copy.substr(0, copy.rfind("\\Package")) + "\\Temp"));
    EXPECT_FALSE(runs[0].HasVariable("LUMET_USER_VARIABLE"));
    EXPECT_EQ(RunLog(), kUnsigned + std::string("Release not compared: an installer program\r\n") + kNothingToRestore +
                            "Package not kept (3)\r\nRun Lumet\r\n" + kDefaultExe);
}

// MsiExec.exe planted in the current folder and beside the updater, and an
// uninstall command naming msiexec without ".exe": only the system's runs
// (here a recording stand-in), in its folder, without the user's variables.
TEST(EndToEnd, PlantedMsiexecNeverRuns)
{
    PrepareInstalledMachine();
    SetInstalledValue(L"UninstallString", L"msiexec /x" + kInstalled);
    const std::wstring strSystem = L"C:\\windows\\system32\\msiexec.exe";
    Copy(FakeAppPath(), strSystem);
    ASSERT_EQ(RunAndWait(L"reg.exe add HKCU\\Software\\Wine\\DllOverrides /v msiexec.exe /d native /f"), 0u);
    Copy(FromUnix(LUMET_UPDATE_EXE), L"C:\\Downloads\\LumetUpdate.exe");
    for (const std::wstring strPlanted : {L"C:\\Work\\MsiExec.exe", L"C:\\Downloads\\MsiExec.exe"})
        Copy(FakeAppPath(), strPlanted);
    ASSERT_TRUE(::SetCurrentDirectoryW(L"C:\\Work"));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"LUMET_USER_VARIABLE", L"planted"));
    ASSERT_NE(RunAndWait(L"C:\\Downloads\\LumetUpdate.exe C:\\Temp\\new.msi", 300000), kNotEnded);

    // The stand-in removes nothing: the installed application may start last.
    std::vector<FakeRun> runs = FakeRuns();
    std::erase_if(runs, [](const FakeRun& run) { return run.run == kLaunchOfAppsVimo; });
    ASSERT_EQ(runs.size(), 10u); // eight listed releases, the installed one, the new one
    for (const FakeRun& run : runs)
    {
        EXPECT_EQ(run.run, Utf8(strSystem));
        EXPECT_EQ(run.folder, "C:\\windows\\system32");
        EXPECT_FALSE(run.HasVariable("LUMET_USER_VARIABLE"));
        EXPECT_NE(run.command.find(" /norestart "), std::string::npos) << run.command;
    }
}

// Where %TEMP%\VimoLog is not safe (a link, too long a path, outside the
// profile), the installer's logs go to the run's folder; the target is untouched.
class EndToEndInstallerLogs : public ::testing::TestWithParam<std::string>
{};

TEST_P(EndToEndInstallerLogs, GoToTheRunsOwnFolderWhereTheirsIsNotSafe)
{
    const std::wstring strVictim = L"C:\\Victim";
    WriteBytes(strVictim + L"\\precious.dat", "victim");
    const std::wstring strTemp =
        GetParam() == "TempFolderTooLong"
            ? GetShellFolder(CSIDL_PROFILE) + L"\\Temp\\" + std::wstring(130, L't') + L"\\" + std::wstring(130, L'u')
        : GetParam() == "TempFolderOutsideTheProfile" ? strVictim
                                                      : L"";
    if (strTemp.empty())
        ASSERT_TRUE(MakeFolderLink(InstallerLogs(), strVictim));
    else
    {
        std::filesystem::create_directories(L"\\\\?\\" + strTemp);
        ASSERT_TRUE(IsFolder(L"\\\\?\\" + strTemp));
        ASSERT_TRUE(::SetEnvironmentVariableW(L"TEMP", strTemp.c_str()) &&
                    ::SetEnvironmentVariableW(L"TMP", strTemp.c_str()));
    }
    Copy(Package(L"new.msi"), L"C:\\Temp\\new.msi");
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), 0u);
    const std::string log = RunLog();
    const size_t nFolder = log.find("Installer logs in ") + 18;
    const std::string folder = log.substr(nFolder, log.find("\r\n", nFolder) - nFolder);
    EXPECT_TRUE(InRunFolder(folder) && folder.ends_with("\\VimoLog")) << log;
    EXPECT_EQ(log, LogOfChecks(false) + "Installer logs in " + folder + "\r\nRun Lumet\r\n" + kDefaultExe);
    // The run's own folder stays, with the logs.
    EXPECT_EQ(FilesIn(std::wstring(folder.begin(), folder.end()) + L"\\VimoLumet*.log").size(), 9u);
    EXPECT_EQ(FilesIn(strVictim + L"\\*"), std::vector<std::wstring>{L"precious.dat"});
    EXPECT_EQ(ReadBytes(strVictim + L"\\precious.dat"), "victim");
}

INSTANTIATE_TEST_SUITE_P(Places, EndToEndInstallerLogs,
                         ::testing::Values("LinkInPlaceOfTheLogFolder", "TempFolderTooLong",
                                           "TempFolderOutsideTheProfile"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// A planted tree as deep as Wine reaches: walked to 1,024 levels, named where
// the walk stopped, and the update runs to its end.
class EndToEndDeepTree : public ::testing::TestWithParam<bool>
{};

TEST_P(EndToEndDeepTree, NeitherCrashesNorStallsTheUpdate)
{
    const bool bDataFolder = GetParam();
    const std::wstring strTree = (bDataFolder ? DataFolder() : LogFolder()) + L"\\deep";
    ASSERT_GE(MakeDeepTree(strTree, 1800), 1500u);
    Copy(Package(L"new.msi"), L"C:\\Temp\\new.msi");
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), 0u);
    std::wstring strDeepest = strTree;
    for (int i = 0; i < 1024; ++i)
        strDeepest += L"\\a";
    const std::string left = "Left in place: " + Utf8(strDeepest) + "\r\n";
    // Below the limit the tree stays, whole.
    EXPECT_TRUE(IsFolder(strDeepest + L"\\a"));
    EXPECT_EQ(RunLog(), bDataFolder ? LogOfChecks(false) + left + "Run Lumet\r\n" + kDefaultExe
                                    : left + LogOfLaunch(kDefaultExe, false));
}

INSTANTIATE_TEST_SUITE_P(Folders, EndToEndDeepTree, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "DataFolder" : "LogFolder");
});

// A failed install puts the installed release back from its install source;
// after the next update, from the package kept, the installer's copy stripped.
TEST(EndToEndRestore, AFailedInstallPutsBackTheInstalledReleaseThenTheKeptOne)
{
    PrepareInstalledMachine();
    Copy(Package(L"fail.msi"), L"C:\\Temp\\fail.msi");
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\fail.msi"), 1603u);
    EXPECT_TRUE(Installed(kInstalled));
    EXPECT_FALSE(Installed(kNew));
    EXPECT_TRUE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\OLD_RELEASE.txt"));
    EXPECT_EQ(RunLog(), LogOfChecks() + "Install failed (1603); restored " + Utf8(kInstalled) + " from " +
                            Utf8(Package(L"installed.msi")) + "\r\nRun Lumet\r\n" + kLaunchOfAppsVimo);

    ASSERT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), 0u);
    const std::wstring strKept = KeptPackage(kNew);
    wchar_t szCached[MAX_PATH] = {};
    DWORD cch = MAX_PATH;
    ASSERT_EQ(::MsiGetProductInfoW(kNew.c_str(), L"LocalPackage", szCached, &cch), 0u);
    ASSERT_TRUE(::CopyFileW(Package(L"new-stripped.msi").c_str(), szCached, FALSE));
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\fail.msi"), 1603u);
    EXPECT_TRUE(Installed(kNew));
    EXPECT_TRUE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\NEW_RELEASE.txt"));
    EXPECT_EQ(RunLog(), kUnsigned + KeptRestore() + "Install failed (1603); restored " + Utf8(kNew) + " from " +
                            Utf8(strKept) + "\r\nRun Lumet\r\n" + kLaunchOfAppsVimo);
}

// A user's process can end the desktop's shell: the application is then not
// started at all, never by the updater itself with its rights.
TEST(EndToEnd, ApplicationIsNotStartedWhenTheDesktopShellDoesNotAnswer)
{
    PrepareInstalledMachine();
    // Ended once the updater's window is up: Wine then starts no new shell.
    std::thread ender([] {
        for (int i = 0; i < 3000 && !::FindWindowW(L"#32770", L"Vimo Lumet"); ++i)
            ::Sleep(10);
        EXPECT_EQ(RunAndWait(L"taskkill.exe /f /im explorer.exe"), 0u);
    });
    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), 0u);
    ender.join();
    EXPECT_FALSE(WaitForFile(L"C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe.started", 3000).has_value());
    EXPECT_TRUE(FakeRuns().empty());
    EXPECT_EQ(RunLog(true), LogOfLaunch(kLaunchOfAppsVimo) + kShellSilent);
}

// A running program in the data folder is moved to the run's folder and
// deleted at the restart; a hard link there to one elsewhere stays, as does its owner.
TEST(EndToEnd, ARunningProgramInTheDataFolderGoesAtTheRestartAndAHardLinkThereStays)
{
    PrepareInstalledMachine();
    WriteBytes(L"C:\\lumet-block", "");
    const std::wstring strTool = DataFolder() + L"\\tool\\tool.exe", strElsewhere = L"C:\\Tools\\other.exe",
                       strLinked = DataFolder() + L"\\linked.exe";
    Copy(FakeAppPath(), strTool);
    Copy(FakeAppPath(), strElsewhere);
    ASSERT_TRUE(::CreateHardLinkW(strLinked.c_str(), strElsewhere.c_str(), nullptr));
    std::vector<std::jthread> programs; // each runs on until the test removes C:\lumet-block
    for (const std::wstring& strProgram : {strTool, strElsewhere})
        programs.emplace_back([strProgram] { RunAndWait(L"\"" + strProgram + L"\" /block", 300000); });
    const auto blocked = [] {
        const std::string lines = ReadBytes(L"C:\\lumet-blocked");
        return std::count(lines.begin(), lines.end(), '\n');
    };
    for (int i = 0; i < 500 && blocked() < 2; ++i)
        ::Sleep(20);
    const std::string modeBefore = UnixMode(strElsewhere);
    ASSERT_FALSE(modeBefore.empty());
    const size_t nPendingBefore = PendingDeletions().size();

    EXPECT_EQ(RunUpdater(L"C:\\Temp\\new.msi"), 3010u);

    EXPECT_FALSE(Exists(strTool));
    std::vector<std::wstring> added = PendingDeletions();
    added.erase(added.begin(), added.begin() + static_cast<ptrdiff_t>(nPendingBefore));
    // The program, in the run's own folder, which keeps the installed package.
    ASSERT_EQ(added.size(), 1u);
    EXPECT_TRUE(InRunFolder(Utf8(added[0])) && added[0].ends_with(L"}\\1")) << Utf8(added[0]);
    EXPECT_TRUE(Exists(added[0]));
    EXPECT_TRUE(Exists(strLinked) && Exists(strElsewhere));
    EXPECT_EQ(UnixMode(strElsewhere), modeBefore);
    EXPECT_EQ(RunLog(), LogOfChecks() + "Left in place: " + Utf8(strLinked) + "\r\nRun Lumet\r\n" + kLaunchOfAppsVimo);
    ::DeleteFileW(L"C:\\lumet-block");
}

// A file held open in the data folder; at the per-user key, or the key
// above it, a link to a key of the machine.
TEST(EndToEnd, PlantedFilesAndRegistryLinksDoNotRedirectTheCleanUp)
{
    const std::wstring strVictim = L"SOFTWARE\\LumetVictim";
    // The first run keeps the new package, which the second finds.
    std::string strChecks = LogOfChecks(false);
    for (const std::wstring strLink : {L"Software\\Vimo\\Lumet", L"Software\\Vimo"})
    {
        ASSERT_EQ(
            ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (strVictim + L"\\Lumet\\Recent").c_str(), L"0", REG_SZ, L"x", 4), 0);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vimo");
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vimo");
        HKEY hLink = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, strLink.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                    KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &hLink, nullptr),
                  0);
        const std::wstring strTarget =
            L"\\Registry\\Machine\\" + strVictim + (strLink.ends_with(L"Lumet") ? L"\\Lumet" : L"");
        EXPECT_EQ(::RegSetValueExW(hLink, L"SymbolicLinkValue", 0, REG_LINK,
                                   reinterpret_cast<const BYTE*>(strTarget.data()),
                                   static_cast<DWORD>(strTarget.size() * sizeof(wchar_t))),
                  0);
        ::RegCloseKey(hLink);
        WriteBytes(DataFolder() + L"\\locked.dat", "locked");
        std::filesystem::remove_all(LogFolder());
        HANDLE hLocked = ::CreateFileW((DataFolder() + L"\\locked.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr); // no FILE_SHARE_DELETE, for the whole run
        Copy(Package(L"new.msi"), L"C:\\Temp\\new.msi");
        const DWORD dwExit = RunUpdater(L"C:\\Temp\\new.msi");
        ::CloseHandle(hLocked);
        ASSERT_NE(dwExit, kNotEnded);

        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, strVictim + L"\\Lumet\\Recent")) << Utf8(strLink);
        // A link at the key is deleted as a link; one above it is left alone.
        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"), strLink.ends_with(L"Vimo")) << Utf8(strLink);
        EXPECT_TRUE(Exists(DataFolder() + L"\\locked.dat"));
        EXPECT_TRUE(PendingDeletions().empty());
        EXPECT_EQ(RunLog(), std::exchange(strChecks, kUnsigned + KeptRestore()) +
                                "Left in place: " + Utf8(DataFolder()) + "\\locked.dat\r\nRun Lumet\r\n" + kDefaultExe);
    }
}
}
