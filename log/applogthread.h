// The application log's engine: CAppLogThread, a user-interface thread that
// owns the per-run log file and the "App Log" popup, and the record every
// log message travels in.
#pragma once

#include <afxwin.h>
#include <afxmt.h>

#include <atomic>
#include <deque>

#include "loggingdlg.h"

// Thread messages of the logging thread.
#define WM_LOGTHREAD_WRITE      (WM_USER + 1)   // drain the queue
#define WM_LOGTHREAD_ACTIVATE   (WM_USER + 2)   // lParam: MainWndActivateInfo*, owned by the message

// The main window's activation change, on its way to the logging thread.
struct MainWndActivateInfo
{
    CWnd* pWnd;         // the main window; the popup goes directly behind it
    UINT nState;        // WA_INACTIVE, WA_ACTIVE or WA_CLICKACTIVE
    CWnd* pWndOther;    // carried, never read
    BOOL bMinimized;
};

// Where the popup goes: the bottom-right corner of the work area, at most
// 1280 by 240 pixels and never larger than the work area.
CRect LogPopupRect(const CRect& rcWorkArea);

class CAppLogThread : public CWinThread
{
    DECLARE_DYNCREATE(CAppLogThread)
public:
    // One log message on its way to the log: the text as the caller gave it
    // and the UTC instant the entry was made (not when it is written).
    class LogEntry
    {
    public:
        LogEntry();
        explicit LogEntry(const CString& text);
        LogEntry(const LogEntry& other) = default;
        ~LogEntry() = default;

        CString m_strText;
        FILETIME m_ftTime;
    };

    // Makes the object, starts its thread and, with bWaitForInit, waits up
    // to dwTimeout ms for the handshake. Never NULL.
    static CAppLogThread* BeginLogThread(bool bWaitForInit, DWORD dwTimeout, bool bAutoDelete);

    virtual void CreateNewThread(bool bWaitForInit, DWORD dwTimeout, bool bAutoDelete);
    // Posts the quit request; with bWait, waits up to dwTimeout ms for the
    // thread's end. 0xFFFFFFFF when not initialised; the exit code when the
    // thread was waited for and ended; else 0. Entries queued from here on
    // are dropped. With m_bAutoDelete set this is the owner's last call.
    virtual DWORD ShutdownInstance(bool bWait, DWORD dwTimeout);

    // Queue one line; both return at once and may be called from any thread.
    void WriteLine(const CString& text);
    void WriteLine(const LogEntry& entry);

    // Reports the main window's activation; keeps the popup directly behind
    // it. Returns the result of posting.
    BOOL NotifyActivate(CWnd* pWnd, UINT nState, CWnd* pWndOther, BOOL bMinimized);

    // A handle of the logging thread that stays valid after the object is
    // gone (NULL if it never started): take it before ShutdownInstance to
    // wait, bounded, for the thread's end; the caller closes it.
    HANDLE DuplicateThreadHandle() const;

    BOOL InitInstance() override;
    int ExitInstance() override;
    void Delete() override;

protected:
    CAppLogThread();
    ~CAppLogThread() override;

    // Called with WM_LOGTHREAD_WRITE: writes every queued entry.
    afx_msg void OnWriteLog(WPARAM wParam, LPARAM lParam);
    // Called with WM_LOGTHREAD_ACTIVATE: restacks the popup, frees the record.
    afx_msg void OnMainWndActivate(WPARAM wParam, LPARAM lParam);

    CEvent m_evInitialized;
    CCriticalSection m_csQueue;
    std::atomic<bool> m_bInitialized;
    std::deque<LogEntry> m_queue;
    CLoggingDlg m_dlgLog;
    CString m_strLogFileName;
    CStdioFile m_fileLog;

    // Set under m_csQueue once no drain will come: entries are then dropped.
    bool m_bQueueClosed;

private:
    BOOL OpenLogFile(const CString& strBaseName, CFileException* pError);
    void CloseQueue();
    // After a failed start the thread and the owner each let go once; the
    // second deletes the object.
    void LetGo();

    bool m_bStartFailed;                 // the logging thread's own record
    std::atomic<bool> m_bOwnerLetGo;
    std::atomic<int> m_nLetGo;

    DECLARE_MESSAGE_MAP()
};
