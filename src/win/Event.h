#pragma once

#include "win/ScopedHandle.h"

// An unnamed auto-reset event, initially not signalled.
class CEvent
{
public:
    CEvent() : m_h(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    BOOL SetEvent() { return ::SetEvent(m_h.Get()); }
    BOOL ResetEvent() { return ::ResetEvent(m_h.Get()); }
    DWORD Wait(DWORD dwMilliseconds = INFINITE) { return ::WaitForSingleObject(m_h.Get(), dwMilliseconds); }
    HANDLE Get() const { return m_h.Get(); }

private:
    CHandle m_h;
};
