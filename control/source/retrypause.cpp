// The pauses between connection attempts.
#include "retrypause.h"

#include "streamhandover.h"
#include "streamwords.h"

#include <algorithm>

void CRetryPause::Run(const Attempt& attempt)
{
    for (;;) {
        m_nPartsBefore = m_handOver.PartsReceived();
        std::wstring strFailure;
        if (!attempt(&strFailure) || !After(strFailure))
            return;
    }
}

bool CRetryPause::After(const std::wstring& strFailure)
{
    if (m_handOver.PartsReceived() > m_nPartsBefore)
        m_nPauseMs = FIRST_PAUSE_MS;
    const ULONGLONG nEnd = GetTickCount64() + m_nPauseMs;
    for (ULONGLONG nNow = GetTickCount64(); nNow < nEnd; nNow = GetTickCount64()) {
        const ULONGLONG nSecondsLeft = (nEnd - nNow + 999) / 1000;
        m_handOver.SetStatus(CStreamWords::TryingAgain(strFailure, static_cast<DWORD>(nSecondsLeft)));
        if (!WaitUntil(nEnd - (nSecondsLeft - 1) * 1000))
            return false;
    }
    m_nPauseMs = std::min(m_nPauseMs * 2, LONGEST_PAUSE_MS);
    m_handOver.SetStatus(m_words.Connecting());
    return true;
}

bool CRetryPause::WaitUntil(ULONGLONG nDeadline) const
{
    const ULONGLONG nNow = GetTickCount64();
    return WaitForSingleObject(m_evStop, nDeadline > nNow ? static_cast<DWORD>(nDeadline - nNow) : 0) != WAIT_OBJECT_0;
}
