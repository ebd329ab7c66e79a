#include "app/LumetUpdateApp.h"

#include "app/LumetUpdateDlg.h"
#include "log/Log.h"
#include "resources/MultiLanguage.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

CLumetUpdateApp theApp;

// The program runs elevated, possibly from a downloads folder: a DLL loaded
// by name later must come from the system folder, never from beside the exe.
void RestrictDllSearchToSystemFolder()
{
    using PfnSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    // Looked up at run time: older systems lack it without an update.
    auto pfn = reinterpret_cast<PfnSetDefaultDllDirectories>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (pfn)
        pfn(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

namespace
{
// Also against what an unelevated process can plant: junctions made by a user
// without administrator rights are not followed (redirection trust), and
// images are not loaded from remote shares, from files of low integrity, or
// from beside the program in place of a system DLL. Looked up at run time and
// failures ignored: older systems lack the function (Windows 7) or a policy,
// and the update runs all the same without them.
void ApplyProcessMitigations()
{
    // Policy numbers and flag bits of SetProcessMitigationPolicy, written out
    // because the headers of the Windows 7 target do not declare them. Both
    // policies are a single DWORD of flags; the policy, an enum, is passed as
    // 32 bits.
    constexpr DWORD kProcessImageLoadPolicy = 10;
    constexpr DWORD kProcessRedirectionTrustPolicy = 16;
    constexpr DWORD kNoRemoteImages = 0x1, kNoLowMandatoryLabelImages = 0x2, kPreferSystem32Images = 0x4;
    constexpr DWORD kEnforceRedirectionTrust = 0x1;
    using PfnSetProcessMitigationPolicy = BOOL(WINAPI*)(DWORD, PVOID, SIZE_T);
    auto pfn = reinterpret_cast<PfnSetProcessMitigationPolicy>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy")));
    if (!pfn)
        return;
    DWORD dwRedirectionTrust = kEnforceRedirectionTrust;
    pfn(kProcessRedirectionTrustPolicy, &dwRedirectionTrust, sizeof(dwRedirectionTrust));
    DWORD dwImageLoad = kNoRemoteImages | kNoLowMandatoryLabelImages | kPreferSystem32Images;
    pfn(kProcessImageLoadPolicy, &dwImageLoad, sizeof(dwImageLoad));
}
}

std::wstring GetPackagePathFromCommandLine(const wchar_t* pszCommandLine)
{
    std::wstring strPath;
    int nArgs = 0;
    LPWSTR* ppArgs = ::CommandLineToArgvW(pszCommandLine, &nArgs);
    if (ppArgs)
    {
        if (nArgs > 1)
            strPath = ppArgs[1];
        ::LocalFree(static_cast<HLOCAL>(ppArgs));
    }
    return strPath;
}

BOOL CLumetUpdateApp::InitInstance()
{
    RestrictDllSearchToSystemFolder();
    ApplyProcessMitigations();

    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&icc);

    m_hrCom = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // Without a log the program runs on; nothing is reported.
    const std::wstring strLogPath = MakeLogFilePath();
    OpenLog(strLogPath.c_str());

    g_pMessageTable = new CMultiLanguage;
    if (g_pMessageTable)
        CMultiLanguage::LoadLanguageResource();

    const std::wstring strPackagePath = GetPackagePathFromCommandLine(::GetCommandLineW());

    {
        CLumetUpdateDlg dlg;
        dlg.m_strPackagePath = strPackagePath;
        dlg.DoModal();
    }
    return FALSE;
}

int CLumetUpdateApp::ExitInstance()
{
    delete g_pMessageTable;
    g_pMessageTable = nullptr;
    CloseLog();
    if (SUCCEEDED(m_hrCom))
        ::CoUninitialize();
    return 0;
}
