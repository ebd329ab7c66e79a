#pragma once

#include <windows.h>

#include <string>

// Starting a program as the signed-in desktop user from an elevated process:
// the desktop's shell (the shell window that owns the desktop) is asked to
// start it, so the program runs with the shell's rights and environment, not
// with the updater's administrator token.

// The steps in the order they are taken; the first one that fails is named
// in the result.
enum class EShellLaunchStep
{
    ComInit,         // CoInitializeEx on the calling thread
    ShellWindows,    // CoCreateInstance(CLSID_ShellWindows)
    DesktopWindow,   // IShellWindows::FindWindowSW(SWC_DESKTOP, SWFO_NEEDDISPATCH)
    TopLevelBrowser, // IServiceProvider::QueryService(SID_STopLevelBrowser, IShellBrowser)
    ActiveView,      // IShellBrowser::QueryActiveShellView
    ViewDispatch,    // IShellView::GetItemObject(SVGIO_BACKGROUND, IDispatch)
    FolderView,      // IDispatch -> IShellFolderViewDual
    Application,     // IShellFolderViewDual::get_Application
    ShellDispatch,   // IDispatch -> IShellDispatch2
    Execute,         // IShellDispatch2::ShellExecute
    Done,            // the shell accepted the request
};

struct CShellLaunchResult
{
    EShellLaunchStep eStep = EShellLaunchStep::ComInit;
    HRESULT hr = E_FAIL; // the failing call's result; S_OK when eStep is Done
};

// Asks the desktop's shell to open strPath ("open" verb, shown normally) with
// strArgs, in strFolder as its current folder. The shell starts the program
// on its own: Done says only that the request was accepted, not that the
// program started. Any other step means nothing was started and the caller
// may start the program itself (CreateProcessW). Initialises COM on the
// calling thread for the call when it is not initialised yet; a thread
// already in another apartment model is used as it is.
CShellLaunchResult StartThroughDesktopShellEx(const std::wstring& strPath, const std::wstring& strArgs,
                                              const std::wstring& strFolder);

// The same, as a yes or no: false at the first step that fails.
bool StartThroughDesktopShell(const std::wstring& strPath, const std::wstring& strFolder);
