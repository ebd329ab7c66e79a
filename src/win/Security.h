#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>
#include <accctrl.h>

// The access lists of what the program makes for itself or takes over: owned
// by the administrators, protected from what the folders above would pass
// on, full control for SYSTEM and the administrators, and nothing for
// anyone else (bUserReads lets the user this process runs as read it).
// Functions returning DWORD return a Win32 error code, ERROR_SUCCESS meaning
// success.

// That security descriptor, for a folder or file about to be created; an
// invalid owner when it cannot be made.
CLocalMemory<PSECURITY_DESCRIPTOR> MakeAdministratorsOnlySecurity(bool bUserReads);

// Turns on, once, the process's take-ownership and restore privileges: with
// them, what is opened with FILE_OPEN_FOR_BACKUP_INTENT can be given new
// owners and lists whatever its own list says. False when the process does
// not hold them.
bool EnableOwnershipPrivileges();

// Makes what h is open on (with WRITE_OWNER and WRITE_DAC) the
// administrators' through the handle: owner and the list above, nothing
// inherited.
DWORD GiveToAdministrators(HANDLE h);

// Whether the folder or file open as h (with READ_CONTROL) is already so:
// owned by the administrators or SYSTEM, its list protected, and no one else
// allowed to change it or what it holds.
bool IsAdministratorsOnly(HANDLE h);

// How the owner and access list are set through a handle; tests replace it
// to see what is set (Wine stores no access lists), the program keeps
// SetSecurityInfo.
using PfnSetSecurityInfo = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);
extern PfnSetSecurityInfo g_pfnSetSecurityInfo;
