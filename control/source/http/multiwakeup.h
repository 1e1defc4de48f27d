// CMultiWakeUp: how another thread wakes a reading thread that waits in
// libcurl (curl_multi_poll). The reading thread attaches its multi handle
// while it has one; Wake, from any thread, wakes it if it is attached. A
// wake-up before the wait is kept, so none is lost.
#pragma once

#include <windows.h>

typedef void CURLM; // libcurl's, as its header says

class CMultiWakeUp
{
public:
    CMultiWakeUp() { InitializeCriticalSection(&m_cs); }
    ~CMultiWakeUp() { DeleteCriticalSection(&m_cs); }
    CMultiWakeUp(const CMultiWakeUp&) = delete;
    CMultiWakeUp& operator=(const CMultiWakeUp&) = delete;

    // The reading thread: pMulti, or null when it lets go of it.
    void Attach(CURLM* pMulti);
    void Wake();

private:
    CRITICAL_SECTION m_cs; // guards m_pMulti against its cleanup
    CURLM* m_pMulti = nullptr;
};
