#pragma once

#include <windows.h>

// An entry point of a system DLL, looked up at run time: where older systems
// lack it (SetDefaultDllDirectories before an update of Windows 7), where the
// import libraries of the toolchain do not have it, or where it has no Win32
// form at all (ntdll's calls relative to a folder handle). The DLL must be
// one that every process has loaded (ntdll.dll, kernel32.dll): nothing is
// loaded here, so no DLL can be planted for it. Null when it lacks the entry.
template <typename Pfn>
Pfn SystemEntry(const wchar_t* pszModule, const char* pszName) noexcept
{
    const HMODULE hModule = ::GetModuleHandleW(pszModule);
    // Cast through void*: the entry's real type is Pfn, not FARPROC.
    return hModule ? reinterpret_cast<Pfn>(reinterpret_cast<void*>(::GetProcAddress(hModule, pszName))) : nullptr;
}
