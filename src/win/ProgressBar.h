#pragma once

#include <windows.h>
#include <commctrl.h>

// A progress bar control of a dialog, reached through its window.
class CProgressBar
{
public:
    void Attach(HWND hWnd) { m_hWnd = hWnd; }

    // Sent, not posted: from a worker thread these wait until the window's
    // thread has handled them.
    void SetMarquee(BOOL bOn, UINT nIntervalMs) { ::SendMessageW(m_hWnd, PBM_SETMARQUEE, bOn, nIntervalMs); }
    void SetPos(int nPos) { ::SendMessageW(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(nPos), 0); }

private:
    HWND m_hWnd = nullptr;
};
