#include "installer/InstallerRuns.h"

#include "installer/ProcessRunner.h"
#include "log/Log.h"
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

// The program a stored command names: a first word in double quotes; else,
// unquoted, the text up to the first ".exe" that ends a word (so that
// C:\Program Files\Vimo\uninst.exe /S names the whole path), or up to the
// first blank.
std::wstring ProgramOf(const std::wstring& strCommand)
{
    const size_t nStart = strCommand.find_first_not_of(L' ');
    if (nStart == std::wstring::npos)
        return std::wstring();
    if (strCommand[nStart] == L'"')
    {
        const size_t nQuote = strCommand.find(L'"', nStart + 1);
        return nQuote == std::wstring::npos ? std::wstring() : strCommand.substr(nStart + 1, nQuote - nStart - 1);
    }
    const std::wstring strFolded = ToLowerAscii(strCommand);
    for (size_t nExe = strFolded.find(L".exe", nStart); nExe != std::wstring::npos;
         nExe = strFolded.find(L".exe", nExe + 1))
    {
        const size_t nEnd = nExe + 4;
        if (nEnd == strCommand.size() || strCommand[nEnd] == L' ')
            return strCommand.substr(nStart, nEnd - nStart);
    }
    return strCommand.substr(nStart, strCommand.find(L' ', nStart) - nStart);
}

// Whether a program is the Windows Installer: msiexec, with or without
// ".exe", by its bare name or with a folder before it. Whatever folder a
// command names it in, the system folder's own is the one that runs.
bool IsWindowsInstaller(const std::wstring& strProgram)
{
    const std::wstring_view name = std::wstring_view(strProgram).substr(strProgram.rfind(L'\\') + 1);
    return EqualsNoCaseAscii(name, L"msiexec") || EqualsNoCaseAscii(name, L"msiexec.exe");
}

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
    const std::wstring strProgram = pszUninstallCommand ? ProgramOf(pszUninstallCommand) : std::wstring();
    if (!pszUninstallCommand || IsWindowsInstaller(strProgram))
    {
        RunWindowsInstaller(L"MsiExec.exe /X" + strProductCode + L" /quiet /lv " + Quoted(GetInstallerLogPath()));
        return;
    }
    // Any other command comes from the application's uninstall entry, which
    // only administrators can write, and runs as stored, its program started
    // by the full path it names. A program without a folder would be found by
    // the system's search, beside this program and in the current folder
    // first: such a command is not run. An empty one names no program.
    if (strProgram.empty())
        return;
    if (!IsFullPath(strProgram))
    {
        WriteLog(L"Uninstall command not run: " + std::wstring(pszUninstallCommand) + L"\r\n");
        return;
    }
    g_pfnRunCommandLine(strProgram, pszUninstallCommand);
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
