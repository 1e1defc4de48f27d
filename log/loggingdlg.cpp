#include "loggingdlg.h"

#include <algorithm>

namespace {

const int kKeepLines = CLoggingDlg::kMaxLines / 10 * 9;
const int kKeepChars = CLoggingDlg::kMaxChars / 10 * 9;

int CountLineEnds(LPCWSTR psz, int nLength) { return int(std::count(psz, psz + nLength, L'\n')); }

} // namespace

IMPLEMENT_DYNAMIC(CLoggingDlg, CDialogEx)

BEGIN_MESSAGE_MAP(CLoggingDlg, CDialogEx)
    ON_MESSAGE(WM_USER, &CLoggingDlg::OnAppendText)
    ON_WM_SIZE()
END_MESSAGE_MAP()

CLoggingDlg::CLoggingDlg(CWnd* pParent) : CDialogEx(IDD_APP_LOG, pParent), m_nLineEnds(0), m_pAppending(NULL) {}

CLoggingDlg::~CLoggingDlg() {}

void CLoggingDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LOG_TEXT, m_editLog);
}

void CLoggingDlg::AppendText(const CString& text, const std::vector<int>& entryStarts)
{
    // Each entry's share of the text once every line end is CR LF.
    LPCWSTR psz = text.GetString();
    std::vector<Entry> entries;
    const size_t nEntries = std::max<size_t>(1, entryStarts.size());
    for (size_t k = 0; k < nEntries; ++k) {
        LPCWSTR pFrom = psz + (k == 0 ? 0 : entryStarts[k]);
        LPCWSTR pTo = psz + (k + 1 < entryStarts.size() ? entryStarts[k + 1] : text.GetLength());
        const int nLineEnds = int(std::count(pFrom, pTo, L'\n'));
        entries.push_back(Entry{ int(pTo - pFrom) - int(std::count(pFrom, pTo, L'\r')) + nLineEnds, nLineEnds });
    }
    CString strText(text);
    strText.Remove(L'\r');
    strText.Replace(L"\n", L"\r\n");
    m_pAppending = &entries;
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
    const std::vector<Entry>* pEntries = m_pAppending;
    m_pAppending = NULL;
    int nLength = 0;
    if (pEntries)
        for (const Entry& entry : *pEntries)
            nLength += entry.nChars;
    else
        nLength = int(wcslen(pszText));
    if (nLength == 0)
        return 0;

    const int nOldLength = m_strLog.GetLength();
    const int nCut = AddToLog(pszText, nLength, pEntries);
    if (m_editLog.m_hWnd)
        ShowAppended(nOldLength, nCut, pszText);
    else
        SetDlgItemText(IDC_LOG_TEXT, m_strLog);
    return 0;
}

int CLoggingDlg::AddToLog(LPCWSTR pszText, int nLength, const std::vector<Entry>* pEntries)
{
    const bool bLastOpen = !m_strLog.IsEmpty() && m_strLog[m_strLog.GetLength() - 1] != L'\n';
    m_strLog.Append(pszText, nLength);
    std::vector<Entry> whole;
    if (!pEntries) {
        whole.push_back(Entry{ nLength, CountLineEnds(pszText, nLength) });
        pEntries = &whole;
    }
    bool bFirst = true;
    for (const Entry& entry : *pEntries) {
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
    if (m_nLineEnds <= kMaxLines && m_strLog.GetLength() <= kMaxChars)
        return 0;

    // The oldest entries go, whole, down to nine tenths of the bounds; the
    // newest stays even when it alone is past them.
    int nCut = 0;
    while (m_entries.size() > 1 && (m_nLineEnds > kKeepLines || m_strLog.GetLength() - nCut > kKeepChars)) {
        nCut += m_entries.front().nChars;
        m_nLineEnds -= m_entries.front().nLineEnds;
        m_entries.pop_front();
    }
    m_strLog.Delete(0, nCut);
    return nCut;
}

void CLoggingDlg::ShowAppended(int nOldLength, int nCut, LPCWSTR pszText)
{
    // Only the new text goes into the control, and only the oldest entries
    // leave it: re-setting the whole log would make every append cost as
    // much as the whole log.
    // The control is hidden, without a repaint, while its text changes: its
    // scrolling to the new end and back to the start then costs nothing and
    // leaves nothing on the screen (under Wine, with redraw merely switched
    // off, each scroll took tens of milliseconds and showed).
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
    // Painted now, scroll bars too, rather than when the thread has nothing
    // else to do, which a busy logging thread may not have for a long time.
    m_editLog.RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
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
