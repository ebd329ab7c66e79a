#pragma once

#include "win/Dialog.h"
#include "win/Event.h"
#include "win/ProgressBar.h"
#include "win/WorkerThread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Posted by the removal thread as its last act; its handler starts the
// install thread.
constexpr UINT WM_REMOVAL_DONE = WM_USER + 1000;

// The constant texts of the window.
// Constants, not strings built at start-up: nothing can fail before the
// program runs.
extern const wchar_t g_strProductName[];  // "Vimo Lumet"
extern const wchar_t g_strAppToken[];     // "[APPLICATION]"
extern const wchar_t g_strCompanyToken[]; // "[COMPANYNAME]"
extern const wchar_t g_strCompanyName[];  // "Vimo"

// The progress window, and at the same time the state of the update: the
// removal phase and then the install phase run on worker threads of their
// own while this window's thread stays free.
class CLumetUpdateDlg : public CDialogBase
{
public:
    CLumetUpdateDlg();
    ~CLumetUpdateDlg() override;

    void StartRemoveThread();
    void StartInstallThread();
    void RunRemovalPhase();
    void RunInstallPhase();
    void LaunchApplication();

    HICON m_hIcon = nullptr;
    std::atomic<int32_t> m_bRemoving{0};
    std::atomic<int32_t> m_bInstalling{0};
    CEvent m_evStart;
    CEvent m_evStop;
    std::unique_ptr<CWorkerThread> m_pInstallThread;
    std::unique_ptr<CWorkerThread> m_pRemoveThread;
    std::wstring m_strPackagePath;
    std::wstring m_strInstallDir;
    CProgressBar m_progress;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

private:
    void OnPaint(); // the icon, centred, while minimised
    HCURSOR OnQueryDragIcon();
    void OnClose();
    LRESULT OnRemovalDone(WPARAM wParam, LPARAM lParam);

    void StartWorker(std::unique_ptr<CWorkerThread>& pThread, CWorkerThread::PfnThreadProc pfnProc);

    // Waits until the thread has ended while still handling this thread's
    // messages, then handles those already queued. A WM_QUIT taken meanwhile
    // is kept in nQuitCode, not acted on.
    void WaitHandlingMessages(HANDLE hThread, std::optional<int>& nQuitCode);

    // Presses OK on the refusal box, if one is open.
    void CloseRefusalBox();

    bool m_bClosing = false;      // the close guard is waiting for the workers
    bool m_bWarningShown = false; // the refusal box is on screen
};

UINT RemoveThreadProc(void* pParam);
UINT InstallThreadProc(void* pParam);
