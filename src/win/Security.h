#pragma once

#include "win/ScopedHandle.h"

#include <windows.h>
#include <accctrl.h>

#include <string>

// The access lists of what the program makes for itself or takes over: owned
// by the administrators, protected from what the folders above would pass
// on, full control for SYSTEM and the administrators, and nothing for
// anyone else (bUserReads lets the user this process runs as read it).
// Functions returning DWORD return a Win32 error code, ERROR_SUCCESS meaning
// success.

// The SID of the user this process runs as, in its text form; empty when
// it cannot be read.
std::wstring UserSid();

// That security descriptor, for a folder or file about to be created; an
// invalid owner when it cannot be made.
CLocalMemory<PSECURITY_DESCRIPTOR> MakeAdministratorsOnlySecurity(bool bUserReads);

// Turns on the process's take-ownership and restore privileges while it
// lives, and puts them back as they were when it goes: with them, what is
// opened with FILE_OPEN_FOR_BACKUP_INTENT can be given new owners and lists
// whatever its own list says. Only around what needs them, so that no program
// the update starts meanwhile inherits them turned on.
class COwnershipPrivileges
{
public:
    COwnershipPrivileges();
    ~COwnershipPrivileges();
    COwnershipPrivileges(const COwnershipPrivileges&) = delete;
    COwnershipPrivileges& operator=(const COwnershipPrivileges&) = delete;

private:
    CHandle m_hToken;
    struct Previous
    {
        TOKEN_PRIVILEGES privileges;
        LUID_AND_ATTRIBUTES second; // room for the second privilege
    } m_previous = {};
    bool m_bChanged = false;
};

// Makes what h is open on (with WRITE_OWNER and WRITE_DAC) the
// administrators' through the handle: owner and the list above, nothing
// inherited.
DWORD GiveToAdministrators(HANDLE h);

// Whether the folder or file open as h (with READ_CONTROL) is already so:
// owned by the administrators or SYSTEM, its list protected, and no one else
// allowed to change it or what it holds.
bool IsAdministratorsOnly(HANDLE h);

// Whether only the administrators, SYSTEM and the system's own installer
// service can do to what h is open on (with READ_CONTROL) any of the rights
// in changing: one of them owns it (an owner may always rewrite the list), and
// no entry of its list that applies to it lets anyone else have one of those
// rights. Entries that only pass rights on to what will be made below it do
// not count.
bool OnlyAdministratorsCan(HANDLE h, ACCESS_MASK changing);

// How the owner and access list are read through a handle; tests replace it
// to present lists that Wine does not keep, the program keeps GetSecurityInfo.
using PfnGetSecurityInfo = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                                          PSECURITY_DESCRIPTOR*);
extern PfnGetSecurityInfo g_pfnGetSecurityInfo;

// How the owner and access list are set through a handle; tests replace it
// to see what is set (Wine stores no access lists), the program keeps
// SetSecurityInfo.
using PfnSetSecurityInfo = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);
extern PfnSetSecurityInfo g_pfnSetSecurityInfo;
