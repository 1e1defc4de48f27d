// The application object: starts the logging thread, runs the main dialog,
// stops the logging thread.
#pragma once

#include <afxwin.h>
#include "../log/applogthread.h"

class CDorsaVantixViewerApp : public CWinApp
{
public:
    CDorsaVantixViewerApp();

    // The running logging thread; null before start-up and after the stop request.
    CAppLogThread* m_pLogThread;

    BOOL InitInstance() override;
    int ExitInstance() override;

protected:
    // Asks the logging thread to stop and lets go of it; remembers its end
    // so ExitInstance can wait for the last lines to be written.
    void StopLogThread();
    // Waits, bounded, until the logging thread has ended.
    void WaitForLogThreadEnd();

    HANDLE m_hLogThreadEnd;

    DECLARE_MESSAGE_MAP()
};

extern CDorsaVantixViewerApp theApp;
