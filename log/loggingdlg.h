// CLoggingDlg: the "App Log" popup that shows the newest log lines as they
// are written.
#pragma once

#include <afxdialogex.h>
#include "../res/resource.h"

class CLoggingDlg : public CDialogEx
{
    DECLARE_DYNAMIC(CLoggingDlg)
public:
    explicit CLoggingDlg(CWnd* pParent = NULL);
    ~CLoggingDlg() override;

    enum { IDD = IDD_APP_LOG };

    // What the popup holds at most: the newest lines, whole, up to these
    // bounds (the newest line is kept even when it alone is longer). When an
    // append passes either, the oldest lines go down to nine tenths of it, so
    // trimming comes once in many appends. The log file keeps everything.
    static constexpr int kMaxLines = 5000;
    static constexpr int kMaxChars = 1000000;

    // Appends a text (line ends normalised to CR LF) to what the popup
    // shows; must be called while the window exists.
    virtual void AppendText(const CString& text);

    CEdit m_editLog;
    CString m_strLog;   // the newest lines appended: what the edit control shows

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // Called with WM_USER: lParam is the text to append, or 0 to refresh the control.
    virtual LRESULT OnAppendText(WPARAM wParam, LPARAM lParam);
    // Called when the popup is resized: the edit control fills the client area.
    afx_msg void OnSize(UINT nType, int cx, int cy);

    int m_nLineEnds;    // line feeds in m_strLog

private:
    // Where m_strLog must start for it to keep within the bounds: 0, or
    // just after a line feed and never past the start of its last line.
    int TrimmedStart() const;
    // Paints what an append changed in the view: from the character at
    // nFirstChanged on, and the scroll bars.
    void RepaintAfterAppend(int nFirstChanged);

    DECLARE_MESSAGE_MAP()
};
