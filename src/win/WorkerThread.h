#pragma once

#include "win/ScopedHandle.h"

#include <memory>

// A worker thread that runs one function with one parameter. The object owns
// the thread handle and outlives the thread; deleting it waits for a thread
// that was started and has not ended yet, so an owner that deletes it before
// anything else the thread uses keeps those alive until the thread has ended.
class CWorkerThread
{
public:
    using PfnThreadProc = UINT (*)(void* pParam);

    // Creates the thread suspended; null when the system refuses.
    static std::unique_ptr<CWorkerThread> BeginSuspended(PfnThreadProc pfnProc, void* pParam);

    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Lets the thread run; false when the system refuses.
    bool Resume();
    HANDLE Handle() const { return m_hThread.Get(); }

private:
    CWorkerThread(PfnThreadProc pfnProc, void* pParam) : m_pfnProc(pfnProc), m_pParam(pParam) {}
    static unsigned __stdcall Entry(void* pSelf);

    PfnThreadProc m_pfnProc;
    void* m_pParam;
    CHandle m_hThread;
    bool m_bResumed = false;
};
