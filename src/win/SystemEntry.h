#pragma once

#include <windows.h>

// An entry point of a system DLL, looked up at run time: where older systems
// lack it (SetDefaultDllDirectories before an update of Windows 7), where it
// has no Win32 form (ntdll's calls relative to a folder handle), and for the
// DLLs the program uses only now and then (the Windows Installer's, the
// signature checks'). Linked as imports, those would be looked for beside
// the program before any of its code runs, since the system keeps no fixed
// copy of them as it does of kernel32 or user32, and a program started from
// a downloads folder would load a DLL of that name planted there. A DLL not
// loaded yet is loaded here by its full path in the system folder, its own
// dependencies looked for there first; it stays loaded for the rest of the
// run. Null when the DLL or the entry is missing.
HMODULE LoadSystemDll(const wchar_t* pszDll) noexcept;

template <typename Pfn>
Pfn SystemEntry(const wchar_t* pszDll, const char* pszName) noexcept
{
    const HMODULE hModule = LoadSystemDll(pszDll);
    // Cast through void*: the entry's real type is Pfn, not FARPROC.
    return hModule ? reinterpret_cast<Pfn>(reinterpret_cast<void*>(::GetProcAddress(hModule, pszName))) : nullptr;
}

// A member of a table of one system DLL's functions: pfn<name>, of the
// function's own declared type, looked up when the table is made (null where
// missing). Tables are made once, on first use.
#define LUMET_SYSTEM_ENTRY(dll, name) decltype(&::name) pfn##name = SystemEntry<decltype(&::name)>(dll, #name)
