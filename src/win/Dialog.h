#pragma once

#include <windows.h>

#include <optional>

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

protected:
    // The system's dialog procedure contract: TRUE lets it set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }

    // Returns true when the message was handled, with its result in lResult;
    // false leaves it to the system's default dialog handling.
    virtual bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) = 0;

    void EndDialog(INT_PTR nResult) { ::EndDialog(m_hWnd, nResult); }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
};

// Waits until hObject is signalled while still handling the messages of the
// calling thread (those of hDialog as a dialog's), then handles those already
// queued: a thread that this one waits for may itself be waiting in
// SendMessage for this thread. A WM_QUIT taken meanwhile is not acted on but
// kept in nQuitCode, for the caller to pass on once it may end.
void WaitHandlingMessages(HANDLE hObject, HWND hDialog, std::optional<int>& nQuitCode);
