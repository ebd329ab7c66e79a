#pragma once

#include <windows.h>

// An entry point of ntdll, looked up at run time: the program links no
// import library for it, and the calls it needs there (opens relative to a
// folder handle, renames into a folder handle, deleting a registry key by
// its handle) have no Win32 form. Null when ntdll lacks it.
template <typename Pfn>
Pfn NtdllEntry(const char* pszName) noexcept
{
    return reinterpret_cast<Pfn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), pszName)));
}
