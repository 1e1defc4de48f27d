// Waking a thread that waits in libcurl.
#include <winsock2.h> // before windows.h: libcurl's header includes it

#include "multiwakeup.h"

#include <curl/curl.h>

void CMultiWakeUp::Attach(CURLM* pMulti)
{
    EnterCriticalSection(&m_cs);
    m_pMulti = pMulti;
    LeaveCriticalSection(&m_cs);
}

void CMultiWakeUp::Wake()
{
    EnterCriticalSection(&m_cs);
    if (m_pMulti)
        curl_multi_wakeup(m_pMulti);
    LeaveCriticalSection(&m_cs);
}
