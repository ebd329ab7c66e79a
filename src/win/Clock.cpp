#include "win/Clock.h"

PfnGetSystemTime g_pfnGetSystemTime = &::GetSystemTime;

// Written out by hand: the C library's formatted printing, which the
// standard library's number-to-text conversions use, would bring its whole
// floating-point machinery into the program for a few numbers.
void AppendNumber(std::wstring& text, unsigned n, size_t nWidth, wchar_t chPad)
{
    wchar_t szDigits[10];
    size_t nDigits = 0;
    do
    {
        szDigits[nDigits++] = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    } while (n != 0);
    for (size_t i = nDigits; i < nWidth; ++i)
        text += chPad;
    while (nDigits > 0)
        text += szDigits[--nDigits];
}

std::wstring FormatTimeStamp(const SYSTEMTIME& st)
{
    std::wstring text;
    AppendNumber(text, st.wYear, 4, L' ');
    AppendNumber(text, st.wMonth, 2, L'0');
    AppendNumber(text, st.wDay, 2, L'0');
    text += L'_';
    AppendNumber(text, st.wHour, 2, L'0');
    AppendNumber(text, st.wMinute, 2, L'0');
    AppendNumber(text, st.wSecond, 2, L'0');
    return text;
}
