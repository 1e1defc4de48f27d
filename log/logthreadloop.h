// How the logging thread's message loop ends, also from inside a modal loop
// running on it (a menu, moving, sizing or scrolling a window, a message
// box), and the idle timer that serves what such a loop dropped: drain
// requests and the quit request posted to the thread.
#pragma once

#include <afxwin.h>

class CLogThreadLoop
{
public:
    // The longest a line waits when its drain request was lost.
    static constexpr UINT kIdleTickMs = 250;

    // Called with the quit request: a menu or a mouse capture ends now, a
    // message box ends on the WM_QUIT, and the thread's own loop ends at
    // its next message (IsQuitting).
    void Quit();
    bool IsQuitting() const { return m_bQuitting; }

    // On the logging thread: pfnTick is called every tick, also inside
    // modal loops, which dispatch a thread timer's messages.
    bool StartIdleTimer(TIMERPROC pfnTick);
    void StopIdleTimer();
    // Called at a tick while the queue is closed and the loop not quitting:
    // true when it was so at the tick before too, that is, when the quit
    // request was lost to a modal loop (served in the meantime, it keeps its
    // place behind the messages posted before it).
    bool IsQuitOverdue();

private:
    bool m_bQuitting = false;       // the logging thread's own record
    UINT_PTR m_nIdleTimer = 0;
    bool m_bQuitOverdue = false;    // a tick saw the queue closed before the quit request came
};
