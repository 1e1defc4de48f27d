#include "loggingdlg.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>

namespace {

const int kKeepLines = CLoggingDlg::kMaxLines / 10 * 9;
const int kKeepChars = CLoggingDlg::kMaxChars / 10 * 9;

int CountLineEnds(LPCWSTR psz, int nLength) { return int(std::count(psz, psz + nLength, L'\n')); }

// A scroll bar's position and range, and how it looks on the screen.
struct ScrollBarState
{
    SCROLLINFO si;
    SCROLLBARINFO look;
    bool bLookKnown;
};

ScrollBarState ScrollBarStateOf(HWND hWnd, int nBar)
{
    ScrollBarState state = {};
    state.si.cbSize = sizeof state.si;
    state.si.fMask = SIF_ALL;
    ::GetScrollInfo(hWnd, nBar, &state.si);
    state.look.cbSize = sizeof state.look;
    state.bLookKnown = ::GetScrollBarInfo(hWnd, nBar == SB_VERT ? OBJID_VSCROLL : OBJID_HSCROLL, &state.look);
    return state;
}

bool LooksTheSame(const ScrollBarState& stateA, const ScrollBarState& stateB)
{
    const SCROLLBARINFO& a = stateA.look;
    const SCROLLBARINFO& b = stateB.look;
    return stateA.bLookKnown && stateB.bLookKnown && ::EqualRect(&a.rcScrollBar, &b.rcScrollBar) && a.dxyLineButton == b.dxyLineButton &&
           a.xyThumbTop == b.xyThumbTop && a.xyThumbBottom == b.xyThumbBottom &&
           std::equal(std::begin(a.rgstate), std::end(a.rgstate), std::begin(b.rgstate));
}

// Redraws a scroll bar that changed while its window was not drawn, as it
// redraws when it changes in view: only its track and thumb, and only when
// they look different (a thumb moved by less than a pixel does not).
void ReplayScrollChange(HWND hWnd, int nBar, const ScrollBarState& before)
{
    ScrollBarState now = ScrollBarStateOf(hWnd, nBar);
    if (LooksTheSame(now, before))
        return;
    SCROLLINFO siBefore = before.si;
    siBefore.fMask = now.si.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    ::SetScrollInfo(hWnd, nBar, &siBefore, FALSE);
    ::SetScrollInfo(hWnd, nBar, &now.si, TRUE);
}

// While it lives the window is not drawn: its visible style is off, which is
// what switching redrawing off does on Windows. Under Wine, WM_SETREDRAW
// left the edit control's scrolling to the new end and back, and its scroll
// bars, drawn at every change (a logging thread at 11 to 17% of a core at
// 30 events a second, against 4% so). The window is not hidden: no hide or
// show is reported.
class CRedrawOff
{
public:
    explicit CRedrawOff(HWND hWnd) : m_hWnd(hWnd)
    {
        ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, ::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & ~LONG_PTR(WS_VISIBLE));
    }
    ~CRedrawOff() { ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, ::GetWindowLongPtrW(m_hWnd, GWL_STYLE) | WS_VISIBLE); }
    CRedrawOff(const CRedrawOff&) = delete;
    CRedrawOff& operator=(const CRedrawOff&) = delete;

private:
    HWND m_hWnd;
};

// Paints the edit control off screen, its background filled first with the
// brush it asks its parent for, and copies the picture in one go: under Wine
// another thread of the process (the main dialog's, busy with the camera)
// may put the window on the screen in the middle of a paint, which must
// never show it erased and not yet drawn.
LRESULT CALLBACK PaintOffScreen(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (nMsg == WM_ERASEBKGND)
        return 1;   // the paint fills it
    if (nMsg != WM_PAINT || wParam)
        return ::DefSubclassProc(hWnd, nMsg, wParam, lParam);
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(hWnd, &ps);
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    HDC hdcMem = ::CreateCompatibleDC(hdc);
    HBITMAP hbm = ::CreateCompatibleBitmap(hdc, std::max<LONG>(1, rc.right), std::max<LONG>(1, rc.bottom));
    if (hdcMem && hbm) {
        HGDIOBJ hOld = ::SelectObject(hdcMem, hbm);
        // A read-only edit control is coloured as static text.
        HBRUSH hbr = reinterpret_cast<HBRUSH>(::SendMessageW(::GetParent(hWnd), WM_CTLCOLORSTATIC,
                                                             WPARAM(hdcMem), LPARAM(hWnd)));
        ::FillRect(hdcMem, &rc, hbr ? hbr : ::GetSysColorBrush(COLOR_3DFACE));
        ::DefSubclassProc(hWnd, WM_PRINTCLIENT, WPARAM(hdcMem), PRF_CLIENT);
        ::BitBlt(hdc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                 ps.rcPaint.bottom - ps.rcPaint.top, hdcMem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
        ::SelectObject(hdcMem, hOld);
    } else {
        ::DefSubclassProc(hWnd, WM_PRINTCLIENT, WPARAM(hdc), PRF_CLIENT | PRF_ERASEBKGND);
    }
    if (hbm)
        ::DeleteObject(hbm);
    if (hdcMem)
        ::DeleteDC(hdcMem);
    ::EndPaint(hWnd, &ps);
    return 0;
}

} // namespace

IMPLEMENT_DYNAMIC(CLoggingDlg, CDialogEx)

BEGIN_MESSAGE_MAP(CLoggingDlg, CDialogEx)
    ON_MESSAGE(WM_USER, &CLoggingDlg::OnAppendText)
    ON_WM_SIZE()
END_MESSAGE_MAP()

CLoggingDlg::CLoggingDlg(CWnd* pParent)
    : CDialogEx(IDD_APP_LOG, pParent), m_nLineEnds(0), m_pAppending(NULL)
{
}

CLoggingDlg::~CLoggingDlg() {}

void CLoggingDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LOG_TEXT, m_editLog);
    if (m_editLog.m_hWnd)
        ::SetWindowSubclass(m_editLog.m_hWnd, &PaintOffScreen, 0, 0);
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

int CLoggingDlg::ShownEntryLength(const CString& strText)
{
    int nShown = std::min(strText.GetLength(), kMaxEntryChars);
    if (nShown < strText.GetLength() && nShown > 0 && IS_HIGH_SURROGATE(strText[nShown - 1]))
        --nShown;
    return nShown;
}

CString CLoggingDlg::CutEntryText(const CString& strText, int nShown)
{
    CString strNote;
    strNote.Format(L"... (%d more characters in the file)", strText.GetLength() - nShown);
    return CString(strText.GetString(), nShown) + strNote;
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
    std::vector<Entry> whole;
    if (!pAppending)
        whole.push_back(Entry{ nLength, CountLineEnds(pszText, nLength) });
    const std::vector<Entry>& added = pAppending ? pAppending->entries : whole;
    const bool bReplacing = pAppending && pAppending->bReplacing;
    int nCut = 0;
    if (bReplacing) {
        // Entries between what is shown and this text were left out: the
        // text and its entries are made apart, then take the old ones' place.
        CString strLog(pszText, nLength);
        std::deque<Entry> entries(added.begin(), added.end());
        nCut = m_strLog.GetLength();
        m_strLog = std::move(strLog);
        m_entries.swap(entries);
        m_nLineEnds = 0;
        for (const Entry& entry : m_entries)
            m_nLineEnds += entry.nLineEnds;
    } else {
        // An entry never starts in the middle of a line: the first goes on
        // with the last one when that has no line end yet.
        const int nOldLength = m_strLog.GetLength();
        const size_t nOldEntries = m_entries.size();
        const bool bLastOpen = nOldLength > 0 && m_strLog[nOldLength - 1] != L'\n';
        m_strLog.Append(pszText, nLength);
        try {
            for (size_t k = (bLastOpen && nOldEntries > 0) ? 1 : 0; k < added.size(); ++k)
                m_entries.push_back(added[k]);
        } catch (const std::bad_alloc&) {
            m_entries.resize(nOldEntries);
            m_strLog.Delete(nOldLength, nLength);
            throw;
        }
        if (bLastOpen && nOldEntries > 0) {
            m_entries[nOldEntries - 1].nChars += added.front().nChars;
            m_entries[nOldEntries - 1].nLineEnds += added.front().nLineEnds;
        }
        for (const Entry& entry : added)
            m_nLineEnds += entry.nLineEnds;
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
    // much as the whole log. The control is not drawn while its text
    // changes; then what changed in view is invalidated once, and painted
    // the ordinary way.
    HWND hEdit = m_editLog.m_hWnd;
    const ScrollBarState vertBefore = ScrollBarStateOf(hEdit, SB_VERT);
    const ScrollBarState horzBefore = ScrollBarStateOf(hEdit, SB_HORZ);
    // Switching redraw off drops the paints still due (an expose, the last
    // append's invalidation): they are done first.
    ::UpdateWindow(hEdit);
    {
        CRedrawOff redrawOff(hEdit);
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
        // A control that could not take the change shows the whole log anew.
        if (::GetWindowTextLengthW(hEdit) != m_strLog.GetLength()) {
            m_editLog.SetWindowText(m_strLog);
            nCut = nOldLength;
        }
    }
    // What the control invalidated itself while its text changed (under
    // Wine: its scrolling to the new end and back to the start) is dropped:
    // the one invalidation is ours.
    ::ValidateRect(hEdit, NULL);
    InvalidateTextFrom(nCut > 0 ? 0 : nOldLength);
    ReplayScrollChange(hEdit, SB_VERT, vertBefore);
    ReplayScrollChange(hEdit, SB_HORZ, horzBefore);
}

void CLoggingDlg::InvalidateTextFrom(int nFirstChanged)
{
    // With the view at the first line, lines appended below it change
    // nothing in the text shown.
    CRect rcText;
    m_editLog.GetClientRect(&rcText);
    if (nFirstChanged > 0) {
        // A position comes in 16 bits, so one 32,767 pixels or more below
        // the view reads as above it: lines are counted first (each is at
        // least a pixel high).
        const int nLinesDown = int(m_editLog.SendMessage(EM_LINEFROMCHAR, WPARAM(nFirstChanged))) -
                               m_editLog.GetFirstVisibleLine();
        if (nLinesDown > rcText.Height())
            return;
        if (nLinesDown >= 0) {
            const LRESULT nPos = m_editLog.SendMessage(EM_POSFROMCHAR, WPARAM(nFirstChanged));
            const short nTop = short(HIWORD(nPos));
            if (nPos == -1 || nTop < 0 || nTop >= rcText.bottom)
                return;
            rcText.top = std::max<LONG>(rcText.top, nTop);
        }
    }
    ::InvalidateRect(m_editLog.m_hWnd, &rcText, TRUE);
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
