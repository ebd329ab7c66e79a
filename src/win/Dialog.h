#pragma once

#include <windows.h>

// The least dialog layer the program needs: a modal dialog from a template
// in the program's own resources, whose messages go to one virtual handler.
class CDialogBase
{
public:
    explicit CDialogBase(UINT nTemplateId) : m_nTemplateId(nTemplateId) {}
    virtual ~CDialogBase() = default;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // Runs the dialog modally; the value given to EndDialog, or -1 when the
    // window could not be made.
    INT_PTR DoModal(HWND hParent = nullptr);

    HWND m_hWnd = nullptr;

protected:
    virtual BOOL OnInitDialog() { return TRUE; }

    // Returns true when the message was handled, with its result in lResult;
    // false leaves it to the system's default dialog handling.
    virtual bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) = 0;

    void EndDialog(INT_PTR nResult) { ::EndDialog(m_hWnd, nResult); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
};
