// What the popup gets next: the drains' newest entries wait here and are
// given to the popup at most once a period, so the popup's cost does not
// grow with the drain rate and never stands before the file.
#pragma once

#include <afxwin.h>

#include <vector>

class CLoggingDlg;

class CLogPopupFeed
{
public:
    // A giving comes at most once in this long, counted from the start of
    // the one before; the popup lags the drains by at most this, or by the
    // giving before when that took longer.
    static constexpr UINT kApplyPeriodMs = 100;

    explicit CLogPopupFeed(CLoggingDlg& dlg) : m_dlg(dlg) {}

    // Adds a drain's entries, as CLoggingDlg::AppendText takes them, to
    // what waits; only the newest the popup keeps wait. Out of memory, it
    // adds nothing and throws.
    void Add(const CString& strSlice, const std::vector<int>& entryStarts, bool bOlderLeftOut);
    // Gives the popup what waits when the last giving is a period old, else
    // sets a timer of the logging thread for then.
    void ApplyWhenDue();
    bool IsWaiting() const { return !m_strWaiting.IsEmpty(); }
    // No more popup work: what waits is dropped.
    void Stop();

private:
    void Apply();
    // Called when the period since the last giving is over.
    static void CALLBACK OnTimer(HWND hWnd, UINT nMsg, UINT_PTR nIDEvent, DWORD dwTime);

    CLoggingDlg& m_dlg;
    CString m_strWaiting;              // the entries' text, oldest first
    std::vector<int> m_entryStarts;    // where each begins in it
    int m_nLineEnds = 0;               // line feeds in it
    bool m_bOlderLeftOut = false;      // entries before it were left out
    ULONGLONG m_nNextDue = 0;          // when the next giving may come
    UINT_PTR m_nTimer = 0;
};
