// CWinThread: starting a user-interface thread, its message loop and its end.
#include "afxwin.h"

#include <process.h>

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

BEGIN_MESSAGE_MAP(CWinThread, CCmdTarget)
END_MESSAGE_MAP()

namespace {

thread_local CWinThread* t_pCurrentThread = NULL;

struct ThreadStartup
{
    CWinThread* pThread;
    HANDLE hStarted;   // set once the thread has its message queue
};

unsigned __stdcall AfxThreadEntry(void* pParam)
{
    ThreadStartup* pStartup = static_cast<ThreadStartup*>(pParam);
    CWinThread* pThread = pStartup->pThread;
    t_pCurrentThread = pThread;
    // The first call of a message function gives the thread its queue.
    MSG msg;
    ::PeekMessageW(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    ::SetEvent(pStartup->hStarted);   // pStartup is gone after this

    int nResult;
    if (!pThread->InitInstance())
        nResult = pThread->ExitInstance();
    else
        nResult = pThread->Run();
    pThread->Delete();
    t_pCurrentThread = NULL;
    AfxTermThreadState();
    return unsigned(nResult);
}

} // namespace

CWinThread* AfxGetThread()
{
    if (t_pCurrentThread)
        return t_pCurrentThread;
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->m_nThreadID == ::GetCurrentThreadId() ? pApp : NULL;
}

CWinThread::CWinThread() : m_pMainWnd(NULL), m_bAutoDelete(TRUE), m_hThread(NULL), m_nThreadID(0), m_msgCur() {}

CWinThread::~CWinThread()
{
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

BOOL CWinThread::CreateThread(DWORD dwCreateFlags, UINT nStackSize, LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    if (dwCreateFlags & CREATE_SUSPENDED) {
        // Not offered: the startup record lives on this call's stack.
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    ThreadStartup startup = { this, ::CreateEventW(NULL, TRUE, FALSE, NULL) };
    if (!startup.hStarted)
        return FALSE;
    // Made suspended so m_hThread and m_nThreadID are set before the thread
    // can read them.
    unsigned nThreadID = 0;
    HANDLE hThread = reinterpret_cast<HANDLE>(::_beginthreadex(
        lpSecurityAttrs, nStackSize, &AfxThreadEntry, &startup, dwCreateFlags | CREATE_SUSPENDED, &nThreadID));
    if (!hThread) {
        ::CloseHandle(startup.hStarted);
        return FALSE;
    }
    m_hThread = hThread;
    m_nThreadID = nThreadID;
    ::ResumeThread(hThread);
    ::WaitForSingleObject(startup.hStarted, INFINITE);
    ::CloseHandle(startup.hStarted);
    return TRUE;
}

BOOL CWinThread::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostThreadMessageW(m_nThreadID, message, wParam, lParam);
}

int CWinThread::Run()
{
    while (PumpMessage())
        ;
    return ExitInstance();
}

BOOL CWinThread::PumpMessage()
{
    BOOL bRet = ::GetMessageW(&m_msgCur, NULL, 0, 0);
    if (bRet == 0)
        return FALSE;
    if (bRet != -1 && !PreTranslateMessage(&m_msgCur)) {
        ::TranslateMessage(&m_msgCur);
        ::DispatchMessageW(&m_msgCur);
    }
    return TRUE;
}

BOOL CWinThread::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->hwnd == NULL) {
        // A thread message: its handler, if any, is the whole dispatch; one
        // without (a thread timer's WM_TIMER) is dispatched as usual.
        // Nothing may leave the loop, as at a window procedure.
        try {
            return DispatchToMap(pMsg->message, pMsg->wParam, pMsg->lParam, NULL);
        } catch (CException* e) {
            e->ReportError(MB_ICONEXCLAMATION);
            e->Delete();
        } catch (...) {
        }
        return TRUE;
    }
    return AfxPreTranslateMessage(pMsg);
}

int CWinThread::ExitInstance() { return int(m_msgCur.wParam); }

void CWinThread::Delete()
{
    if (m_bAutoDelete)
        delete this;
}
