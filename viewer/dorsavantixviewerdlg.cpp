#include "dorsavantixviewerdlg.h"
#include "../app/dorsavantixviewer.h"

#include <shlobj.h>

// Every step goes to the application log; the logging thread runs for as
// long as the dialog does.
static void Log(const CString& strText) { theApp.m_pLogThread->WriteLine(strText); }

// --- About box ---------------------------------------------------------------
CAboutDlg::CAboutDlg() : CDialogEx(IDD_ABOUTBOX) {}

CAboutDlg::~CAboutDlg() {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) { CDialogEx::DoDataExchange(pDX); }

BEGIN_MESSAGE_MAP(CAboutDlg, CDialogEx)
END_MESSAGE_MAP()

// --- Main dialog -------------------------------------------------------------
CDorsaVantixViewerDlg::CDorsaVantixViewerDlg(CWnd* pParent) : CDialogEx(IDD_VIEWER_DIALOG, pParent)
{
    m_hIcon = theApp.LoadIcon(IDR_MAINFRAME);
}

CDorsaVantixViewerDlg::~CDorsaVantixViewerDlg() {}

void CDorsaVantixViewerDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_VIEWER, m_viewer);
    DDX_Control(pDX, IDC_PLUGIN_PATH, m_pluginPathCtrl);
    DDX_Control(pDX, IDC_CAMERA_IP, m_ipAddressCtrl);
}

BEGIN_MESSAGE_MAP(CDorsaVantixViewerDlg, CDialogEx)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_ACTIVATE()
    ON_BN_CLICKED(IDC_CONNECT, &CDorsaVantixViewerDlg::OnBnClickedConnect)
    ON_BN_CLICKED(IDC_DISCONNECT, &CDorsaVantixViewerDlg::OnBnClickedDisconnect)
END_MESSAGE_MAP()

BEGIN_EVENTSINK_MAP(CDorsaVantixViewerDlg, CDialogEx)
    ON_EVENT(CDorsaVantixViewerDlg, IDC_VIEWER, 1, OnDorsaViewerTimeStamp, VTS_BSTR VTS_BSTR)
END_EVENTSINK_MAP()

BOOL CDorsaVantixViewerDlg::OnInitDialog()
{
    TRACE("CDorsaVantixViewerDlg::OnInitDialog() called.\n");
    Log(L"CDorsaVantixViewerDlg::OnInitDialog() called.");

    CDialogEx::OnInitDialog();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        CString strAboutMenu;
        strAboutMenu.LoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    WCHAR szProgramFiles[MAX_PATH] = L"";
    ::SHGetSpecialFolderPathW(NULL, szProgramFiles, CSIDL_PROGRAM_FILES, FALSE);
    m_strPluginPath.Format(L"%s\\Dorsa\\API\\Libs\\Debug\\", szProgramFiles);
    SetDlgItemText(IDC_PLUGIN_PATH, m_strPluginPath);

    SetDlgItemText(IDC_PORT, L"80");
    SetDlgItemText(IDC_CHANNEL, L"1");

    TRACE("CDorsaVantixViewerDlg::OnInitDialog() completed.\n");
    Log(L"CDorsaVantixViewerDlg::OnInitDialog() completed.");
    return TRUE;
}

void CDorsaVantixViewerDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        CDialogEx::OnSysCommand(nID, lParam);
    }
}

void CDorsaVantixViewerDlg::OnPaint()
{
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        int cxIcon = ::GetSystemMetrics(SM_CXICON);
        int cyIcon = ::GetSystemMetrics(SM_CYICON);
        CRect rect;
        GetClientRect(&rect);
        int x = (rect.Width() - cxIcon + 1) / 2;
        int y = (rect.Height() - cyIcon + 1) / 2;
        dc.DrawIcon(x, y, m_hIcon);
    } else {
        CDialogEx::OnPaint();
    }
}

HCURSOR CDorsaVantixViewerDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CDorsaVantixViewerDlg::OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized)
{
    CDialogEx::OnActivate(nState, pWndOther, bMinimized);
    theApp.m_pLogThread->NotifyActivate(this, nState, pWndOther, bMinimized);
}

void CDorsaVantixViewerDlg::OnBnClickedConnect() { Connect(); }

void CDorsaVantixViewerDlg::OnBnClickedDisconnect() { Disconnect(); }

void CDorsaVantixViewerDlg::Connect()
{
    Disconnect();

    GetDlgItemText(IDC_PLUGIN_PATH, m_strPluginPath);
    BYTE nField0 = 0, nField1 = 0, nField2 = 0, nField3 = 0;
    m_ipAddressCtrl.GetAddress(nField0, nField1, nField2, nField3);
    m_strCameraIP.Format(L"%d.%d.%d.%d", nField0, nField1, nField2, nField3);
    GetDlgItemText(IDC_PORT, m_strPort);
    GetDlgItemText(IDC_CHANNEL, m_strChannel);

    CString strLog;
    strLog.Format(L"Setting Dorsa plugin path: %s", m_strPluginPath.GetString());
    Log(strLog);
    m_viewer.SetPluginPath(m_strPluginPath);

    strLog.Format(L"Calling DorsaAPICOMViewer::StartStream(...):\n    CameraIP=%s\n    Port=%s\n    Channel=%s",
                  m_strCameraIP.GetString(), m_strPort.GetString(), m_strChannel.GetString());
    Log(strLog);
    m_strSessionID = m_viewer.StartStream(L"NOW", L"INFINITE", m_strCameraIP, m_strPort, m_strChannel, NULL, NULL, NULL);
    strLog.Format(L"Call to DorsaAPICOMViewer::StartStream returned session ID: %s", m_strSessionID.GetString());
    Log(strLog);

    if (::IsWindow(m_viewer.m_hWnd)) {
        m_viewer.ShowWindow(SW_SHOW);
        strLog.Format(L"Calling DorsaAPICOMViewer::PlayForward(\"%s\", 1.0f)", m_strSessionID.GetString());
        Log(strLog);
        short nResult = m_viewer.PlayForward(m_strSessionID, 1.0f);
        strLog.Format(L"Call to DorsaAPICOMViewer::PlayForward(...) returned: %hd", nResult);
        Log(strLog);
    }
}

void CDorsaVantixViewerDlg::Disconnect()
{
    if (m_strSessionID.IsEmpty())
        return;
    CString strLog;
    strLog.Format(L"Calling DorsaAPICOMViewer::StopStream(\"%s\")", m_strSessionID.GetString());
    Log(strLog);
    short nResult = m_viewer.StopStream(m_strSessionID);
    strLog.Format(L"Call to DorsaAPICOMViewer::StopStream(...) returned: %hd", nResult);
    Log(strLog);
}

void CDorsaVantixViewerDlg::OnDorsaViewerTimeStamp(LPCTSTR SessionID, LPCTSTR TimeStamp)
{
    CString strText;
    strText.Format(L"CDorsaVantixViewerDlg::OnDorsaViewerTimeStamp() values updated: SessionID=\"%s\", TimeStamp=\"%s\"",
                   SessionID, TimeStamp);
    TRACE("%s\n", CStringA(strText).GetString());
    Log(strText);
}

BOOL CDorsaVantixViewerDlg::DestroyWindow()
{
    TRACE("CDorsaVantixViewerDlg::DestroyWindow() called.\n");
    if (theApp.m_pLogThread)
        Log(L"CDorsaVantixViewerDlg::DestroyWindow() called.");
    return CDialogEx::DestroyWindow();
}
