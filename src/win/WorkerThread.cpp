#include "win/WorkerThread.h"

#include <process.h>

std::unique_ptr<CWorkerThread> CWorkerThread::BeginSuspended(PfnThreadProc pfnProc, void* pParam)
{
    std::unique_ptr<CWorkerThread> pThread(new CWorkerThread(pfnProc, pParam));
    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    const uintptr_t h = _beginthreadex(nullptr, 0, &CWorkerThread::Entry, pThread.get(), CREATE_SUSPENDED, nullptr);
    if (h == 0)
        return nullptr;
    pThread->m_hThread.Reset(reinterpret_cast<HANDLE>(h));
    return pThread;
}

CWorkerThread::~CWorkerThread()
{
    // A thread that never ran stays suspended and never touches this object.
    if (m_bResumed && m_hThread.IsValid())
        ::WaitForSingleObject(m_hThread.Get(), INFINITE);
}

bool CWorkerThread::Resume()
{
    if (::ResumeThread(m_hThread.Get()) == static_cast<DWORD>(-1))
        return false;
    m_bResumed = true;
    return true;
}

unsigned __stdcall CWorkerThread::Entry(void* pSelf)
{
    auto* pThread = static_cast<CWorkerThread*>(pSelf);
    return pThread->m_pfnProc(pThread->m_pParam);
}
