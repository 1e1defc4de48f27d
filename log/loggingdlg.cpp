#include "loggingdlg.h"

IMPLEMENT_DYNAMIC(CLoggingDlg, CDialogEx)

BEGIN_MESSAGE_MAP(CLoggingDlg, CDialogEx)
    ON_MESSAGE(WM_USER, &CLoggingDlg::OnAppendText)
    ON_WM_SIZE()
END_MESSAGE_MAP()

CLoggingDlg::CLoggingDlg(CWnd* pParent) : CDialogEx(IDD_APP_LOG, pParent) {}

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

LRESULT CLoggingDlg::OnAppendText(WPARAM, LPARAM lParam)
{
    // WM_USER is also the dialog manager's DM_GETDEFID, with lParam 0: then
    // the control is only refreshed, and the answer is "no default button".
    LPCWSTR pszText = reinterpret_cast<LPCWSTR>(lParam);
    if (!pszText || !m_editLog.m_hWnd) {
        if (pszText)
            m_strLog += pszText;
        SetDlgItemText(IDC_LOG_TEXT, m_strLog);
        return 0;
    }
    if (!*pszText)
        return 0;

    // Only the new text goes into the control: re-setting the whole log
    // would make every line cost more than the last.
    int nOldLength = m_strLog.GetLength();
    m_strLog += pszText;
    if (m_editLog.GetLimitText() < UINT(m_strLog.GetLength()))
        m_editLog.SetLimitText(0);   // the largest the control allows
    m_editLog.SendMessage(WM_SETREDRAW, FALSE);
    m_editLog.SetSel(nOldLength, nOldLength, TRUE);
    m_editLog.ReplaceSel(pszText);
    // The view starts at the first line, as after re-setting the whole text.
    m_editLog.SetSel(0, 0);
    m_editLog.SendMessage(WM_HSCROLL, SB_LEFT);
    m_editLog.SendMessage(WM_SETREDRAW, TRUE);
    m_editLog.Invalidate();
    return 0;
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
