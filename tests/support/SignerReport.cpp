// A program for the signature tests. With no argument it reports who signed
// the image it runs from (ReadOwnSigner); with "/verify PATH" who signed that
// file (VerifyFileSignature). The report, "<code> <subject in hex>", goes to
// "<the name it was started by>.signer".
#include "win/Signature.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR pszArguments, int)
{
    Signer signer;
    DWORD dwResult = 0;
    if (std::wcsncmp(pszArguments, L"/verify ", 8) == 0)
    {
        const std::wstring strPath = pszArguments + 8;
        HANDLE h = ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        bool bRevocationChecked = false;
        dwResult = VerifyFileSignature(strPath, h, signer, bRevocationChecked);
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
    else
    {
        dwResult = ReadOwnSigner(signer);
    }

    std::string report = std::to_string(dwResult) + " ";
    for (const BYTE b : signer.subject)
    {
        char sz[3];
        std::snprintf(sz, sizeof(sz), "%02x", b);
        report += sz;
    }
    wchar_t szPath[MAX_PATH * 4] = {};
    const std::wstring strReport =
        std::wstring(szPath, ::GetModuleFileNameW(nullptr, szPath, MAX_PATH * 4)) + L".signer";
    HANDLE h = ::CreateFileW(strReport.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    DWORD cbWritten = 0;
    ::WriteFile(h, report.data(), static_cast<DWORD>(report.size()), &cbWritten, nullptr);
    ::CloseHandle(h);
    return 0;
}
