#include "win/Dialog.h"

#include "TestSupport.h"

#include "win/ScopedHandle.h"

#include <gtest/gtest.h>

namespace
{
struct WaitResult
{
    std::optional<int> nQuitCode;
    wchar_t szText[16] = {};
    bool bQuitStillQueued = false;
};

// Makes a window, has another thread send it a message, and waits for that
// thread while handling messages, with a WM_QUIT already queued.
DWORD WINAPI WaitForASender(void* pParam)
{
    auto& result = *static_cast<WaitResult*>(pParam);
    const HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ::PostQuitMessage(7);
    const CHandle hSender(::CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            ::SendMessageW(static_cast<HWND>(p), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"sent"));
            return 0;
        },
        hWnd, 0, nullptr));
    WaitHandlingMessages(hSender.Get(), hWnd, result.nQuitCode);
    ::GetWindowTextW(hWnd, result.szText, 16);
    MSG msg;
    result.bQuitStillQueued = ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    ::DestroyWindow(hWnd);
    return 0;
}

// A thread that this one waits for sends this thread's window a message before
// it ends: the wait must handle it, or both would wait for ever. A WM_QUIT
// taken meanwhile is kept for the caller, not acted on.
TEST(DialogTest, WaitingForAThreadStillHandlesWhatItSends)
{
    WaitResult result;
    const CHandle hWaiter(::CreateThread(nullptr, 0, &WaitForASender, &result, 0, nullptr));
    ASSERT_EQ(::WaitForSingleObject(hWaiter.Get(), 60000), WAIT_OBJECT_0) << "the wait did not end";
    EXPECT_STREQ(result.szText, L"sent");
    EXPECT_EQ(result.nQuitCode, 7);
    EXPECT_FALSE(result.bQuitStillQueued);
}
}
