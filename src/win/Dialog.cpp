#include "win/Dialog.h"

INT_PTR CDialogBase::DoModal(HWND hParent)
{
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), hParent,
                             &CDialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CDialogBase* pThis = nullptr;
    if (uMsg == WM_INITDIALOG)
    {
        pThis = reinterpret_cast<CDialogBase*>(lParam);
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        pThis->m_hWnd = hWnd;
        return pThis->OnInitDialog();
    }
    pThis = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (pThis == nullptr)
        return FALSE;

    LRESULT lResult = 0;
    if (!pThis->OnMessage(uMsg, wParam, lParam, lResult))
        return FALSE;
    if (uMsg == WM_QUERYDRAGICON || uMsg == WM_CTLCOLORSTATIC || uMsg == WM_CTLCOLORDLG)
        return static_cast<INT_PTR>(lResult); // these return their result directly
    ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, lResult);
    return TRUE;
}

void WaitHandlingMessages(HANDLE hObject, HWND hDialog, std::optional<int>& nQuitCode)
{
    for (;;)
    {
        const DWORD dwWait = ::MsgWaitForMultipleObjects(1, &hObject, FALSE, INFINITE, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            if (msg.message == WM_QUIT)
                nQuitCode = static_cast<int>(msg.wParam);
            else if (!::IsDialogMessageW(hDialog, &msg))
            {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        if (dwWait != WAIT_OBJECT_0 + 1)
            return; // signalled (or the handle is unusable)
    }
}
