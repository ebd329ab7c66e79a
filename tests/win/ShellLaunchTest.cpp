#include "win/ShellLaunch.h"

#include "TestSupport.h"

#include <exdisp.h>
#include <gtest/gtest.h>

namespace
{
const CLSID kClsidShellWindows = {0x9ba05972, 0xf6a8, 0x11cf, {0xa4, 0x42, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};
const IID kIidShellWindows = {0x85cb6900, 0x4d95, 0x11cf, {0x96, 0x0c, 0x00, 0x80, 0xc7, 0xf4, 0xee, 0x85}};

// Under Wine the desktop's shell (explorer) is started on demand by the
// first process that needs the desktop, with that process's environment, and
// registers its window list a moment later. On a cold prefix that takes a
// few seconds; the test waits for it before anything else.
bool WaitForDesktopShell(DWORD dwTimeoutMs)
{
    const HRESULT hrInit = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::GetDesktopWindow();
    bool bReady = false;
    for (DWORD dwWaited = 0; !bReady && dwWaited < dwTimeoutMs; dwWaited += 250)
    {
        IShellWindows* pWindows = nullptr;
        if (SUCCEEDED(::CoCreateInstance(kClsidShellWindows, nullptr, CLSCTX_LOCAL_SERVER, kIidShellWindows,
                                         reinterpret_cast<void**>(&pWindows))))
        {
            pWindows->Release();
            bReady = true;
        }
        else
            ::Sleep(250);
    }
    if (SUCCEEDED(hrInit))
        ::CoUninitialize();
    return bReady;
}

// The program is started by the desktop's shell, not by this process: a
// variable set only here does not reach it, and it runs in the folder given.
TEST(ShellLaunch, DesktopShellStartsTheProgramInTheGivenFolder)
{
    ASSERT_TRUE(WaitForDesktopShell(30000)) << "no desktop shell came up in this prefix";
    ScratchFolder folder(L"shell-launch");
    wchar_t szSystem[MAX_PATH] = {};
    ::GetSystemDirectoryW(szSystem, MAX_PATH);
    const std::wstring strCmd = std::wstring(szSystem) + L"\\cmd.exe";

    ASSERT_TRUE(::SetEnvironmentVariableW(L"LUMET_STARTED_BY", L"the updater"));
    const CShellLaunchResult result =
        StartThroughDesktopShellEx(strCmd, L"/c cd > cwd.txt & set > set.tmp & ren set.tmp set.txt", folder.Path());
    ::SetEnvironmentVariableW(L"LUMET_STARTED_BY", nullptr);
    ASSERT_EQ(result.eStep, EShellLaunchStep::Done)
        << Utf8(ShellLaunchStepName(result.eStep)) << " failed: " << std::hex << result.hr;

    // set.txt appears only once both files are complete.
    const std::optional<std::string> variables = WaitForFile(folder / L"set.txt");
    ASSERT_TRUE(variables.has_value()) << "the program did not run in the given folder";
    EXPECT_EQ(variables->find("LUMET_STARTED_BY"), std::string::npos) << "started by this process:\n" << *variables;
    EXPECT_EQ(ReadBytes(folder / L"cwd.txt"), Utf8(folder.Path()) + "\r\n");
}
}
