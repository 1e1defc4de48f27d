// The logging thread's mailbox: a message-only window whose messages go to
// the thread's message map, and its handle for the threads that post to it.
// A modal loop on the thread (a menu, moving, sizing or scrolling a window,
// a message box) dispatches window messages but drops messages posted to
// the thread itself.
#pragma once

#include <afxwin.h>

#include <atomic>

class CLogMailbox
{
public:
    explicit CLogMailbox(CCmdTarget* pThread) : m_wnd(pThread) {}

    // On the logging thread, at its start: false when the window could not
    // be made (its messages then go to the thread).
    bool Create();
    // On the logging thread, at its end.
    void Destroy();
    // Posts through the given mailbox, or to the thread when there is none.
    static BOOL Post(HWND hWndMailbox, DWORD nThreadID, UINT message, WPARAM wParam, LPARAM lParam);

    std::atomic<HWND> m_hWnd{ NULL };   // NULL before the window exists and once it is gone; any thread reads it

private:
    // The window: hands the thread's messages to its message map.
    class CMailboxWnd : public CWnd
    {
    public:
        explicit CMailboxWnd(CCmdTarget* pThread) : m_pThread(pThread) {}
        BOOL Create();

    protected:
        LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    private:
        CCmdTarget* m_pThread;
    };

    CMailboxWnd m_wnd;
};
