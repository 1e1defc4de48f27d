#include "logmailbox.h"

bool CLogMailbox::Create()
{
    if (!m_wnd.Create())
        return false;
    m_hWnd = m_wnd.m_hWnd;
    return true;
}

void CLogMailbox::Destroy()
{
    if (m_wnd.m_hWnd)
        m_wnd.DestroyWindow();
    m_hWnd = NULL;
}

BOOL CLogMailbox::Post(HWND hWndMailbox, DWORD nThreadID, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (hWndMailbox)
        return ::PostMessageW(hWndMailbox, message, wParam, lParam);
    return ::PostThreadMessageW(nThreadID, message, wParam, lParam);
}

BOOL CLogMailbox::CMailboxWnd::Create()
{
    return CreateEx(0, AfxRegisterWndClass(0), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL);
}

LRESULT CLogMailbox::CMailboxWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = 0;
    if (message >= WM_USER && m_pThread->DispatchToMap(message, wParam, lParam, &lResult))
        return lResult;
    return CWnd::WindowProc(message, wParam, lParam);
}
