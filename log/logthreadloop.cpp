#include "logthreadloop.h"

void CLogThreadLoop::Quit()
{
    m_bQuitting = true;
    ::EndMenu();
    if (HWND hWndCapture = ::GetCapture())
        ::SendMessageW(hWndCapture, WM_CANCELMODE, 0, 0);
    ::PostQuitMessage(0);
}

bool CLogThreadLoop::StartIdleTimer(TIMERPROC pfnTick)
{
    m_nIdleTimer = ::SetTimer(NULL, 0, kIdleTickMs, pfnTick);
    return m_nIdleTimer != 0;
}

void CLogThreadLoop::StopIdleTimer()
{
    if (m_nIdleTimer) {
        ::KillTimer(NULL, m_nIdleTimer);
        m_nIdleTimer = 0;
    }
}

bool CLogThreadLoop::IsQuitOverdue()
{
    const bool bOverdue = m_bQuitOverdue;
    m_bQuitOverdue = true;
    return bOverdue;
}
