#include "win/WorkerThread.h"

#include <gtest/gtest.h>

namespace
{
UINT SetEventSoon(void* pParam)
{
    ::Sleep(300);
    ::SetEvent(static_cast<HANDLE>(pParam));
    return 0;
}

DWORD WINAPI DeleteWorker(void* pThread)
{
    delete static_cast<CWorkerThread*>(pThread);
    return 0;
}

TEST(WorkerThreadTest, DeletionWaitsForAResumedThreadOnly)
{
    const CHandle hRan(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto pResumed = CWorkerThread::BeginSuspended(&SetEventSoon, hRan.Get());
    ASSERT_TRUE(pResumed && pResumed->Resume());
    pResumed.reset();
    EXPECT_EQ(::WaitForSingleObject(hRan.Get(), 0), WAIT_OBJECT_0);

    // Never resumed: deleting it neither runs the function nor waits; the
    // deletion runs apart, so that a wait shows as a failure, not a hang.
    ::ResetEvent(hRan.Get());
    auto pSuspended = CWorkerThread::BeginSuspended(&SetEventSoon, hRan.Get());
    ASSERT_TRUE(pSuspended);
    const CHandle hDeleter(::CreateThread(nullptr, 0, &DeleteWorker, pSuspended.release(), 0, nullptr));
    EXPECT_EQ(::WaitForSingleObject(hDeleter.Get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(hRan.Get(), 1000), static_cast<DWORD>(WAIT_TIMEOUT));
}
}
