#pragma once

#include "app/UpdateRun.h"
#include "win/Dialog.h"
#include "win/ProgressBar.h"

// Posted by the window to itself when the run's removal phase is over; its
// handler starts the install phase.
constexpr UINT WM_REMOVAL_DONE = WM_USER + 1000;

// The constant texts of the window.
// Constants, not strings built at start-up: nothing can fail before the
// program runs.
extern const wchar_t g_strProductName[];  // "Vimo Lumet"
extern const wchar_t g_strAppToken[];     // "[APPLICATION]"
extern const wchar_t g_strCompanyToken[]; // "[COMPANYNAME]"
extern const wchar_t g_strCompanyName[];  // "Vimo"

// The progress window of an update run: the localised status line above a
// marquee bar. It starts the run when it opens, hands the run over from the
// removal phase to the install phase, and refuses to close while a phase
// runs; the run closes it at the end, through the events it sends the
// window. The run must outlive the window.
class CLumetUpdateDlg : public CDialogBase, public CUpdateEvents
{
public:
    CLumetUpdateDlg();

    // Shows the run modally: the window starts it, and closes once it is over.
    INT_PTR Show(CUpdateRun& run);

    void OnRemovalOver() override;
    void OnProgressStopped() override;
    void OnUpdateOver() override;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

private:
    void OnPaint(); // the icon, centred, while minimised
    HCURSOR OnQueryDragIcon();
    void OnClose();
    LRESULT OnRemovalDone(WPARAM wParam, LPARAM lParam);

    // Presses OK on the refusal box, if one is open.
    void CloseRefusalBox();

    CUpdateRun* m_pRun = nullptr;
    HICON m_hIcon = nullptr;
    HWND m_hProgress = nullptr;
    bool m_bClosing = false;       // the close guard is waiting for the workers
    bool m_bWarningShown = false;  // the refusal box is on screen
    bool m_bCloseAfterBox = false; // a close accepted while it was, for when it has gone
};
