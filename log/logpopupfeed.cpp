#include "logpopupfeed.h"

#include <algorithm>
#include <new>
#include <utility>

#include "loggingdlg.h"

namespace {

// The feed whose timer runs on this thread: a thread timer carries no
// pointer of its own.
thread_local CLogPopupFeed* t_pTimedFeed = NULL;

int CountLineEnds(LPCWSTR pFrom, LPCWSTR pTo) { return int(std::count(pFrom, pTo, L'\n')); }

} // namespace

void CLogPopupFeed::Add(const CString& strSlice, const std::vector<int>& entryStarts, bool bOlderLeftOut)
{
    if (strSlice.IsEmpty())
        return;
    if (bOlderLeftOut) {
        // Nothing waiting stays: the slice alone is the newest.
        CString strWaiting(strSlice);
        std::vector<int> starts(entryStarts.empty() ? std::vector<int>{ 0 } : entryStarts);
        m_strWaiting = std::move(strWaiting);
        m_entryStarts.swap(starts);
        m_nLineEnds = CountLineEnds(strSlice.GetString(), strSlice.GetString() + strSlice.GetLength());
        m_bOlderLeftOut = true;
        return;
    }
    const int nOldLength = m_strWaiting.GetLength();
    const size_t nOldEntries = m_entryStarts.size();
    try {
        m_strWaiting += strSlice;
        if (entryStarts.empty())
            m_entryStarts.push_back(nOldLength);
        for (int nStart : entryStarts)
            m_entryStarts.push_back(nOldLength + nStart);
    } catch (const std::bad_alloc&) {
        m_strWaiting.Delete(nOldLength, m_strWaiting.GetLength() - nOldLength);
        m_entryStarts.resize(nOldEntries);
        throw;
    }
    m_nLineEnds += CountLineEnds(strSlice.GetString(), strSlice.GetString() + strSlice.GetLength());
    if (m_strWaiting.GetLength() + m_nLineEnds <= CLoggingDlg::kMaxChars && m_nLineEnds <= CLoggingDlg::kMaxLines)
        return;
    // Past the popup's bounds: only the newest entries it keeps wait.
    CLoggingDlg::CNewestEntries kept;
    size_t iFirst = m_entryStarts.size();
    int nLineEnds = 0;
    for (; iFirst > 0; --iFirst) {
        LPCWSTR pFrom = m_strWaiting.GetString() + m_entryStarts[iFirst - 1];
        LPCWSTR pTo = m_strWaiting.GetString() +
                      (iFirst < m_entryStarts.size() ? m_entryStarts[iFirst] : m_strWaiting.GetLength());
        const int nEntryLineEnds = CountLineEnds(pFrom, pTo);
        if (!kept.Add(pTo - pFrom + nEntryLineEnds, nEntryLineEnds))   // CR LF line ends
            break;
        nLineEnds += nEntryLineEnds;
    }
    if (iFirst == 0)
        return;
    const int nCut = m_entryStarts[iFirst];
    m_strWaiting.Delete(0, nCut);
    m_entryStarts.erase(m_entryStarts.begin(), m_entryStarts.begin() + iFirst);
    for (int& nStart : m_entryStarts)
        nStart -= nCut;
    m_nLineEnds = nLineEnds;
    m_bOlderLeftOut = true;
}

void CLogPopupFeed::ApplyWhenDue()
{
    if (m_strWaiting.IsEmpty())
        return;
    // A timer's message comes only when no posted message waits: while
    // drains keep coming the drains give what is due.
    const ULONGLONG nNow = ::GetTickCount64();
    if (nNow >= m_nNextDue) {
        Apply();
        return;
    }
    if (m_nTimer)
        return;
    m_nTimer = ::SetTimer(NULL, 0, UINT(m_nNextDue - nNow), &CLogPopupFeed::OnTimer);
    if (m_nTimer)
        t_pTimedFeed = this;
    else
        Apply();   // without a timer, now rather than never
}

void CLogPopupFeed::Stop()
{
    if (m_nTimer) {
        ::KillTimer(NULL, m_nTimer);
        m_nTimer = 0;
    }
    t_pTimedFeed = NULL;
    m_strWaiting = CString();
    std::vector<int>().swap(m_entryStarts);
    m_nLineEnds = 0;
    m_bOlderLeftOut = false;
}

void CLogPopupFeed::Apply()
{
    if (m_nTimer) {
        ::KillTimer(NULL, m_nTimer);
        m_nTimer = 0;
    }
    // Counted from the start: a giving that took longer than a period (a
    // flood's, thousands of lines laid out anew) leaves the file no less,
    // as each drain writes its lines before it gives the popup anything.
    m_nNextDue = ::GetTickCount64() + kApplyPeriodMs;
    if (m_strWaiting.IsEmpty() || !m_dlg.m_hWnd)
        return;
    // Taken out first: whatever happens in the popup, it is not given twice.
    CString strText(std::move(m_strWaiting));
    m_strWaiting = CString();
    std::vector<int> entryStarts;
    entryStarts.swap(m_entryStarts);
    const bool bOlderLeftOut = m_bOlderLeftOut;
    m_nLineEnds = 0;
    m_bOlderLeftOut = false;
    // Out of memory costs the popup these entries, whole.
    try {
        m_dlg.AppendText(strText, entryStarts, bOlderLeftOut);
    } catch (const std::bad_alloc&) {
    }
}

void CALLBACK CLogPopupFeed::OnTimer(HWND, UINT, UINT_PTR nIDEvent, DWORD)
{
    CLogPopupFeed* pFeed = t_pTimedFeed;
    if (!pFeed || pFeed->m_nTimer != nIDEvent)
        return;
    pFeed->Apply();
}
