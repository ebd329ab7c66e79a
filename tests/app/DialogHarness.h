#pragma once

#include "app/LumetUpdateDlg.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A manual-reset gate that a recorded step waits at while it is shut.
class Gate
{
public:
    Gate() : m_h(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}
    ~Gate() { ::CloseHandle(m_h); }
    void Shut() { ::ResetEvent(m_h); }
    void Open() { ::SetEvent(m_h); }
    void Pass() { ::WaitForSingleObject(m_h, 60000); }

private:
    HANDLE m_h;
};

// Update steps that record what the phases call, in order, instead of
// running installers. Progress-bar messages are recorded in the same list by
// a hook on the window's thread.
class RecordingSteps : public CUpdateSteps
{
public:
    std::wstring strProductCode = L"{11111111-2222-3333-4444-555555555555}";
    std::wstring strInstallLocation = L"D:\\Apps\\Vimo\\";
    std::wstring strUninstall = L"MsiExec.exe /I{11111111-2222-3333-4444-555555555555}";
    DWORD dwStepDelayMs = 0;
    Gate removal; // passed by the first removal step
    Gate install; // passed by the install step
    std::function<void(CLumetUpdateDlg&)> onLaunch;

    void Record(const std::wstring& strEvent);
    std::vector<std::wstring> Events();
    std::vector<DWORD> Threads();
    size_t Count(const std::wstring& strPrefix);

    std::wstring GetProductCode(ProductList& list) override;
    std::wstring GetInstallLocation(ProductList& list) override;
    void RemoveEarlierVersions(ProductList& list) override;
    std::wstring GetUninstallString(ProductList& list) override;
    void UninstallProduct(ProductList& list, const wchar_t* pszUninstallCommand, const std::wstring& strProductCode) override;
    void InstallPackage(ProductList& list, const std::wstring& strPackagePath, const std::wstring& strInstallDir) override;
    void LaunchApplication(CLumetUpdateDlg& dlg) override;

private:
    void Step();
    std::mutex m_mutex;
    std::vector<std::wstring> m_events;
    std::vector<DWORD> m_threads;
};

// Runs a CLumetUpdateDlg modally on a thread of its own, as start-up does on
// the main thread, so that the test can watch it and send it requests.
class DialogRun
{
public:
    explicit DialogRun(RecordingSteps& steps, const std::wstring& strPackagePath = L"C:\\Temp\\new.msi");
    ~DialogRun();

    HWND Window() const { return m_hWnd; }
    DWORD ThreadId() const { return m_dwThreadId; }
    // Whether DoModal returned within the time; its result then in Result().
    bool WaitEnded(DWORD dwTimeoutMs = 60000);
    INT_PTR Result() const { return m_nResult; }

private:
    void Run(RecordingSteps* pSteps, std::wstring strPackagePath);

    std::thread m_thread;
    HANDLE m_hReady;
    HANDLE m_hEnded;
    std::atomic<HWND> m_hWnd{nullptr};
    std::atomic<DWORD> m_dwThreadId{0};
    INT_PTR m_nResult = 0;
};

// The refusal box that the dialog's thread shows, if one is up.
HWND FindMessageBox(DWORD dwThreadId, HWND hDialog);
HWND WaitForMessageBox(DWORD dwThreadId, HWND hDialog, DWORD dwTimeoutMs = 10000);
std::wstring WindowText(HWND hWnd);
