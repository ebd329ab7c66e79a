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

std::wstring GetPackagePathFromCommandLine(const wchar_t* pszCommandLine)
{
    std::wstring strPath;
    int nArgs = 0;
    LPWSTR* ppArgs = ::CommandLineToArgvW(pszCommandLine, &nArgs);
    if (ppArgs)
    {
        if (nArgs > 1)
            strPath = ppArgs[1];
        ::LocalFree(ppArgs);
    }
    return strPath;
}

BOOL CLumetUpdateApp::InitInstance()
{
    RestrictDllSearchToSystemFolder();

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
