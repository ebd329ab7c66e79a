// Built as wintrust.dll, to be planted beside a program that checks
// signatures: loaded, it leaves "<its own path>.loaded" and answers every
// verification with success. No C++ library: a DLL of the test build links
// without the thread library that the static one needs.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    wchar_t szMarker[MAX_PATH + 8] = {};
    const DWORD cch = ::GetModuleFileNameW(hInstance, szMarker, MAX_PATH);
    if (dwReason == DLL_PROCESS_ATTACH && cch > 0 && cch < MAX_PATH)
    {
        ::lstrcatW(szMarker, L".loaded");
        HANDLE h = ::CreateFileW(szMarker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
    return TRUE;
}

extern "C" LONG WINAPI WinVerifyTrust(HWND, GUID*, LPVOID) { return 0; }
extern "C" void* WINAPI WTHelperProvDataFromStateData(HANDLE) { return nullptr; }
extern "C" void* WINAPI WTHelperGetProvSignerFromChain(void*, DWORD, BOOL, DWORD) { return nullptr; }
