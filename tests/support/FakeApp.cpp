// A stand-in for the application and for installers in tests. It leaves a
// marker beside itself, "<own path>.started", holding its command line as
// UTF-8, and adds what it saw to C:\lumet-runs.log, which outlives the
// folders it ran from: a record of lines "run:", "command:", "folder:",
// "parent:" (the program that started it) and "environment:" (its variables,
// separated by '|'), then an empty line. With "/crash" it crashes instead.
// With "/block" it records nothing and, while C:\lumet-block exists, runs
// on, after adding its path to C:\lumet-blocked: a program in use, or an
// install held in a custom action until a test lets it go. With "/signer" it
// reports who signed the image it runs from, with "/verify PATH" who signed
// that file, as "<code> <subject in hex>" in "<own path>.signer". Where
// C:\windows\lumet-real-msiexec.exe is (Wine's own installer, under another
// name), it stands in for the system's msiexec and hands each run on to it,
// but answers an install with 1618 (another installation in progress) while
// C:\lumet-busy holds a count above 0, counting down.
#include "win/Signature.h"
#include "win/Text.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

namespace
{
std::string Utf8(const std::wstring& text)
{
    std::string bytes;
    WideToUtf8(text, bytes);
    return bytes;
}

std::wstring ParentName()
{
    const HANDLE hSnapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    DWORD dwParent = 0;
    for (BOOL b = ::Process32FirstW(hSnapshot, &entry); b; b = ::Process32NextW(hSnapshot, &entry))
        if (entry.th32ProcessID == ::GetCurrentProcessId())
            dwParent = entry.th32ParentProcessID;
    std::wstring strParent;
    for (BOOL b = ::Process32FirstW(hSnapshot, &entry); b; b = ::Process32NextW(hSnapshot, &entry))
        if (entry.th32ProcessID == dwParent)
            strParent = entry.szExeFile;
    ::CloseHandle(hSnapshot);
    return strParent;
}

// Adds bytes to the end of a file that others may write too.
void Append(const wchar_t* pszPath, const std::string& bytes)
{
    const HANDLE h =
        ::CreateFileW(pszPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD cbWritten = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
    ::CloseHandle(h);
}
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t szPath[32768] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, szPath, static_cast<DWORD>(sizeof(szPath) / sizeof(szPath[0])));
    if (n == 0)
        return 1;
    if (std::wcsstr(::GetCommandLineW(), L" /crash"))
        ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    if (std::wcsstr(::GetCommandLineW(), L" /block"))
    {
        if (::GetFileAttributesW(L"C:\\lumet-block") == INVALID_FILE_ATTRIBUTES)
            return 0;
        Append(L"C:\\lumet-blocked", Utf8(std::wstring(szPath, n)) + "\n");
        while (::GetFileAttributesW(L"C:\\lumet-block") != INVALID_FILE_ATTRIBUTES)
            ::Sleep(100);
        return 0;
    }

    const wchar_t* pszVerify = std::wcsstr(::GetCommandLineW(), L" /verify ");
    if (pszVerify || std::wcsstr(::GetCommandLineW(), L" /signer"))
    {
        Signer signer;
        DWORD dwResult = 0;
        if (pszVerify)
        {
            const std::wstring strFile = pszVerify + 9;
            const HANDLE h =
                ::CreateFileW(strFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            bool bRevocationChecked = false;
            dwResult = VerifyFileSignature(strFile, h, signer, bRevocationChecked);
            if (h != INVALID_HANDLE_VALUE)
                ::CloseHandle(h);
        }
        else
            dwResult = ReadOwnSigner(signer);
        std::string report = std::to_string(dwResult) + " ";
        for (const BYTE b : signer.subject)
            report += "0123456789abcdef"[b >> 4], report += "0123456789abcdef"[b & 15];
        const std::wstring strReport = std::wstring(szPath, n) + L".signer";
        ::DeleteFileW(strReport.c_str());
        Append(strReport.c_str(), report);
        return 0;
    }

    wchar_t szFolder[32768] = {};
    ::GetCurrentDirectoryW(32768, szFolder);
    std::wstring strEnvironment;
    const wchar_t* pBlock = ::GetEnvironmentStringsW();
    for (const wchar_t* p = pBlock; *p; p += std::wcslen(p) + 1)
        strEnvironment += std::wstring(p) + L"|";
    ::FreeEnvironmentStringsW(const_cast<wchar_t*>(pBlock));
    Append(L"C:\\lumet-runs.log", "run: " + Utf8(std::wstring(szPath, n)) + "\ncommand: " + Utf8(::GetCommandLineW()) +
                                      "\nfolder: " + Utf8(szFolder) + "\nparent: " + Utf8(ParentName()) +
                                      "\nenvironment: " + Utf8(strEnvironment) + "\n\n");

    const wchar_t kRealInstaller[] = L"C:\\windows\\lumet-real-msiexec.exe";
    if (::GetFileAttributesW(kRealInstaller) != INVALID_FILE_ATTRIBUTES)
    {
        HANDLE hBusy =
            ::CreateFileW(L"C:\\lumet-busy", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        char chCount = '0';
        DWORD cb = 0;
        if (hBusy != INVALID_HANDLE_VALUE && ::ReadFile(hBusy, &chCount, 1, &cb, nullptr) && cb == 1 && chCount > '0' &&
            std::wcsstr(::GetCommandLineW(), L" /i "))
        {
            --chCount;
            ::SetFilePointer(hBusy, 0, nullptr, FILE_BEGIN);
            ::WriteFile(hBusy, &chCount, 1, &cb, nullptr);
            ::CloseHandle(hBusy);
            return ERROR_INSTALL_ALREADY_RUNNING;
        }
        if (hBusy != INVALID_HANDLE_VALUE)
            ::CloseHandle(hBusy);
        std::wstring strCommand = ::GetCommandLineW();
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        DWORD dwExit = 1;
        if (::CreateProcessW(kRealInstaller, strCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        {
            ::WaitForSingleObject(pi.hProcess, INFINITE);
            ::GetExitCodeProcess(pi.hProcess, &dwExit);
            ::CloseHandle(pi.hThread);
            ::CloseHandle(pi.hProcess);
        }
        return static_cast<int>(dwExit);
    }

    // Written under another name first, so a watcher never reads half a file.
    const std::wstring strMarker = std::wstring(szPath, n) + L".started";
    const std::wstring strPartial = strMarker + L".partial";
    ::DeleteFileW(strPartial.c_str());
    Append(strPartial.c_str(), Utf8(::GetCommandLineW()));
    return ::MoveFileExW(strPartial.c_str(), strMarker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
