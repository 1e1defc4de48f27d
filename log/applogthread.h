// The application log's engine: CAppLogThread, a user-interface thread that
// owns the per-run log file and the "App Log" popup, and the record every
// log message travels in.
#pragma once

#include <afxwin.h>
#include <afxmt.h>

#include <atomic>
#include <deque>
#include <vector>

#include "logentryreaper.h"
#include "logfailedstart.h"
#include "logfilesink.h"
#include "loggingdlg.h"
#include "logmailbox.h"
#include "logpopupfeed.h"
#include "logqueueledger.h"
#include "logthreadloop.h"

class CTimestampFormatter;

// Messages of the logging thread, served in posting order by its message map.
#define WM_LOGTHREAD_WRITE      (WM_USER + 1)   // drain the queue
#define WM_LOGTHREAD_ACTIVATE   (WM_USER + 2)   // lParam: MainWndActivateInfo*, owned by the message
#define WM_LOGTHREAD_QUIT       (WM_USER + 3)   // the quit request: end the message loop

// The main window's activation change, on its way to the logging thread.
// Windows travel as handles: the objects of another thread may be gone by
// the time the logging thread reads the record.
struct MainWndActivateInfo
{
    HWND hWnd;          // the main window; the popup goes directly behind it
    UINT nState;        // WA_INACTIVE, WA_ACTIVE or WA_CLICKACTIVE
    HWND hWndOther;     // carried, never read
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
        LogEntry(LogEntry&& other) = default;   // the queue takes over an entry made for it
        LogEntry& operator=(const LogEntry& other) = default;
        ~LogEntry() = default;

        CString m_strText;
        FILETIME m_ftTime;
    };

    // Makes the object, starts its thread and, with bWaitForInit, waits up
    // to dwTimeout ms for the handshake, or until a failed start has ended
    // the thread. Never NULL.
    static CAppLogThread* BeginLogThread(bool bWaitForInit, DWORD dwTimeout, bool bAutoDelete);

    virtual void CreateNewThread(bool bWaitForInit, DWORD dwTimeout, bool bAutoDelete);
    // Posts the quit request; with bWait, waits up to dwTimeout ms for the
    // thread's end. 0xFFFFFFFF when not initialised; the exit code when the
    // thread was waited for and ended; else 0. Everything queued before the
    // request is written to the file before the thread ends; entries queued
    // from here on are dropped. With m_bAutoDelete set this is the owner's
    // last call.
    virtual DWORD ShutdownInstance(bool bWait, DWORD dwTimeout);

    // Queue one line; both return at once and may be called from any thread.
    void WriteLine(const CString& text);
    void WriteLine(const LogEntry& entry);

    // The queue's bound: entries of at most kMaxQueuedChars characters in
    // all, each counting its text and kQueuedEntryChars for its record, from
    // their queuing until they are freed, after the drain that took them. When
    // writers outrun the logging thread that far, the entry that would pass
    // the bound and every one after it is dropped and counted until a drain
    // takes the queue; that drain logs, after the entries it takes, "<n> log
    // lines were dropped because the log queue was full". Entries lost for
    // want of memory are said the same way.
    static constexpr size_t kMaxQueuedChars = CLogQueueLedger::kMaxChars;
    static constexpr size_t kQueuedEntryChars = CLogQueueLedger::kEntryChars;

    // Reports the main window's activation; keeps the popup directly behind
    // it. Returns the result of posting.
    BOOL NotifyActivate(CWnd* pWnd, UINT nState, CWnd* pWndOther, BOOL bMinimized);

    // A handle of the logging thread that stays valid after the object is
    // gone (NULL if it never started): take it before ShutdownInstance to
    // wait, bounded, for the thread's end; the caller closes it.
    HANDLE DuplicateThreadHandle() const;

    BOOL InitInstance() override;
    int ExitInstance() override;
    BOOL PumpMessage() override;
    void Delete() override;

protected:
    CAppLogThread();
    ~CAppLogThread() override;

    // Posts a message of the thread's map through the mailbox once it
    // exists, to the thread before.
    BOOL PostToThread(UINT message, WPARAM wParam, LPARAM lParam);

    // Called with WM_LOGTHREAD_WRITE: writes every queued entry.
    afx_msg void OnWriteLog(WPARAM wParam, LPARAM lParam);
    // Called with WM_LOGTHREAD_ACTIVATE: restacks the popup, frees the record.
    afx_msg void OnMainWndActivate(WPARAM wParam, LPARAM lParam);
    // Called with WM_LOGTHREAD_QUIT: ends the message loop, also from inside a modal loop.
    afx_msg void OnQuitRequest(WPARAM wParam, LPARAM lParam);

    CEvent m_evInitialized;
    CCriticalSection m_csQueue;
    std::atomic<bool> m_bInitialized;
    std::deque<LogEntry> m_queue;
    CLoggingDlg m_dlgLog;
    CString m_strLogFileName;
    CStdioFile m_fileLog;

    // Under m_csQueue: the queue's bound, its losses, whether a drain was
    // asked for, and whether it is closed (no drain will come: entries are
    // then refused, and no activation is posted).
    CLogQueueLedger m_ledger;
    CLogPopupFeed m_popupFeed;    // what the popup gets next, on the logging thread

    CLogMailbox m_mailbox;        // what other threads post to, also inside modal loops

private:
    // Makes an entry from the source and queues it.
    template <typename Source>
    void QueueNewEntry(const Source& source);
    // Moves the entry into the queue (NULL: one that could not be made) and
    // asks for a drain; what it needs of the object it reads under the
    // lock, so a self-deleting object may go as soon as the lock is let go.
    void Queue(LogEntry* pEntry);
    // Writes and flushes every queued entry to the file; then, with
    // bToPopup and unless the quit request is on its way, gives the popup's
    // feed the newest entries it can keep.
    void Drain(bool bToPopup);
    // Takes every queued entry, and a line for those dropped or lost; false
    // when there is nothing. nCost: what the entries count in the bound;
    // bClosed: the quit request is on its way.
    bool TakeQueue(std::deque<LogEntry>& entries, size_t& nCost, bool& bClosed);
    // The file's lines, in pieces, each written and flushed.
    void WriteToFile(const std::deque<LogEntry>& entries, CTimestampFormatter& stamps);
    // The next piece's lines, from entries[iNext] on; returns how many
    // entries it holds.
    int MakeFilePiece(const std::deque<LogEntry>& entries, size_t& iNext, CTimestampFormatter& stamps,
                      CString& strPiece);
    // The newest entries the popup can keep, each cut to what the popup
    // shows of one entry, as one text and where each begins; true when
    // older ones were left out.
    bool MakePopupSlice(const std::deque<LogEntry>& entries, CTimestampFormatter& stamps, CString& strSlice,
                        std::vector<int>& entryStarts);
    BOOL OpenLogFile(const CString& strBaseName, CFileException* pError);
    void CloseQueue();
    bool IsQueueClosed();
    // Called by the idle timer: drains what no request brought (a request
    // that couldn't be posted, or one a modal loop dropped), and ends the
    // thread if its quit request was lost the same way.
    static void CALLBACK OnIdleTimer(HWND hWnd, UINT nMsg, UINT_PTR nIDEvent, DWORD dwTime);

    CLogFailedStart m_failedStart;   // the owner goes on at once, and the last to let go deletes
    CLogThreadLoop m_loop;           // the end of the thread's loop, and its idle timer
    CLogFileSink m_fileSink;         // the file's whole lines, on the logging thread
    // Frees what the drains took, a flood's off the logging thread. Last,
    // so it is gone first: its end waits for the freeing still running.
    CLogEntryReaper<LogEntry> m_reaper;

    DECLARE_MESSAGE_MAP()
};
