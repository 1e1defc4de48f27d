// CLoggingDlg: the "App Log" popup that shows every log line as it is written.
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

    // Appends one text (line ends normalised to CR LF) to what the popup
    // shows; must be called while the window exists.
    virtual void AppendText(const CString& text);

    CEdit m_editLog;
    CString m_strLog;   // everything appended so far: what the edit control shows

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // Called with WM_USER: lParam is the text to append, or 0 to refresh the control.
    virtual LRESULT OnAppendText(WPARAM wParam, LPARAM lParam);
    // Called when the popup is resized: the edit control fills the client area.
    afx_msg void OnSize(UINT nType, int cx, int cy);

    DECLARE_MESSAGE_MAP()
};
