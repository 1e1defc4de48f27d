#include "loggingdlg.h"

#include <algorithm>

namespace {

const int kKeepLines = CLoggingDlg::kMaxLines / 10 * 9;
const int kKeepChars = CLoggingDlg::kMaxChars / 10 * 9;

int CountLineEnds(LPCWSTR psz, int nLength) { return int(std::count(psz, psz + nLength, L'\n')); }

// Appends are painted at most this often: under Wine painting them, the
// scroll bars above all, costs several times what changing the text does.
const UINT kPaintPeriodMs = 100;
const UINT_PTR kPaintTimer = 1;

SCROLLINFO ScrollInfoOf(HWND hWnd, int nBar)
{
    SCROLLINFO si = {};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    ::GetScrollInfo(hWnd, nBar, &si);
    return si;
}

// Redraws a scroll bar that changed while its window was hidden, as it
// redraws when it changes in view: only its track and thumb.
void ReplayScrollChange(HWND hWnd, int nBar, SCROLLINFO before)
{
    SCROLLINFO now = ScrollInfoOf(hWnd, nBar);
    if (now.nMin == before.nMin && now.nMax == before.nMax && now.nPage == before.nPage && now.nPos == before.nPos)
        return;
    before.fMask = now.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    ::SetScrollInfo(hWnd, nBar, &before, FALSE);
    ::SetScrollInfo(hWnd, nBar, &now, TRUE);
}

} // namespace

IMPLEMENT_DYNAMIC(CLoggingDlg, CDialogEx)

BEGIN_MESSAGE_MAP(CLoggingDlg, CDialogEx)
    ON_MESSAGE(WM_USER, &CLoggingDlg::OnAppendText)
    ON_WM_SIZE()
    ON_WM_TIMER()
END_MESSAGE_MAP()

CLoggingDlg::CLoggingDlg(CWnd* pParent)
    : CDialogEx(IDD_APP_LOG, pParent), m_nLineEnds(0), m_pAppending(NULL), m_bPaintDue(false), m_nFirstUnpainted(0),
      m_nLastPaint(0), m_siVertShown(), m_siHorzShown()
{
}

CLoggingDlg::~CLoggingDlg() {}

void CLoggingDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LOG_TEXT, m_editLog);
}

bool CLoggingDlg::CNewestEntries::Add(long long nChars, long long nLineEnds)
{
    if (m_bAny && (m_nChars + nChars > kMaxChars || m_nLineEnds + nLineEnds > kMaxLines))
        m_bFull = true;
    if (m_bFull)
        return false;
    m_bAny = true;
    m_nChars += nChars;
    m_nLineEnds += nLineEnds;
    return true;
}

void CLoggingDlg::AppendText(const CString& text, const std::vector<int>& entryStarts, bool bOlderLeftOut)
{
    // Each entry's share once every line end is CR LF, measured in place.
    LPCWSTR psz = text.GetString();
    Appending appending{ std::vector<Entry>(std::max<size_t>(1, entryStarts.size())), bOlderLeftOut };
    std::vector<Entry>& entries = appending.entries;
    for (size_t k = 0; k < entries.size(); ++k) {
        LPCWSTR pFrom = psz + (k == 0 ? 0 : entryStarts[k]);
        LPCWSTR pTo = psz + (k + 1 < entryStarts.size() ? entryStarts[k + 1] : text.GetLength());
        const int nLineEnds = CountLineEnds(pFrom, int(pTo - pFrom));
        entries[k] = Entry{ int(pTo - pFrom) - int(std::count(pFrom, pTo, L'\r')) + nLineEnds, nLineEnds };
    }
    // Only the newest entries the popup keeps are copied, whatever the
    // caller handed over.
    CNewestEntries kept;
    size_t iFirst = entries.size();
    while (iFirst > 0 && kept.Add(entries[iFirst - 1].nChars, entries[iFirst - 1].nLineEnds))
        --iFirst;
    const int nFrom = iFirst == 0 ? 0 : entryStarts[iFirst];
    entries.erase(entries.begin(), entries.begin() + iFirst);
    appending.bReplacing = bOlderLeftOut || iFirst > 0;

    CString strText(psz + nFrom, text.GetLength() - nFrom);
    strText.Remove(L'\r');
    strText.Replace(L"\n", L"\r\n");
    m_pAppending = &appending;
    SendMessage(WM_USER, 0, reinterpret_cast<LPARAM>(strText.GetString()));
    m_pAppending = NULL;
}

LRESULT CLoggingDlg::OnAppendText(WPARAM, LPARAM lParam)
{
    // WM_USER is also the dialog manager's DM_GETDEFID, with lParam 0: then
    // the control is only refreshed, and the answer is "no default button".
    LPCWSTR pszText = reinterpret_cast<LPCWSTR>(lParam);
    if (!pszText) {
        SetDlgItemText(IDC_LOG_TEXT, m_strLog);
        return 0;
    }
    // From AppendText the text's entries come along; from elsewhere the text is one.
    const Appending* pAppending = m_pAppending;
    m_pAppending = NULL;
    int nLength = 0;
    if (pAppending)
        for (const Entry& entry : pAppending->entries)
            nLength += entry.nChars;
    else
        nLength = int(wcslen(pszText));
    if (nLength == 0)
        return 0;

    const int nOldLength = m_strLog.GetLength();
    const int nCut = AddToLog(pszText, nLength, pAppending);
    if (m_editLog.m_hWnd)
        ShowAppended(nOldLength, nCut, pszText);
    else
        SetDlgItemText(IDC_LOG_TEXT, m_strLog);
    return 0;
}

int CLoggingDlg::AddToLog(LPCWSTR pszText, int nLength, const Appending* pAppending)
{
    const bool bReplacing = pAppending && pAppending->bReplacing;
    int nCut = 0;
    if (bReplacing) {
        // Entries between what is shown and this text were left out.
        nCut = m_strLog.GetLength();
        m_strLog.Empty();
        m_entries.clear();
        m_nLineEnds = 0;
    }
    const bool bLastOpen = !m_strLog.IsEmpty() && m_strLog[m_strLog.GetLength() - 1] != L'\n';
    m_strLog.Append(pszText, nLength);
    std::vector<Entry> whole;
    if (!pAppending)
        whole.push_back(Entry{ nLength, CountLineEnds(pszText, nLength) });
    bool bFirst = true;
    for (const Entry& entry : pAppending ? pAppending->entries : whole) {
        // An entry never starts in the middle of a line: the first goes on
        // with the last one when that has no line end yet.
        if (bFirst && bLastOpen && !m_entries.empty()) {
            m_entries.back().nChars += entry.nChars;
            m_entries.back().nLineEnds += entry.nLineEnds;
        } else {
            m_entries.push_back(entry);
        }
        m_nLineEnds += entry.nLineEnds;
        bFirst = false;
    }
    if (!bReplacing && m_nLineEnds <= kMaxLines && m_strLog.GetLength() <= kMaxChars)
        return nCut;

    // Past the bounds (an append that had to leave entries out was): the
    // oldest entries go, whole, down to nine tenths of them; the newest
    // stays even when it alone is past them.
    int nTrim = 0;
    while (m_entries.size() > 1 && (m_nLineEnds > kKeepLines || m_strLog.GetLength() - nTrim > kKeepChars)) {
        nTrim += m_entries.front().nChars;
        m_nLineEnds -= m_entries.front().nLineEnds;
        m_entries.pop_front();
    }
    m_strLog.Delete(0, nTrim);
    return nCut + nTrim;
}

void CLoggingDlg::ShowAppended(int nOldLength, int nCut, LPCWSTR pszText)
{
    // Only the new text goes into the control, and only the oldest entries
    // leave it: re-setting the whole log would make every append cost as
    // much as the whole log.
    // The control is hidden, without a repaint, while its text changes: its
    // scrolling to the new end and back to the start then costs nothing and
    // leaves nothing on the screen (under Wine, with redraw merely switched
    // off, each scroll took tens of milliseconds and showed). Its old
    // picture stays on the screen meanwhile.
    // Hiding drops what the control had still to paint: that is painted
    // first, as the system would have when the thread was next idle.
    ::UpdateWindow(m_editLog.m_hWnd);
    if (!m_bPaintDue) {
        // The screen shows the control as it is.
        m_siVertShown = ScrollInfoOf(m_editLog.m_hWnd, SB_VERT);
        m_siHorzShown = ScrollInfoOf(m_editLog.m_hWnd, SB_HORZ);
        m_nFirstUnpainted = nOldLength;
    }
    // Text that left the front moves everything after it.
    m_nFirstUnpainted = nCut > 0 ? 0 : std::min(m_nFirstUnpainted, nOldLength);
    const UINT kQuietly = SWP_NOREDRAW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
    ::SetWindowPos(m_editLog.m_hWnd, NULL, 0, 0, 0, 0, SWP_HIDEWINDOW | kQuietly);
    if (nCut >= nOldLength) {
        // Nothing old stays: the newest entries replace the text at once.
        m_editLog.SetWindowText(m_strLog);
    } else {
        if (m_editLog.GetLimitText() < UINT(m_strLog.GetLength()))
            m_editLog.SetLimitText(0);   // the largest the control allows
        if (nCut > 0) {
            m_editLog.SetSel(0, nCut, TRUE);
            m_editLog.ReplaceSel(L"");
        }
        const int nEnd = nOldLength - nCut;
        m_editLog.SetSel(nEnd, nEnd, TRUE);
        m_editLog.ReplaceSel(pszText);
    }
    // The view starts at the first line, as after re-setting the whole text.
    m_editLog.SetSel(0, 0);
    m_editLog.SendMessage(WM_HSCROLL, SB_LEFT);
    ::SetWindowPos(m_editLog.m_hWnd, NULL, 0, 0, 0, 0, SWP_SHOWWINDOW | kQuietly);

    // Painted now, rather than when the thread has nothing else to do, which
    // a busy logging thread may not have for a long time; but not more often
    // than once a period: the rest when the period is over.
    m_bPaintDue = true;
    const ULONGLONG nSince = ::GetTickCount64() - m_nLastPaint;
    if (nSince >= kPaintPeriodMs)
        PaintAppended();
    else
        SetTimer(kPaintTimer, UINT(kPaintPeriodMs - nSince));
}

void CLoggingDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kPaintTimer && m_bPaintDue)
        PaintAppended();
}

void CLoggingDlg::PaintAppended()
{
    KillTimer(kPaintTimer);
    m_bPaintDue = false;
    m_nLastPaint = ::GetTickCount64();
    // A hidden popup is painted whole when it is shown again.
    if (!m_editLog.IsWindowVisible())
        return;
    PaintTextFrom(m_nFirstUnpainted);
    ReplayScrollChange(m_editLog.m_hWnd, SB_VERT, m_siVertShown);
    ReplayScrollChange(m_editLog.m_hWnd, SB_HORZ, m_siHorzShown);
}

void CLoggingDlg::PaintTextFrom(int nFirstChanged)
{
    CRect rcText;
    m_editLog.GetClientRect(&rcText);
    // With the view at the first line, lines appended below it change
    // nothing in the text shown. What changed is painted off screen and
    // copied in one go: another thread of the process may put this window
    // on the screen at any moment, and must never find it half drawn.
    const LRESULT nPos = nFirstChanged == 0 ? 0 : m_editLog.SendMessage(EM_POSFROMCHAR, WPARAM(nFirstChanged));
    if (nPos == -1 || short(HIWORD(nPos)) >= rcText.bottom || rcText.Width() <= 0 || rcText.Height() <= 0)
        return;
    HDC hdc = ::GetDC(m_editLog.m_hWnd);
    HDC hdcMem = ::CreateCompatibleDC(hdc);
    HBITMAP hbm = ::CreateCompatibleBitmap(hdc, rcText.Width(), rcText.Height());
    if (hdcMem && hbm) {
        HGDIOBJ hOld = ::SelectObject(hdcMem, hbm);
        m_editLog.SendMessage(WM_PRINTCLIENT, WPARAM(hdcMem), PRF_CLIENT);
        ::BitBlt(hdc, 0, 0, rcText.Width(), rcText.Height(), hdcMem, 0, 0, SRCCOPY);
        ::SelectObject(hdcMem, hOld);
    }
    if (hbm)
        ::DeleteObject(hbm);
    if (hdcMem)
        ::DeleteDC(hdcMem);
    ::ReleaseDC(m_editLog.m_hWnd, hdc);
}

void CLoggingDlg::OnSize(UINT nType, int cx, int cy)
{
    CDialogEx::OnSize(nType, cx, cy);
    if (!m_hWnd)
        return;
    CWnd* pEdit = GetDlgItem(IDC_LOG_TEXT);
    if (pEdit && pEdit->m_hWnd) {
        CRect rc;
        GetClientRect(&rc);
        pEdit->MoveWindow(&rc, TRUE);
    }
}
