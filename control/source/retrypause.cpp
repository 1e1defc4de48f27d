// The pauses between connection attempts.
#include "retrypause.h"

#include "streamhandover.h"
#include "streamwords.h"

#include <algorithm>

void CRetryPause::BeforeAttempt()
{
    m_nPartsBefore = m_handOver.PartsReceived();
}

bool CRetryPause::After(const std::wstring& strFailure, const Wait& wait)
{
    if (m_handOver.PartsReceived() > m_nPartsBefore)
        m_nPauseMs = FIRST_PAUSE_MS;
    const ULONGLONG nEnd = GetTickCount64() + m_nPauseMs;
    for (ULONGLONG nNow = GetTickCount64(); nNow < nEnd; nNow = GetTickCount64()) {
        const ULONGLONG nSecondsLeft = (nEnd - nNow + 999) / 1000;
        m_handOver.SetStatus(CStreamWords::TryingAgain(strFailure, static_cast<DWORD>(nSecondsLeft)));
        if (!wait(nEnd - (nSecondsLeft - 1) * 1000))
            return false;
    }
    m_nPauseMs = std::min(m_nPauseMs * 2, LONGEST_PAUSE_MS);
    m_handOver.SetStatus(m_words.Connecting());
    return true;
}
