// The main viewer dialog, with the viewer control above the Connection
// panel, and the About box.
#pragma once

#include <afxdialogex.h>
#include <afxcmn.h>
#include <afxeditbrowsectrl.h>
#include "dorsaapicomviewer.h"
#include "../res/resource.h"

class CAboutDlg : public CDialogEx
{
public:
    CAboutDlg();
    ~CAboutDlg() override;
    enum { IDD = IDD_ABOUTBOX };

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};

class CDorsaVantixViewerDlg : public CDialogEx
{
public:
    explicit CDorsaVantixViewerDlg(CWnd* pParent = NULL);
    ~CDorsaVantixViewerDlg() override;
    enum { IDD = IDD_VIEWER_DIALOG };

    BOOL DestroyWindow() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    // Called for window-menu commands: the About item opens the About box.
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    // Called to paint: while minimised, the application icon.
    afx_msg void OnPaint();
    // Called for the cursor shown while the minimised window is dragged.
    afx_msg HCURSOR OnQueryDragIcon();
    // Called when the dialog's activation changes: the log popup follows it.
    afx_msg void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    // Called when Connect is clicked.
    afx_msg void OnBnClickedConnect();
    // Called when Disconnect is clicked.
    afx_msg void OnBnClickedDisconnect();
    // Called when the viewer control reports a time stamp of a stream.
    void OnDorsaViewerTimeStamp(LPCTSTR SessionID, LPCTSTR TimeStamp);

    // Stops the kept session (if any), then starts and plays a new stream.
    void Connect();
    // Stops the kept session, if there is one.
    void Disconnect();

    CIPAddressCtrl m_ipAddressCtrl;
    CString m_strCameraIP;
    CString m_strPort;
    CString m_strChannel;
    CDorsaAPICOMViewer m_viewer;
    CString m_strSessionID;
    CString m_strPluginPath;
    CMFCEditBrowseCtrl m_pluginPathCtrl;
    HICON m_hIcon;

    DECLARE_MESSAGE_MAP()
    DECLARE_EVENTSINK_MAP()
};
