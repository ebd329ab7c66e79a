// A child process for the runner's tests: writes the length of the command
// line it was given into the file named by its first argument.
#include <windows.h>
#include <shellapi.h>

#include <string>

int wmain()
{
    int nArgs = 0;
    LPWSTR* ppszArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nArgs);
    if (!ppszArgs || nArgs < 2)
        return 1;
    const std::string strLength = std::to_string(::lstrlenW(::GetCommandLineW()));
    HANDLE hFile = ::CreateFileW(ppszArgs[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ::LocalFree(ppszArgs);
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;
    DWORD cbWritten = 0;
    ::WriteFile(hFile, strLength.data(), static_cast<DWORD>(strLength.size()), &cbWritten, nullptr);
    ::CloseHandle(hFile);
    return 0;
}
