// CLoggingDlg: the "App Log" popup that shows the newest log lines as they
// are written.
#pragma once

#include <afxdialogex.h>

#include <deque>
#include <vector>

#include "../res/resource.h"

class CLoggingDlg : public CDialogEx
{
    DECLARE_DYNAMIC(CLoggingDlg)
public:
    explicit CLoggingDlg(CWnd* pParent = NULL);
    ~CLoggingDlg() override;

    enum { IDD = IDD_APP_LOG };

    // What the popup holds at most: the newest log entries, whole, up to
    // these bounds (the newest entry is kept even when it alone is longer).
    // When an append passes either, the oldest entries go down to nine
    // tenths of it, so trimming comes once in many appends. The log file
    // keeps everything.
    static constexpr int kMaxLines = 5000;
    static constexpr int kMaxChars = 1000000;

    // Appends log entries to what the popup shows, line ends normalised to
    // CR LF; must be called while the window exists. entryStarts gives where
    // each entry begins in text, the first at 0; without it the text is one
    // entry. A text that follows one without a line end goes on with it.
    virtual void AppendText(const CString& text, const std::vector<int>& entryStarts = std::vector<int>());

    CEdit m_editLog;
    CString m_strLog;   // the newest entries appended: what the edit control shows

protected:
    // One entry's share of m_strLog.
    struct Entry
    {
        int nChars;
        int nLineEnds;
    };

    void DoDataExchange(CDataExchange* pDX) override;
    // Called with WM_USER: lParam is the text to append, or 0 to refresh the control.
    virtual LRESULT OnAppendText(WPARAM wParam, LPARAM lParam);
    // Called when the popup is resized: the edit control fills the client area.
    afx_msg void OnSize(UINT nType, int cx, int cy);

    int m_nLineEnds;               // line feeds in m_strLog
    std::deque<Entry> m_entries;   // the entries of m_strLog, oldest first

private:
    // Adds nLength characters to m_strLog, as the given entries or as one,
    // and drops the oldest entries past the bounds; returns how many
    // characters went from the front.
    int AddToLog(LPCWSTR pszText, int nLength, const std::vector<Entry>* pEntries);
    // Shows the change in the edit control: nCut characters gone from the
    // front of the nOldLength there were, the text added at the end.
    void ShowAppended(int nOldLength, int nCut, LPCWSTR pszText);

    const std::vector<Entry>* m_pAppending;   // the entries of the text AppendText is sending

    DECLARE_MESSAGE_MAP()
};
