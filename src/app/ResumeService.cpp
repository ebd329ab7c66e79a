#include "app/ResumeService.h"

#include "win/ScopedHandle.h"

#include <winsvc.h>

namespace
{
struct ServiceHandleTraits
{
    using Handle = SC_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::CloseServiceHandle(h); }
};
using CServiceHandle = CScopedHandle<ServiceHandleTraits>;

std::wstring ServiceName(const std::wstring& strGuid) { return L"LumetUpdate-" + strGuid; }

CServiceHandle OpenRunService(const std::wstring& strGuid, DWORD dwManagerAccess, DWORD dwAccess)
{
    const CServiceHandle hManager(::OpenSCManagerW(nullptr, nullptr, dwManagerAccess));
    if (!hManager.IsValid())
        return CServiceHandle();
    return CServiceHandle(::OpenServiceW(hManager.Get(), ServiceName(strGuid).c_str(), dwAccess));
}

// What the service's main function needs; one service per process.
struct ServiceRun
{
    std::wstring strName;
    DWORD (*pfnRun)(void*) = nullptr;
    void* pParam = nullptr;
    DWORD dwExitCode = ERROR_SERVICE_NOT_ACTIVE; // until the run has ended
};
ServiceRun g_service;

DWORD WINAPI HandleControl(DWORD, DWORD, void*, void*) { return ERROR_CALL_NOT_IMPLEMENTED; }

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    const SERVICE_STATUS_HANDLE hStatus =
        ::RegisterServiceCtrlHandlerExW(g_service.strName.c_str(), &HandleControl, nullptr);
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_RUNNING;
    if (hStatus)
        ::SetServiceStatus(hStatus, &status);
    g_service.dwExitCode = g_service.pfnRun(g_service.pParam);
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = g_service.dwExitCode == ERROR_SUCCESS ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = g_service.dwExitCode;
    if (hStatus)
        ::SetServiceStatus(hStatus, &status);
}
}

DWORD RegisterResumeService(const std::wstring& strGuid, const std::wstring& strUpdaterCopy)
{
    const CServiceHandle hManager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!hManager.IsValid())
        return ::GetLastError();
    const std::wstring strName = ServiceName(strGuid);
    // Quoted: a path with blanks would otherwise be split, and its first word
    // looked for as a program.
    const std::wstring strCommand = L"\"" + strUpdaterCopy + L"\" /resume " + strGuid;
    // Display names are unique too, as service names are: a service another
    // run left would otherwise keep this one from being registered.
    const std::wstring strDisplay = L"Vimo Lumet update " + strGuid;
    CServiceHandle hService(::CreateServiceW(hManager.Get(), strName.c_str(), strDisplay.c_str(), SERVICE_CHANGE_CONFIG,
                                             SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                             strCommand.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (hService.IsValid())
        return ERROR_SUCCESS;
    if (::GetLastError() != ERROR_SERVICE_EXISTS)
        return ::GetLastError();
    hService = CServiceHandle(::OpenServiceW(hManager.Get(), strName.c_str(), SERVICE_CHANGE_CONFIG));
    if (!hService.IsValid() ||
        !::ChangeServiceConfigW(hService.Get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                strCommand.c_str(), nullptr, nullptr, nullptr, L"LocalSystem", nullptr, nullptr))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

DWORD DeleteResumeService(const std::wstring& strGuid)
{
    const CServiceHandle hService = OpenRunService(strGuid, SC_MANAGER_CONNECT, DELETE);
    if (!hService.IsValid())
        return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_SUCCESS : ::GetLastError();
    return ::DeleteService(hService.Get()) || ::GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE ? ERROR_SUCCESS
                                                                                                  : ::GetLastError();
}

bool IsStartedAsResumeService(const std::wstring& strGuid)
{
    // The service manager knows which process it started for the service:
    // asking it, unlike connecting to it, costs nothing when this is not that
    // process.
    const CServiceHandle hService = OpenRunService(strGuid, SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status = {};
    DWORD cbNeeded = 0;
    return hService.IsValid() &&
           ::QueryServiceStatusEx(hService.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                  sizeof(status), &cbNeeded) &&
           status.dwCurrentState == SERVICE_START_PENDING && status.dwProcessId == ::GetCurrentProcessId();
}

DWORD RunAsResumeService(const std::wstring& strGuid, DWORD (*pfnRun)(void*), void* pParam)
{
    g_service = {ServiceName(strGuid), pfnRun, pParam};
    SERVICE_TABLE_ENTRYW table[] = {{g_service.strName.data(), &ServiceMain}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherW(table))
        return ::GetLastError();
    return g_service.dwExitCode;
}
