// A stand-in for the application and for installers in tests: it leaves a
// marker beside itself, "<own path>.started", holding its command line as
// UTF-8, and ends. With "/crash" it crashes instead.
#include <windows.h>

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t szPath[32768] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, szPath, static_cast<DWORD>(sizeof(szPath) / sizeof(szPath[0])));
    if (n == 0)
        return 1;
    if (std::wcsstr(::GetCommandLineW(), L" /crash"))
        ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    const std::wstring strMarker = std::wstring(szPath, n) + L".started";
    const wchar_t* pszCommandLine = ::GetCommandLineW();
    const int cb = ::WideCharToMultiByte(CP_UTF8, 0, pszCommandLine, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(cb > 0 ? static_cast<size_t>(cb - 1) : 0, '\0');
    if (cb > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, pszCommandLine, -1, bytes.data(), cb, nullptr, nullptr);

    // Written under another name first, so a watcher never reads half a file.
    const std::wstring strPartial = strMarker + L".partial";
    HANDLE h = ::CreateFileW(strPartial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    DWORD cbWritten = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
    ::CloseHandle(h);
    return ::MoveFileExW(strPartial.c_str(), strMarker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
