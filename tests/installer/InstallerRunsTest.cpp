#include "RegistryFixture.h"
#include "TestSupport.h"

#include "installer/ProcessRunner.h"
#include "resources/ProductList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace
{
std::vector<std::wstring> g_vecCommands;

bool RecordCommand(const std::wstring& strCommandLine)
{
    g_vecCommands.push_back(strCommandLine);
    return true;
}

// strPattern with its "<log>", if any, replaced by strLog.
std::wstring WithLog(std::wstring strPattern, const std::wstring& strLog)
{
    const size_t nAt = strPattern.find(L"<log>");
    if (nAt != std::wstring::npos)
        strPattern.replace(nAt, 5, strLog);
    return strPattern;
}

// Points the temporary folder (TMP) at a scratch folder while it lives.
class ScratchTemp
{
public:
    ScratchTemp() : m_folder(L"tmp")
    {
        const DWORD cch = ::GetEnvironmentVariableW(L"TMP", nullptr, 0);
        if (cch > 0)
        {
            std::wstring strOld(cch, L'\0');
            strOld.resize(::GetEnvironmentVariableW(L"TMP", strOld.data(), cch));
            m_strOld = strOld;
        }
        ::SetEnvironmentVariableW(L"TMP", m_folder.Path().c_str());
    }
    ~ScratchTemp() { ::SetEnvironmentVariableW(L"TMP", m_strOld ? m_strOld->c_str() : nullptr); }

    // The folder as GetTempPathW gives it, with a trailing backslash.
    std::wstring Path() const { return m_folder.Path() + L"\\"; }
    std::wstring LogFolder() const { return Path() + L"VimoLog"; }

private:
    ScratchFolder m_folder;
    std::optional<std::wstring> m_strOld;
};

// Each command the operations would run is recorded instead of started.
class InstallerRunsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_vecCommands.clear();
        g_pfnRunCommandLine = &RecordCommand;
    }
    void TearDown() override { g_pfnRunCommandLine = &RunCommandLine; }

    ScratchTemp m_temp;
    FixedClock m_clock{MakeSystemTime(2020, 12, 10, 2, 29, 19)};
    std::wstring m_strLog = m_temp.Path() + L"VimoLog\\VimoLumet20201210_022919.log";
    ProductList m_list;
};

TEST_F(InstallerRunsTest, LogPathIsBelowTheTemporaryFolderAndNamedByUtcTime)
{
    EXPECT_FALSE(Exists(m_temp.LogFolder()));
    EXPECT_EQ(m_list.GetInstallerLogPath(), m_strLog);
    EXPECT_TRUE(IsFolder(m_temp.LogFolder()));
    EXPECT_FALSE(Exists(m_strLog)); // the installer writes it, not we

    // Within the same second, with the folder already there: the same name.
    EXPECT_EQ(m_list.GetInstallerLogPath(), m_strLog);

    FixedClock later(MakeSystemTime(2021, 1, 2, 3, 4, 5));
    EXPECT_EQ(m_list.GetInstallerLogPath(), m_temp.Path() + L"VimoLog\\VimoLumet20210102_030405.log");
    EXPECT_TRUE(g_vecCommands.empty());
}

TEST_F(InstallerRunsTest, UninstallProductRunsTheQuietRemovalOrTheProductsOwnCommand)
{
    const std::wstring strCode = L"{8FB82970-3479-4000-ABC5-3425AC3B2087}";
    struct Case
    {
        const char* pszLabel;
        std::optional<std::wstring> command; // none: no command given
        std::optional<std::wstring> expected; // none: nothing is run
    };
    const std::wstring strQuiet = L"MsiExec.exe /X" + strCode + L" /quiet /lv \"<log>\"";
    const Case cases[] = {
        {"no command", std::nullopt, strQuiet},
        {"lower case, another code", L"msiexec.exe /x{551FA9F5-68BB-4EE4-A5D1-6B28B20E877E}", strQuiet},
        {"maintenance form", L"MsiExec.exe /I" + strCode, strQuiet},
        {"quoted full path, anywhere", L"cmd /c \"C:\\Windows\\SysWOW64\\MSIEXEC.EXE\" /I{X}", strQuiet},
        {"msiexec without .exe", L"msiexec /x{X}", L"msiexec /x{X}"},
        {"own uninstaller", L"\"C:\\Program Files (x86)\\Vimo\\uninst.exe\" /S",
         L"\"C:\\Program Files (x86)\\Vimo\\uninst.exe\" /S"},
        {"empty command", L"", std::nullopt},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        g_vecCommands.clear();
        ::RemoveDirectoryW(m_temp.LogFolder().c_str());

        m_list.UninstallProduct(c.command ? c.command->c_str() : nullptr, strCode);

        if (c.expected)
        {
            ASSERT_EQ(g_vecCommands.size(), 1u);
            EXPECT_EQ(g_vecCommands[0], WithLog(*c.expected, m_strLog));
        }
        else
        {
            EXPECT_TRUE(g_vecCommands.empty());
        }
        EXPECT_TRUE(IsFolder(m_temp.LogFolder())); // in every form
    }
    EXPECT_TRUE(m_list.m_strInstallPackage.empty());
}

TEST_F(InstallerRunsTest, InstallPackageRunsMsiexecForAnMsiAndThePackageItselfOtherwise)
{
    struct Case
    {
        const char* pszLabel;
        std::wstring strPackage;
        std::wstring strFolder;
        std::wstring strExpected;
    };
    const Case cases[] = {
        {"msi into a known folder", L"C:\\Temp\\new.msi", L"D:\\Apps\\Vimo\\",
         L"MsiExec.exe /i \"C:\\Temp\\new.msi\" INSTALLDIR=\"D:\\Apps\\Vimo\\\" /qn /lv \"<log>\""},
        {"Msi, no folder known", L"C:\\Temp\\new.Msi", L"",
         L"MsiExec.exe /i \"C:\\Temp\\new.Msi\" INSTALLDIR=\"C:\\Program Files (x86)\\Vimo\\\" /qn /lv \"<log>\""},
        {"msi letters without a dot", L"C:\\Temp\\newmsi", L"",
         L"MsiExec.exe /i \"C:\\Temp\\newmsi\" INSTALLDIR=\"C:\\Program Files (x86)\\Vimo\\\" /qn /lv \"<log>\""},
        {"exe with a blank in its path", L"C:\\Temp\\Vimo Setup.exe", L"D:\\Apps\\Vimo\\",
         L"C:\\Temp\\Vimo Setup.exe /silent"},
        {"msix is no msi", L"C:\\Temp\\new.msix", L"", L"C:\\Temp\\new.msix /silent"},
        {"shorter than three characters", L"si", L"", L"si /silent"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        g_vecCommands.clear();
        ::RemoveDirectoryW(m_temp.LogFolder().c_str());

        m_list.InstallPackage(c.strPackage, c.strFolder);

        ASSERT_EQ(g_vecCommands.size(), 1u);
        EXPECT_EQ(g_vecCommands[0], WithLog(c.strExpected, m_strLog));
        EXPECT_EQ(m_list.m_strInstallPackage, c.strPackage);
        // Only an installer run gets a log, and so a log folder.
        EXPECT_EQ(IsFolder(m_temp.LogFolder()), c.strExpected.starts_with(L"MsiExec.exe"));
    }
}

TEST_F(InstallerRunsTest, LongPathsAndCommandsArePassedWhole)
{
    const std::wstring strPackage = L"C:\\" + std::wstring(300, L'p') + L"\\new.msi";
    const std::wstring strFolder = L"D:\\" + std::wstring(300, L'f') + L"\\";
    m_list.InstallPackage(strPackage, strFolder);
    const std::wstring strOwn = L"C:\\Vimo\\uninst.exe " + std::wstring(2000, L'a');
    m_list.UninstallProduct(strOwn.c_str(), L"{X}");
    const std::wstring strCode(1000, L'c');
    m_list.UninstallProduct(nullptr, strCode);

    ASSERT_EQ(g_vecCommands.size(), 3u);
    EXPECT_EQ(g_vecCommands[0], L"MsiExec.exe /i \"" + strPackage + L"\" INSTALLDIR=\"" + strFolder + L"\" /qn /lv \"" +
                                    m_strLog + L"\"");
    EXPECT_EQ(g_vecCommands[1], strOwn);
    EXPECT_EQ(g_vecCommands[2], L"MsiExec.exe /X" + strCode + L" /quiet /lv \"" + m_strLog + L"\"");
}

// --- The real runner ---------------------------------------------------------

TEST(RunCommandLineTest, WaitsForTheChildWhichGetsTheCallersEnvironmentAndFolder)
{
    ScratchFolder folder(L"run");
    wchar_t szOldFolder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szOldFolder);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.Path().c_str()));
    ::SetEnvironmentVariableW(L"LUMET_PROBE", L"from the parent");

    const bool bStarted = RunCommandLine(L"cmd.exe /c echo %LUMET_PROBE%> probe.txt");

    ::SetEnvironmentVariableW(L"LUMET_PROBE", nullptr);
    ::SetCurrentDirectoryW(szOldFolder);
    EXPECT_TRUE(bStarted);
    // Written by the child in this process's folder, and there as soon as
    // the runner returns.
    EXPECT_EQ(ReadBytes(folder / L"probe.txt"), "from the parent\r\n");
}

TEST(RunCommandLineTest, StartsNothingForAMissingProgramOrAnEmptyCommand)
{
    EXPECT_FALSE(RunCommandLine(L"C:\\no such folder\\setup.exe /silent"));
    EXPECT_FALSE(RunCommandLine(L""));
}

// The test child, which lies beside this program.
std::wstring TestChildPath()
{
    wchar_t szPath[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strPath = szPath;
    return strPath.substr(0, strPath.find_last_of(L'\\') + 1) + L"lumet_test_child.exe";
}

TEST(RunCommandLineTest, RefusesACommandLongerThanAProcessCanBeGiven)
{
    ScratchFolder folder(L"limit");
    ASSERT_TRUE(Exists(TestChildPath()));
    // The child writes its command line's length into the marker file.
    const auto command = [&](const wchar_t* pszMarker, size_t cchTotal) {
        std::wstring strCommand = L"\"" + TestChildPath() + L"\" \"" + (folder / pszMarker) + L"\" ";
        strCommand.resize(cchTotal, L'x');
        return strCommand;
    };
    // The limit is 32,767 characters with the terminating NUL.
    EXPECT_TRUE(RunCommandLine(command(L"fits.txt", 32766)));
    EXPECT_EQ(ReadBytes(folder / L"fits.txt"), "32766");
    EXPECT_FALSE(RunCommandLine(command(L"too-long.txt", 32767)));
    EXPECT_FALSE(Exists(folder / L"too-long.txt"));
}

// --- Wine's own Windows Installer ----------------------------------------------

const std::wstring kTestProductCode = L"{C0FFEE00-1D2E-4F3A-8B4C-5D6E7F809102}";
const std::wstring kTestUninstallEntry =
    L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kTestProductCode;

// The package that tests/installer/make-packages.sh builds before this
// program runs; CTest passes its folder as a Unix path.
std::wstring TestPackagePath()
{
    const char* pszFolder = std::getenv("LUMET_TEST_PACKAGES");
    if (!pszFolder || !*pszFolder)
        return std::wstring();
    std::wstring strPath = L"Z:";
    for (const char* p = pszFolder; *p; ++p)
        strPath += (*p == '/') ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return strPath + L"\\LumetTestPackage.msi";
}

double SecondsSince(ULONGLONG nStart)
{
    return static_cast<double>(::GetTickCount64() - nStart) / 1000.0;
}

class RealInstallerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strPackage = TestPackagePath();
        ASSERT_FALSE(m_strPackage.empty()) << "LUMET_TEST_PACKAGES is not set: run through CTest";
        ASSERT_TRUE(Exists(m_strPackage));
        ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTestUninstallEntry));
        ASSERT_EQ(m_list.GetProductCode(), L"");
    }

    // Whatever a failed step left installed goes again.
    void TearDown() override
    {
        if (KeyExists(HKEY_LOCAL_MACHINE, kTestUninstallEntry))
            RunAndWait(L"MsiExec.exe /X" + kTestProductCode + L" /quiet");
    }

    ScratchTemp m_temp;
    FixedClock m_clock{MakeSystemTime(2020, 12, 10, 2, 29, 19)};
    std::wstring m_strPackage;
    ProductList m_list;
};

TEST_F(RealInstallerTest, InstallsIntoTheGivenFolderAndRemovesThroughTheUninstallCommand)
{
    ScratchFolder apps(L"apps");
    const std::wstring strInstallDir = apps / L"Vimo Lumet\\";

    const ULONGLONG nInstallStart = ::GetTickCount64();
    m_list.InstallPackage(m_strPackage, strInstallDir);
    const double dInstall = SecondsSince(nInstallStart);

    // Everything is in place when InstallPackage returns, the installer's
    // log included.
    EXPECT_EQ(ReadBytes(strInstallDir + L"LumetTestPayload.txt"), "Vimo Lumet test payload\r\n");
    EXPECT_EQ(m_list.GetProductCode(), kTestProductCode);
    EXPECT_EQ(m_list.GetInstallLocation(), strInstallDir);
    const std::wstring strUninstall = m_list.GetUninstallString();
    EXPECT_EQ(strUninstall, L"MsiExec.exe /I" + kTestProductCode);
    EXPECT_FALSE(ReadBytes(m_temp.LogFolder() + L"\\VimoLumet20201210_022919.log").empty());

    const ULONGLONG nRemoveStart = ::GetTickCount64();
    m_list.UninstallProduct(strUninstall.c_str(), m_list.GetProductCode());
    const double dRemove = SecondsSince(nRemoveStart);

    // Wine's removal looks for the files in the package's default folder,
    // so the registry tells whether the product is gone.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTestUninstallEntry));
    EXPECT_EQ(m_list.GetUninstallString(), L"");
    EXPECT_EQ(m_list.GetProductCode(), L"");

    std::printf("msiexec under Wine: install %.2f s, removal %.2f s\n", dInstall, dRemove);
}
}
