#include "win/Clock.h"

#include <cwchar>

PfnGetSystemTime g_pfnGetSystemTime = &::GetSystemTime;

std::wstring FormatTimeStamp(const SYSTEMTIME& st)
{
    // Widest possible result: 5 + 2 + 2 + 1 + 2 + 2 + 2 digits and separators.
    wchar_t sz[32] = {};
    std::swprintf(sz, sizeof(sz) / sizeof(sz[0]), L"%4d%02d%02d_%02d%02d%02d", static_cast<int>(st.wYear),
                  static_cast<int>(st.wMonth), static_cast<int>(st.wDay), static_cast<int>(st.wHour),
                  static_cast<int>(st.wMinute), static_cast<int>(st.wSecond));
    return sz;
}
