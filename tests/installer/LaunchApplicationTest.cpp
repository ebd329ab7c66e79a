#include "installer/LaunchApplication.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace
{
struct LaunchCase
{
    const wchar_t* installDir; // relative to the scratch folder
    const wchar_t* launched;   // relative to the scratch folder
};

class LaunchTest : public ::testing::TestWithParam<LaunchCase>
{};

TEST_P(LaunchTest, StartsTheApplicationBelowTheInstallFolderAndLogsThePath)
{
    ScratchFolder folder(L"launch");
    const std::wstring exe = folder / GetParam().launched;
    MakeFolders(exe.substr(0, exe.rfind(L'\\')));
    ASSERT_TRUE(::CopyFileW(FakeAppPath().c_str(), exe.c_str(), FALSE));
    LogCapture log;

    LaunchApplication(folder / GetParam().installDir);

    const std::optional<std::string> started = WaitForFile(exe + L".started");
    ASSERT_TRUE(started.has_value()) << "not started: " << Utf8(exe);
    EXPECT_NE(started->find(Utf8(exe)), std::string::npos) << *started;
    EXPECT_EQ(log.Bytes(), "Run Lumet\r\n" + Utf8(exe));
}

INSTANTIATE_TEST_SUITE_P(Folders, LaunchTest,
                         ::testing::Values(LaunchCase{L"Apps\\Vimo\\", L"Apps\\Vimo\\VimoLumet\\VimoLumet.exe"},
                                           LaunchCase{L"Apps\\Vimo", L"Apps\\Vimo\\VimoLumet\\VimoLumet.exe"}));
}
