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
