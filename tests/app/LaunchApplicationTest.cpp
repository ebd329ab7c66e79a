#include "TestSupport.h"

#include "app/LumetUpdateDlg.h"
#include "log/Log.h"

#include <gtest/gtest.h>

namespace
{
// Puts the stand-in application where the launch looks for it.
std::wstring PlaceApplication(const std::wstring& strExePath)
{
    MakeFolders(strExePath.substr(0, strExePath.rfind(L'\\')));
    EXPECT_TRUE(::CopyFileW(FakeAppPath().c_str(), strExePath.c_str(), FALSE)) << Utf8(FakeAppPath());
    return strExePath;
}

struct LaunchCase
{
    const char* name;
    const wchar_t* installDir; // relative to the scratch folder
    const wchar_t* launched;   // relative to the scratch folder
};

class LaunchTest : public ::testing::TestWithParam<LaunchCase>
{
};

TEST_P(LaunchTest, StartsTheApplicationBelowTheInstallFolderAndLogsThePath)
{
    ScratchFolder folder(L"launch");
    const std::wstring exe = PlaceApplication(folder / GetParam().launched);
    LogCapture log;

    CLumetUpdateDlg dlg;
    dlg.m_strInstallDir = folder / GetParam().installDir;
    dlg.LaunchApplication();

    const std::optional<std::string> started = WaitForFile(exe + L".started");
    ASSERT_TRUE(started.has_value()) << "not started: " << Utf8(exe);
    EXPECT_NE(started->find(Utf8(exe)), std::string::npos) << *started;
    EXPECT_EQ(log.Bytes(), "Run Lumet\r\n" + Utf8(exe));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, LaunchTest,
    ::testing::Values(LaunchCase{"WithTrailingBackslash", L"Apps\\Vimo\\", L"Apps\\Vimo\\VimoLumet\\VimoLumet.exe"},
                      LaunchCase{"WithoutTrailingBackslashJoinsAsItIs", L"Apps\\Vimo",
                                 L"Apps\\VimoVimoLumet\\VimoLumet.exe"},
                      LaunchCase{"WithBlanks", L"Program Files\\Vimo Apps\\",
                                 L"Program Files\\Vimo Apps\\VimoLumet\\VimoLumet.exe"}),
    [](const ::testing::TestParamInfo<LaunchCase>& info) { return info.param.name; });

TEST(LaunchDefaultTest, EmptyInstallFolderStartsTheDefaultPath)
{
    const std::wstring exe = L"C:\\Program Files (x86)\\Vimo\\VimoLumet\\VimoLumet.exe";
    PlaceApplication(exe);
    LogCapture log;
    CLumetUpdateDlg dlg;
    dlg.LaunchApplication();
    EXPECT_TRUE(WaitForFile(exe + L".started").has_value());
    EXPECT_EQ(log.Bytes(), "Run Lumet\r\nC:\\Program Files (x86)\\Vimo\\VimoLumet\\VimoLumet.exe");
    ::DeleteFileW((exe + L".started").c_str());
    ::DeleteFileW(exe.c_str());
}

TEST(LaunchDefaultTest, MissingApplicationOnlyLeavesTheLog)
{
    ScratchFolder folder(L"launch-missing");
    LogCapture log;
    CLumetUpdateDlg dlg;
    dlg.m_strInstallDir = folder / L"Nothing\\";
    dlg.LaunchApplication();
    EXPECT_EQ(log.Bytes(), "Run Lumet\r\n" + Utf8(folder / L"Nothing\\VimoLumet\\VimoLumet.exe"));
}
}
