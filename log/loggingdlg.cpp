#include "loggingdlg.h"

#include <algorithm>

namespace {

const int kKeepLines = CLoggingDlg::kMaxLines / 10 * 9;
const int kKeepChars = CLoggingDlg::kMaxChars / 10 * 9;

int CountLineEnds(LPCWSTR psz, int nLength) { return int(std::count(psz, psz + nLength, L'\n')); }

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
END_MESSAGE_MAP()

CLoggingDlg::CLoggingDlg(CWnd* pParent) : CDialogEx(IDD_APP_LOG, pParent), m_nLineEnds(0) {}

CLoggingDlg::~CLoggingDlg() {}

void CLoggingDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LOG_TEXT, m_editLog);
}

void CLoggingDlg::AppendText(const CString& text)
{
    CString strText(text);
    strText.Remove(L'\r');
    strText.Replace(L"\n", L"\r\n");
    SendMessage(WM_USER, 0, reinterpret_cast<LPARAM>(strText.GetString()));
}

int CLoggingDlg::TrimmedStart() const
{
    if (m_nLineEnds <= kMaxLines && m_strLog.GetLength() <= kMaxChars)
        return 0;
    LPCWSTR psz = m_strLog.GetString();
    const int nLength = m_strLog.GetLength();
    // The newest line stays whole: never cut past the line end before it.
    int nLastStart = nLength;
    if (nLastStart > 0 && psz[nLastStart - 1] == L'\n')
        --nLastStart;
    while (nLastStart > 0 && psz[nLastStart - 1] != L'\n')
        --nLastStart;

    // Past enough line ends to leave kKeepLines, and far enough on to leave
    // kKeepChars, to the start of the next line.
    int nDropLines = std::max(0, m_nLineEnds - kKeepLines);
    int nCut = 0;
    for (; nDropLines > 0 && nCut < nLastStart; ++nCut)
        if (psz[nCut] == L'\n')
            --nDropLines;
    if (nLength - nCut > kKeepChars) {
        nCut = std::max(nCut, nLength - kKeepChars);
        while (nCut < nLastStart && psz[nCut - 1] != L'\n')
            ++nCut;
    }
    return std::min(nCut, nLastStart);
}

LRESULT CLoggingDlg::OnAppendText(WPARAM, LPARAM lParam)
{
    // WM_USER is also the dialog manager's DM_GETDEFID, with lParam 0: then
    // the control is only refreshed, and the answer is "no default button".
    LPCWSTR pszText = reinterpret_cast<LPCWSTR>(lParam);
    if (!pszText || !m_editLog.m_hWnd) {
        if (pszText) {
            m_strLog += pszText;
            m_nLineEnds = CountLineEnds(m_strLog.GetString(), m_strLog.GetLength());
        }
        SetDlgItemText(IDC_LOG_TEXT, m_strLog);
        return 0;
    }
    const int nTextLength = int(wcslen(pszText));
    if (nTextLength == 0)
        return 0;

    // Only the new text goes into the control, and only the oldest lines
    // leave it: re-setting the whole log would make every append cost as
    // much as the whole log.
    const int nOldLength = m_strLog.GetLength();
    m_strLog.Append(pszText, nTextLength);
    m_nLineEnds += CountLineEnds(pszText, nTextLength);
    const int nCut = TrimmedStart();
    if (nCut > 0) {
        m_nLineEnds -= CountLineEnds(m_strLog.GetString(), nCut);
        m_strLog.Delete(0, nCut);
    }

    // The control is hidden, without a repaint, while its text changes: its
    // scrolling to the new end and back to the start then costs nothing and
    // leaves nothing on the screen (under Wine, with redraw merely switched
    // off, each scroll took tens of milliseconds and showed). Its old
    // picture stays on the screen meanwhile.
    // Hiding drops what the control had still to paint: that is painted
    // first, as the system would have when the thread was next idle.
    RedrawWindow(NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const SCROLLINFO siVert = ScrollInfoOf(m_editLog.m_hWnd, SB_VERT);
    const SCROLLINFO siHorz = ScrollInfoOf(m_editLog.m_hWnd, SB_HORZ);
    const UINT kQuietly = SWP_NOREDRAW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
    ::SetWindowPos(m_editLog.m_hWnd, NULL, 0, 0, 0, 0, SWP_HIDEWINDOW | kQuietly);
    if (nCut >= nOldLength) {
        // Nothing old stays: the newest lines replace the text at once.
        m_editLog.SetWindowText(m_strLog);
    } else {
        if (m_editLog.GetLimitText() < UINT(nOldLength + nTextLength))
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
    RepaintAfterAppend(nCut > 0 ? 0 : nOldLength);
    ReplayScrollChange(m_editLog.m_hWnd, SB_VERT, siVert);
    ReplayScrollChange(m_editLog.m_hWnd, SB_HORZ, siHorz);
    return 0;
}

void CLoggingDlg::RepaintAfterAppend(int nFirstChanged)
{
    if (!m_editLog.IsWindowVisible())
        return;
    CRect rcText;
    m_editLog.GetClientRect(&rcText);
    // With the view at the first line, lines appended below it change
    // nothing in the text shown. What changed is painted now (a busy
    // logging thread may not be idle for a long time), off screen, and
    // copied in one go: another thread of the process may put this window
    // on the screen at any moment, and must never find it half drawn.
    const LRESULT nPos = nFirstChanged == 0 ? 0 : m_editLog.SendMessage(EM_POSFROMCHAR, WPARAM(nFirstChanged));
    if (nPos != -1 && short(HIWORD(nPos)) < rcText.bottom && rcText.Width() > 0 && rcText.Height() > 0) {
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
