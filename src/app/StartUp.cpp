#include "app/StartUp.h"

#include "app/LumetUpdateDlg.h"
#include "app/ResumeService.h"
#include "app/UpdateRun.h"
#include "log/Log.h"
#include "log/LogRetention.h"
#include "resources/MultiLanguage.h"
#include "win/Com.h"
#include "win/PackageCache.h"
#include "win/ScopedHandle.h"
#include "win/SystemEntry.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

namespace
{
// The program runs elevated, possibly from a downloads folder: a DLL loaded
// by name later must come from the system folder, never from beside the exe.
void RestrictDllSearchToSystemFolder()
{
    using PfnSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    // Older systems lack it without an update.
    if (const auto pfn = SystemEntry<PfnSetDefaultDllDirectories>(L"kernel32.dll", "SetDefaultDllDirectories"))
        pfn(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Also against what an unelevated process can plant: junctions made by a user
// without administrator rights are not followed (redirection trust), and
// images are not loaded from remote shares, from files of low integrity, or
// from beside the program in place of a system DLL. Failures are ignored:
// older systems lack the function (Windows 7) or a policy, and the update
// runs all the same without them.
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
    const auto pfn = SystemEntry<PfnSetProcessMitigationPolicy>(L"kernel32.dll", "SetProcessMitigationPolicy");
    if (!pfn)
        return;
    DWORD dwRedirectionTrust = kEnforceRedirectionTrust;
    pfn(kProcessRedirectionTrustPolicy, &dwRedirectionTrust, sizeof(dwRedirectionTrust));
    DWORD dwImageLoad = kNoRemoteImages | kNoLowMandatoryLabelImages | kPreferSystem32Images;
    pfn(kProcessImageLoadPolicy, &dwImageLoad, sizeof(dwImageLoad));
}

// The log of this run: open while it lives. Old logs are pruned once it is
// open, so that what the pruning cannot walk is named in it.
class CRunLog
{
public:
    explicit CRunLog(const std::wstring& strProfile)
    {
        // Without a log the program runs on.
        const std::wstring strPath = MakeLogFilePath(strProfile);
        OpenLog(strPath);
        if (!strPath.empty())
            PruneOldLogs(strPath.substr(0, strPath.rfind(L'\\')));
    }
    ~CRunLog() { CloseLog(); }
    CRunLog(const CRunLog&) = delete;
    CRunLog& operator=(const CRunLog&) = delete;
};

// What the command line asks for, as the system splits command lines: the
// first argument after the program's own path is the package path, unless it
// is "/resume", whose own argument names the run to take up. Further
// arguments are ignored.
UpdateRequest GetRequestFromCommandLine(const wchar_t* pszCommandLine)
{
    int nArgs = 0;
    const CLocalMemory<LPWSTR*> ppArgs(::CommandLineToArgvW(pszCommandLine, &nArgs));
    UpdateRequest request;
    if (!ppArgs.IsValid() || nArgs < 2)
        return request;
    if (std::wstring_view(ppArgs.Get()[1]) != L"/resume")
        request.strPackagePath = ppArgs.Get()[1];
    else
        request.strResumeGuid = nArgs > 2 ? ppArgs.Get()[2] : L"{}";
    return request;
}

// What the service manager runs: the resumed update, carried out quietly.
struct ServiceContext
{
    UpdateRequest request;
    const UpdateSteps* pSteps;
};

DWORD RunQuietly(void* pParam)
{
    const auto& context = *static_cast<const ServiceContext*>(pParam);
    const CComInit com;
    CQuietRun events;
    CUpdateRun run(context.request, events, *context.pSteps);
    return events.Carry(run);
}

// One update in the progress window.
DWORD RunInWindow(const UpdateRequest& request, const UpdateSteps& steps, bool& bPending)
{
    CLumetUpdateDlg dlg;
    CUpdateRun run(request, dlg, steps);
    dlg.Show(run);
    const DWORD dwExitCode = run.Finish();
    bPending = run.IsPending();
    return dwExitCode;
}
}

int RunLumetUpdate(const wchar_t* pszCommandLine, const UpdateSteps& steps)
{
    RestrictDllSearchToSystemFolder();
    ApplyProcessMitigations();

    UpdateRequest request = GetRequestFromCommandLine(pszCommandLine);
    // A resumed run writes its log beside its first run's, in the profile of
    // the user whose update it is, whoever runs it now.
    std::wstring strSid, strProfile;
    if (!request.strResumeGuid.empty())
        ReadRunUser(request.strResumeGuid, strSid, strProfile);
    // Started by the service manager at the machine's start: no window, and
    // the service reports how it ended.
    if (!request.strResumeGuid.empty() && IsStartedAsResumeService(request.strResumeGuid))
    {
        request.bAsService = true;
        const CRunLog log(strProfile);
        ServiceContext context{request, &steps};
        return static_cast<int>(RunAsResumeService(request.strResumeGuid, &RunQuietly, &context));
    }

    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&icc);

    // Made in this order and released in the reverse: the message table, the
    // log, COM.
    const CComInit com;
    // The desktop's shell, whose objects start the application, runs as the
    // user: nothing it hands over may bring its own marshalling code into
    // this process. Fails only when COM already chose, which it has not.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                           EOAC_NO_CUSTOM_MARSHAL, nullptr);
    const CRunLog log(strProfile);
    CMultiLanguage table;
    const CMessageTableScope tableScope(table);
    CMultiLanguage::LoadLanguageResource();

    // An update runs alone: one that runs now refuses this one, and one that
    // was interrupted is carried out first; only once its record has ended
    // does the one asked for run.
    bool bPending = false;
    const std::wstring strUnfinished = request.strPackagePath.empty() ? std::wstring() : FindUnfinishedRun();
    if (!strUnfinished.empty() && IsUpdateInProgress())
    {
        WriteLog(L"Update refused: " + std::wstring(ReasonOfRefusal(ERROR_INSTALL_ALREADY_RUNNING)) + L": " +
                 request.strPackagePath + L"\r\n");
        return ERROR_INSTALL_ALREADY_RUNNING;
    }
    if (!strUnfinished.empty())
    {
        WriteLog(L"Unfinished update found: " + strUnfinished + L"\r\n");
        const DWORD dwResumed = RunInWindow(UpdateRequest{L"", strUnfinished}, steps, bPending);
        if (bPending || !FindUnfinishedRun().empty())
            return static_cast<int>(dwResumed);
    }
    return static_cast<int>(RunInWindow(request, steps, bPending));
}
