#include "dorsavantixviewer.h"
#include "../viewer/dorsavantixviewerdlg.h"

#include <afxcontrolbars.h>

// How long the process waits at its end for the logging thread to write
// what was queued before the stop request.
static const DWORD kLogThreadEndWaitMs = 5000;

BEGIN_MESSAGE_MAP(CDorsaVantixViewerApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CDorsaVantixViewerApp::CDorsaVantixViewerApp() {}

CDorsaVantixViewerApp theApp;

BOOL CDorsaVantixViewerApp::InitInstance()
{
    TRACE("CDorsaVantixViewerApp::InitInstance() called.\n");

    INITCOMMONCONTROLSEX InitCtrls;
    InitCtrls.dwSize = sizeof(InitCtrls);
    InitCtrls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&InitCtrls);

    CWinApp::InitInstance();

    AfxEnableControlContainer();

    CShellManager* pShellManager = new CShellManager;

    CMFCVisualManager::SetDefaultManager(RUNTIME_CLASS(CMFCVisualManagerWindows));

    SetRegistryKey(_T("Dorsa Vantix Viewer"));

    CString strClosing;

    m_pLogThread = CAppLogThread::BeginLogThread(TRUE, 3000, TRUE);
    m_pLogThread->WriteLine(L"Creating main window dialog...");

    CDorsaVantixViewerDlg dlg;
    m_pMainWnd = &dlg;
    INT_PTR nResponse = dlg.DoModal();

    strClosing.Format(L"Main window closed with response id: %Id (0x%x)", nResponse, unsigned(nResponse));
    m_pLogThread->WriteLine(strClosing);

    if (nResponse == -1) {
        TRACE("Warning: dialog creation failed, so application is terminating unexpectedly.\n");
        TRACE("Warning: if you are using MFC controls on the dialog, you cannot #define _AFX_NO_MFC_CONTROLS_IN_DIALOGS.\n");
    }

    StopLogThread();

    if (pShellManager != NULL)
        delete pShellManager;

    return FALSE;
}

int CDorsaVantixViewerApp::ExitInstance()
{
    TRACE("CDorsaVantixViewerApp::ExitInstance() called.\n");
    StopLogThread();
    WaitForLogThreadEnd();
    return CWinApp::ExitInstance();
}

void CDorsaVantixViewerApp::StopLogThread()
{
    if (!m_pLogThread)
        return;
    // The thread object deletes itself when its thread ends: keep a handle
    // of our own to the thread, valid whatever becomes of the object.
    if (!m_hLogThreadEnd)
        m_hLogThreadEnd = m_pLogThread->DuplicateThreadHandle();
    m_pLogThread->m_bAutoDelete = TRUE;
    m_pLogThread->ShutdownInstance(FALSE, INFINITE);
    m_pLogThread = NULL;
}

void CDorsaVantixViewerApp::WaitForLogThreadEnd()
{
    if (!m_hLogThreadEnd)
        return;
    // Keep serving this thread's messages meanwhile: the logging thread's
    // closing work may need an answer from a window of this thread.
    DWORD dwStart = ::GetTickCount();
    for (;;) {
        DWORD dwElapsed = ::GetTickCount() - dwStart;
        if (dwElapsed >= kLogThreadEndWaitMs)
            break;
        DWORD dwCode = ::MsgWaitForMultipleObjects(1, &m_hLogThreadEnd, FALSE, kLogThreadEndWaitMs - dwElapsed, QS_ALLINPUT);
        if (dwCode != WAIT_OBJECT_0 + 1)
            break;
        MSG msg;
        while (::PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    ::CloseHandle(m_hLogThreadEnd);
    m_hLogThreadEnd = NULL;
}
