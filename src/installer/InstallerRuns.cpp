#include "installer/InstallerRuns.h"

#include "installer/ProcessRunner.h"
#include "win/Clock.h"
#include "win/Text.h"

// Commands are built by concatenation, so long paths and long uninstall
// commands are passed whole; a command that exceeds what a process can be
// given is refused by the runner.

namespace
{
constexpr wchar_t kDefaultInstallDir[] = L"C:\\Program Files (x86)\\Vimo\\";

// The temporary folder, ending with a backslash, or the empty string. Asked
// for its length first, so that a folder longer than MAX_PATH is not lost.
std::wstring GetTempFolder()
{
    // Two rounds in case the setting changes between the calls.
    for (int nRound = 0; nRound < 2; ++nRound)
    {
        const DWORD cchNeeded = ::GetTempPathW(0, nullptr);
        if (cchNeeded == 0)
            return std::wstring();
        std::wstring strFolder(cchNeeded, L'\0');
        const DWORD cchCopied = ::GetTempPathW(cchNeeded, strFolder.data());
        if (cchCopied == 0)
            return std::wstring();
        if (cchCopied < cchNeeded)
        {
            strFolder.resize(cchCopied);
            return strFolder;
        }
    }
    return std::wstring();
}

std::wstring Quoted(const std::wstring& strText) { return L"\"" + strText + L"\""; }

// The system folder's msiexec.exe by its full path: named by its bare name,
// the system's search would look beside this program and in the current
// folder first, where an unelevated process can plant an MsiExec.exe that
// would then run elevated. The command text keeps its usual first word.
void RunWindowsInstaller(const std::wstring& strCommand)
{
    wchar_t szSystem[MAX_PATH] = {};
    const UINT cch = ::GetSystemDirectoryW(szSystem, MAX_PATH);
    // Without the system folder there is no installer to trust: none runs.
    if (cch == 0 || cch >= MAX_PATH)
        return;
    g_pfnRunCommandLine(std::wstring(szSystem, cch) + L"\\msiexec.exe", strCommand);
}
}

std::wstring GetInstallerLogPath()
{
    const std::wstring strTemp = GetTempFolder();
    if (strTemp.empty())
        return std::wstring();

    // The installer does not create the folder of its log itself. Failure,
    // usually because the folder exists from an earlier run, is ignored: the
    // installer is given the path either way.
    const std::wstring strLogFolder = strTemp + L"VimoLog\\";
    ::CreateDirectoryW(strLogFolder.c_str(), nullptr);

    // Not unique: two runs within one second share the file.
    SYSTEMTIME st = {};
    g_pfnGetSystemTime(&st);
    return strLogFolder + L"VimoLumet" + FormatTimeStamp(st) + L".log";
}

void UninstallProduct(const wchar_t* pszUninstallCommand, const std::wstring& strProductCode)
{
    // A command that names the Windows Installer, in whatever form (the /I
    // form opens its maintenance dialog), is replaced by a quiet removal of
    // the caller's product code; only that it names the installer is used.
    const bool bWindowsInstaller =
        !pszUninstallCommand || ToUpperAscii(pszUninstallCommand).find(L"MSIEXEC.EXE") != std::wstring::npos;

    // Made for both forms, so the log folder exists even when a product's
    // own uninstaller runs.
    const std::wstring strLogPath = GetInstallerLogPath();

    if (bWindowsInstaller)
        RunWindowsInstaller(L"MsiExec.exe /X" + strProductCode + L" /quiet /lv " + Quoted(strLogPath));
    // Any other command comes from the application's uninstall entry, which
    // only administrators can write: it runs as stored, its program found by
    // the system's search. An empty one names no program: nothing runs.
    else if (*pszUninstallCommand)
        g_pfnRunCommandLine(std::wstring(), pszUninstallCommand);
}

void InstallPackage(const std::wstring& strPackagePath, const std::wstring& strInstallDir)
{
    const bool bWindowsInstaller = EqualsNoCaseAscii(LastChars(strPackagePath, 3), L"MSI");

    // The package is named as the program to start and quoted in the command
    // line: otherwise, for C:\Setup Files\Vimo Setup.exe, the system would try
    // C:\Setup.exe and C:\Setup Files\Vimo.exe first, and the package would
    // get a split command line.
    if (!bWindowsInstaller)
    {
        if (!strPackagePath.empty())
            g_pfnRunCommandLine(strPackagePath, Quoted(strPackagePath) + L" /silent");
        return;
    }

    const std::wstring strLogPath = GetInstallerLogPath();
    const std::wstring strFolder = strInstallDir.empty() ? std::wstring(kDefaultInstallDir) : strInstallDir;
    RunWindowsInstaller(L"MsiExec.exe /i " + Quoted(strPackagePath) + L" INSTALLDIR=" + Quoted(strFolder) +
                        L" /qn /lv " + Quoted(strLogPath));
}
