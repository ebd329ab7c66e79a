#pragma once

#include <windows.h>

#include <string>

// The clock used for every time stamp of the program (log names, installer
// log names, log retention). Tests point it at a fixed time; the program
// leaves it on the system's UTC clock.
using PfnGetSystemTime = void(WINAPI*)(LPSYSTEMTIME);
extern PfnGetSystemTime g_pfnGetSystemTime;

// "yyyymmdd_hhmmss" from the fields of a system time: year at least four
// characters wide (padded with blanks), the others two digits.
std::wstring FormatTimeStamp(const SYSTEMTIME& st);

// Appends n in decimal, padded on the left to at least nWidth characters
// with chPad.
void AppendNumber(std::wstring& text, unsigned n, size_t nWidth = 1, wchar_t chPad = L'0');
