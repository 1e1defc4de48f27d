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
    // Of one entry the popup shows at most this much, then a note of what
    // only the file has (at most kCutNoteMaxChars more): a long line costs
    // the edit control its layout on the logging thread.
    static constexpr int kMaxEntryChars = 10000;
    static constexpr int kCutNoteMaxChars = 48;

    // How much of an entry's text the popup shows (a surrogate pair is
    // never split), and the text it shows for one cut there.
    static int ShownEntryLength(const CString& strText);
    static CString CutEntryText(const CString& strText, int nShown);

    // Counts an append's entries, newest first, as long as the popup keeps
    // them: whole entries within the bounds, the newest even when it alone
    // is past them. Whoever makes an append's text counts with it, so that
    // no more is made than the popup keeps.
    class CNewestEntries
    {
    public:
        // Whether the popup keeps this entry too (line ends as CR LF); once
        // one is not kept, no older one is.
        bool Add(long long nChars, long long nLineEnds);

    private:
        long long m_nChars = 0;
        long long m_nLineEnds = 0;
        bool m_bAny = false;
        bool m_bFull = false;
    };

    // Appends log entries to what the popup shows, line ends normalised to
    // CR LF; must be called while the window exists. entryStarts gives where
    // each entry begins in text, the first at 0; without it the text is one
    // entry. A text that follows one without a line end goes on with it.
    // Only the newest entries the popup keeps are taken; with bOlderLeftOut
    // the caller left out older ones already, and nothing shown before
    // stays either: what the popup shows is always the newest entries in a
    // row.
    virtual void AppendText(const CString& text, const std::vector<int>& entryStarts = std::vector<int>(),
                            bool bOlderLeftOut = false);

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
    // An append on its way from AppendText to OnAppendText.
    struct Appending
    {
        std::vector<Entry> entries;   // those of the text, oldest first
        bool bReplacing;              // older entries were left out: nothing shown stays
    };

    // Adds nLength characters to m_strLog, as the given entries or as one,
    // and drops the oldest entries past the bounds; returns how many
    // characters went from the front. Out of memory, it changes nothing
    // and throws.
    int AddToLog(LPCWSTR pszText, int nLength, const Appending* pAppending);
    // Shows the change in the edit control: nCut characters gone from the
    // front of the nOldLength there were, the text added at the end.
    void ShowAppended(int nOldLength, int nCut, LPCWSTR pszText);
    // Invalidates the control's text from the given character on, where it
    // is in view.
    void InvalidateTextFrom(int nFirstChanged);

    const Appending* m_pAppending;   // the append AppendText is sending

    DECLARE_MESSAGE_MAP()
};
