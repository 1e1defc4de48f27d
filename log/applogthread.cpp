// The logging thread: start handshake, the per-run log file, the popup, the
// queue every thread writes into and the drain that empties it.
#include "applogthread.h"

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include "logline.h"
#include "timestamp.h"

namespace {

const int kPopupMaxWidth = 1280;
const int kPopupMaxHeight = 240;
const UINT kRestackFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
const DWORD kNotInitialized = 0xFFFFFFFF;
const UINT kLogOpenFlags = CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite;
const int kMaxLogFileNumber = 9999;   // "<name> (9999).log" is the last name tried
const int kFileChunkChars = 64 * 1024;  // the file's lines are written in pieces this big, or one line alone

// A handle's value as the trace shows it (32 bits, as the trace texts have it).
unsigned TraceValue(const void* p) { return unsigned(reinterpret_cast<UINT_PTR>(p)); }

// The lines a drain could not report, as one entry.
CAppLogThread::LogEntry LossesEntry(const CLogQueueLedger::Losses& losses)
{
    CAppLogThread::LogEntry entry;
    if (losses.nDropped > 0)
        entry.m_strText = CountedLinesText(losses.nDropped, L"1 log line was dropped because the log queue was full",
                                           L"%d log lines were dropped because the log queue was full");
    if (losses.nDropped > 0 && losses.nLost > 0)
        entry.m_strText += L"\n";
    if (losses.nLost > 0)
        entry.m_strText += CountedLinesText(losses.nLost, L"1 log line was lost for want of memory",
                                            L"%d log lines were lost for want of memory");
    return entry;
}

// Waits, alertably, until one of the handles is signalled or dwTimeout ms
// have passed in all, however many APCs run meanwhile.
DWORD WaitAlertableWithin(DWORD nCount, const HANDLE* pHandles, DWORD dwTimeout)
{
    const ULONGLONG nStart = ::GetTickCount64();
    for (;;) {
        DWORD dwLeft = dwTimeout;
        if (dwTimeout != INFINITE) {
            const ULONGLONG nWaited = ::GetTickCount64() - nStart;
            dwLeft = nWaited >= dwTimeout ? 0 : DWORD(dwTimeout - nWaited);
        }
        const DWORD dwCode = ::WaitForMultipleObjectsEx(nCount, pHandles, FALSE, dwLeft, TRUE);
        if (dwCode != WAIT_IO_COMPLETION)
            return dwCode;
        if (dwLeft == 0)
            return WAIT_TIMEOUT;
    }
}

} // namespace

// The instant is read once, here, on the logging caller's thread; all text
// is made later on the logging thread.
CAppLogThread::LogEntry::LogEntry() { ::GetSystemTimeAsFileTime(&m_ftTime); }

CAppLogThread::LogEntry::LogEntry(const CString& text) : m_strText(text) { ::GetSystemTimeAsFileTime(&m_ftTime); }

CRect LogPopupRect(const CRect& rcWorkArea)
{
    CRect rc = rcWorkArea;
    rc.left = rc.right - std::min(rc.Width(), kPopupMaxWidth);
    rc.top = rc.bottom - std::min(rc.Height(), kPopupMaxHeight);
    return rc;
}

IMPLEMENT_DYNCREATE(CAppLogThread, CWinThread)

BEGIN_MESSAGE_MAP(CAppLogThread, CWinThread)
    ON_THREAD_MESSAGE(WM_LOGTHREAD_WRITE, &CAppLogThread::OnWriteLog)
    ON_THREAD_MESSAGE(WM_LOGTHREAD_ACTIVATE, &CAppLogThread::OnMainWndActivate)
    ON_THREAD_MESSAGE(WM_LOGTHREAD_QUIT, &CAppLogThread::OnQuitRequest)
END_MESSAGE_MAP()

CAppLogThread::CAppLogThread()
    : m_evInitialized(FALSE, TRUE, NULL, NULL), m_bInitialized(false), m_dlgLog(NULL), m_popupFeed(m_dlgLog),
      m_mailbox(this), m_fileSink(m_fileLog), m_reaper(m_csQueue, m_ledger)
{
}

CAppLogThread::~CAppLogThread() { CAppLogThread::ShutdownInstance(FALSE, INFINITE); }

CAppLogThread* CAppLogThread::BeginLogThread(bool bWaitForInit, DWORD dwTimeout, bool bAutoDelete)
{
    // Out of memory here is the framework's memory exception, for the caller.
    CAppLogThread* pThread = new CAppLogThread;
    pThread->CreateNewThread(bWaitForInit, dwTimeout, bAutoDelete);
    return pThread;
}

void CAppLogThread::CreateNewThread(bool bWaitForInit, DWORD dwTimeout, bool bAutoDelete)
{
    m_bAutoDelete = bAutoDelete;
    const bool bStarted = CreateThread(0, 0, NULL) != FALSE;
    if (!bStarted) {
        // No thread will ever drain or end: entries are dropped from now on,
        // and the owner's release alone deletes the object.
        CloseQueue();
        if (m_failedStart.ThreadLetsGo())
            delete this;
    }
    TRACE("CAppLogThread::CreateNewThread(...): Created new logging thread ID 0x%x (handle = 0x%x).\n",
          m_nThreadID, TraceValue(m_hThread));
    if (!bWaitForInit || m_bInitialized || !bStarted)
        return;

    // A failed start says so before its error box (code 1), and a thread
    // that ends ends the wait too (code 2): the owner never waits for
    // nothing. After a failed start the thread leaves the object to its
    // owner, so the handle stays.
    TRACE("CAppLogThread::CreateNewThread(...): Waiting for thread ID 0x%x to initialize...\n", m_nThreadID);
    const HANDLE handles[] = { m_evInitialized, m_failedStart.Event(), m_hThread };
    const DWORD dwCode = WaitAlertableWithin(_countof(handles), handles, dwTimeout);
    TRACE("CAppLogThread::CreateNewThread(...): WaitForSingleObjectEx for thread ID 0x%x returned code %lu (0x%x)...\n",
          m_nThreadID, dwCode, dwCode);
}

DWORD CAppLogThread::ShutdownInstance(bool bWait, DWORD dwTimeout)
{
    if (!m_bInitialized) {
        // Nothing to stop. After a failed start this is the owner letting go.
        if (m_bAutoDelete && m_failedStart.OwnerLetsGo())
            delete this;
        return kNotInitialized;
    }

    DWORD dwResult = 0;
    // Once the queue is closed the thread may end and a self-deleting object
    // be gone: only these copies are used from there on. The copy of the
    // handle also keeps the thread's ID from going to another thread while
    // this call may still post to it.
    const DWORD nThreadID = m_nThreadID;
    const HWND hWndMailbox = m_mailbox.m_hWnd;
    HANDLE hThread = NULL;
    ::DuplicateHandle(::GetCurrentProcess(), m_hThread, ::GetCurrentProcess(), &hThread,
                      SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
    try {
        TRACE("CAppLogThread::ShutdownInstance(): Posting quit message to thread ID 0x%x...\n", nThreadID);
        CloseQueue();
        // Through the mailbox, so a modal loop on the thread can't lose it;
        // without one, the thread's idle timer sees the closed queue too.
        const BOOL bPosted = hWndMailbox ? ::PostMessageW(hWndMailbox, WM_LOGTHREAD_QUIT, 0, 0)
                                         : ::PostThreadMessageW(nThreadID, WM_LOGTHREAD_QUIT, 0, 0);
        if (!bPosted && hThread && ::WaitForSingleObject(hThread, 0) == WAIT_TIMEOUT)
            ::PostThreadMessageW(nThreadID, WM_QUIT, 0, 0);
        if (bWait && hThread) {
            TRACE("CAppLogThread::ShutdownInstance(): Waiting for thread ID 0x%x to exit..\n", nThreadID);
            const DWORD dwCode = WaitAlertableWithin(1, &hThread, dwTimeout);
            TRACE("CAppLogThread::ShutdownInstance(): WaitForSingleObjectEx for thread ID 0x%x returned code %lu.\n",
                  nThreadID, dwCode);
            if (dwCode == WAIT_OBJECT_0) {
                BOOL bGot = ::GetExitCodeThread(hThread, &dwResult);
                TRACE("CAppLogThread::ShutdownInstance(): GetExitCodeThread for thread ID 0x%x returned code %d and exit code %lu.\n",
                      nThreadID, bGot, dwResult);
            }
        }
    } catch (CException* e) {
        TCHAR szError[1024];
        e->GetErrorMessage(szError, _countof(szError));
        TRACE(L"CAppLogThread::ShutdownInstance(): Exception while posting quit message: %s\n", szError);
        e->ReportError(MB_ICONERROR, 0);
        e->Delete();
    } catch (...) {
    }
    if (hThread)
        ::CloseHandle(hThread);
    return dwResult;
}

HANDLE CAppLogThread::DuplicateThreadHandle() const
{
    HANDLE hCopy = NULL;
    if (m_hThread)
        ::DuplicateHandle(::GetCurrentProcess(), m_hThread, ::GetCurrentProcess(), &hCopy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    return hCopy;
}

void CAppLogThread::WriteLine(const CString& text) { QueueNewEntry(text); }

void CAppLogThread::WriteLine(const LogEntry& entry) { QueueNewEntry(entry); }

template <typename Source>
void CAppLogThread::QueueNewEntry(const Source& source)
{
    TRACE("CAppLogThread::WriteLine(...) called\n");
    // Made on the caller's thread, outside the lock; the queue takes it over.
    std::optional<LogEntry> entry;
    try {
        entry.emplace(source);
    } catch (const std::bad_alloc&) {
    }
    Queue(entry ? &*entry : NULL);   // NULL: no memory for it, the log says a line was lost
}

void CAppLogThread::Queue(LogEntry* pEntry)
{
    // Once the lock is let go the thread may end and a self-deleting object
    // be gone: what the request needs is decided and copied under it.
    HWND hWndMailbox = NULL;
    DWORD nThreadID = 0;
    {
        CSingleLock lock(&m_csQueue);
        if (!lock.Lock(INFINITE))
            return;
        if (m_ledger.m_bClosed)
            return;   // no drain will come for it
        if (!pEntry) {
            m_ledger.Lost();
        } else {
            const size_t nCost = CLogQueueLedger::CostOf(size_t(pEntry->m_strText.GetLength()));
            if (m_ledger.Admit(nCost)) {
                try {
                    m_queue.push_back(std::move(*pEntry));
                } catch (const std::bad_alloc&) {
                    m_ledger.Lost(nCost);
                }
            }
        }
        // Until the thread is initialised, the drain its start requests
        // takes the entry. A request that can't be posted stays asked for:
        // the thread's idle timer drains instead.
        if (!m_ledger.AskForDrain() || !m_bInitialized)
            return;
        hWndMailbox = m_mailbox.m_hWnd;
        nThreadID = m_nThreadID;
    }
    CLogMailbox::Post(hWndMailbox, nThreadID, WM_LOGTHREAD_WRITE, 0, 0);
}

BOOL CAppLogThread::NotifyActivate(CWnd* pWnd, UINT nState, CWnd* pWndOther, BOOL bMinimized)
{
    MainWndActivateInfo* pInfo = new (std::nothrow) MainWndActivateInfo{
        pWnd ? pWnd->m_hWnd : NULL, nState, pWndOther ? pWndOther->m_hWnd : NULL, bMinimized };
    if (!pInfo)
        return FALSE;
    // Posted under the lock while the queue is open: once the thread closes
    // it at its end, no record can come after the ones it frees.
    BOOL bPosted = FALSE;
    {
        CSingleLock lock(&m_csQueue, TRUE);
        if (lock.IsLocked() && !m_ledger.m_bClosed)
            bPosted = PostToThread(WM_LOGTHREAD_ACTIVATE, 0, reinterpret_cast<LPARAM>(pInfo));
    }
    if (!bPosted)
        delete pInfo;   // no handler will ever see it
    return bPosted;
}

BOOL CAppLogThread::PostToThread(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CLogMailbox::Post(m_mailbox.m_hWnd, m_nThreadID, message, wParam, lParam);
}

BOOL CAppLogThread::OpenLogFile(const CString& strBaseName, CFileException* pError)
{
    // An existing file of the name is an earlier run's log: it is opened as
    // it is (never emptied), closed again, and the next name is tried. The
    // create-or-open call is atomic, so two runs never get the same file.
    for (int n = 1; n <= kMaxLogFileNumber; ++n) {
        CString strName;
        if (n == 1)
            strName.Format(L"%s.log", strBaseName.GetString());
        else
            strName.Format(L"%s (%d).log", strBaseName.GetString(), n);
        if (n == 1)
            m_strLogFileName = strName;
        if (m_fileLog.Open(strName, kLogOpenFlags | CFile::modeNoTruncate, pError)) {
            if (::GetLastError() != ERROR_ALREADY_EXISTS) {
                m_strLogFileName = strName;
                return TRUE;
            }
            m_fileLog.Close();
            continue;
        }
        // Held open by another run, or a read-only earlier log: taken too.
        DWORD dwAttributes = ::GetFileAttributesW(strName);
        bool bTakenByFile = dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
        if (pError->m_lOsError == ERROR_SHARING_VIOLATION ||
            (pError->m_lOsError == ERROR_ACCESS_DENIED && bTakenByFile))
            continue;
        return FALSE;
    }
    return FALSE;
}

BOOL CAppLogThread::InitInstance()
{
    TRACE("CAppLogThread::InitInstance() called on thread ID: %lu (0x%x), AutoDelete=%d\n", m_nThreadID, m_nThreadID,
          m_bAutoDelete);
    m_pMainWnd = NULL;
    // Lines queued before the start are kept: the first drain writes them.
    if (!m_mailbox.Create())
        TRACE("Failed to create the logging thread's mailbox: its messages go to the thread\n");
    if (m_fileLog.m_hFile != CFile::hFileNull) {
        try {
            m_fileLog.Close();
        } catch (CFileException* e) {
            e->Delete();
        }
    }

    CString strBaseName;
    strBaseName.Format(L"%s %s", AfxGetAppName(), TimestampText(TS_FILE_NAME).GetString());
    m_strLogFileName = strBaseName + L".log";
    TRACE(L"Opening log file: \"%s\"...\n", m_strLogFileName.GetString());
    CFileException fileException;
    if (!OpenLogFile(strBaseName, &fileException)) {
        TCHAR szError[512];
        fileException.GetErrorMessage(szError, _countof(szError));
        TRACE(L"Opening log failed: %s\n", szError);
        CString strCaption, strText;
        strCaption.Format(L"%s: Error Opening Log File", AfxGetAppName());
        strText.Format(L"Error while opening file:\n%s\n\n%s", m_strLogFileName.GetString(), szError);
        // The owner goes on at once, and what it logs from now on is
        // dropped: no drain will ever come.
        CloseQueue();
        m_failedStart.Failed();
        ::MessageBoxW(NULL, strText, strCaption, MB_ICONERROR);
        return FALSE;
    }
    m_fileSink.Opened();

    LogEntry created;
    created.m_strText.Format(L"Created log file: %s", m_fileLog.GetFilePath().GetString());
    TRACE(L"%s\n", created.m_strText.GetString());
    WriteLine(created);

    TRACE("Creating log viewer popup...\n");
    if (!m_dlgLog.m_hWnd && m_dlgLog.Create(IDD_APP_LOG, GetMainWnd())) {
        CRect rcWorkArea;
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWorkArea, 0);
        CRect rc = LogPopupRect(rcWorkArea);
        m_dlgLog.MoveWindow(&rc, TRUE);
        CString strCaption;
        strCaption.Format(L"Starting %s...", AfxGetAppName());
        m_dlgLog.SetWindowText(strCaption);
        m_dlgLog.ShowWindow(SW_SHOW);
        TRACE("Created log viewer popup: hwnd=0x%x at tlbr={%ld, %ld, %ld, %ld}\n", TraceValue(m_dlgLog.m_hWnd),
              rc.top, rc.left, rc.bottom, rc.right);
    } else {
        TRACE("Failed to create log viewer popup on thread: 0x%x\n", TraceValue(m_hThread));
    }

    CString strLine;
    DWORD dwProcessId = ::GetCurrentProcessId();
    strLine.Format(L"Current Process ID: %lu (0x%x)", dwProcessId, dwProcessId);
    WriteLine(strLine);

    // Zero-filled, so a failed query logs an empty name and bias 0.
    TIME_ZONE_INFORMATION tzi = {};
    DWORD dwZone = ::GetTimeZoneInformation(&tzi);
    strLine.Format(L"Current Time Zone: %s (Bias = %+05ld minutes)",
                   dwZone == TIME_ZONE_ID_DAYLIGHT ? tzi.DaylightName : tzi.StandardName, tzi.Bias);
    WriteLine(strLine);

    // Drains what no request brings, also inside modal loops, which
    // dispatch a thread timer's messages.
    if (!m_loop.StartIdleTimer(&CAppLogThread::OnIdleTimer))
        TRACE("Failed to start the logging thread's idle timer\n");

    m_bInitialized = true;
    PostToThread(WM_LOGTHREAD_WRITE, 0, 0);
    m_evInitialized.SetEvent();
    return TRUE;
}

int CAppLogThread::ExitInstance()
{
    TRACE("CAppLogThread::ExitInstance() called\n");
    m_loop.StopIdleTimer();
    m_evInitialized.ResetEvent();
    m_bInitialized = false;
    CloseQueue();
    // The last drain: whatever was queued before the quit request, however
    // far behind the popup was, goes to the file. The popup is closing.
    m_popupFeed.Stop();
    Drain(false);
    if (m_dlgLog.m_hWnd)
        m_dlgLog.DestroyWindow();
    // With the queue closed no activation is posted any more: those still
    // on their way, through the mailbox or to the thread, are freed here.
    MSG msg;
    for (HWND hWndTo : { m_mailbox.m_hWnd.load(), HWND(-1) })
        while (hWndTo && ::PeekMessageW(&msg, hWndTo, WM_LOGTHREAD_ACTIVATE, WM_LOGTHREAD_ACTIVATE, PM_REMOVE))
            delete reinterpret_cast<MainWndActivateInfo*>(msg.lParam);
    m_mailbox.Destroy();
    m_fileSink.Close();
    {
        CSingleLock lock(&m_csQueue, TRUE);
        if (lock.IsLocked())
            m_queue.clear();
    }
    return CWinThread::ExitInstance();
}

BOOL CAppLogThread::PumpMessage()
{
    if (m_loop.IsQuitting()) {
        // Ended here even when a modal loop that ran at the quit request
        // swallowed its WM_QUIT; the exit code is the quit message's, 0.
        m_msgCur = MSG();
        m_msgCur.message = WM_QUIT;
        return FALSE;
    }
    return CWinThread::PumpMessage();
}

void CAppLogThread::Delete()
{
    if (m_failedStart.HasFailed()) {
        if (m_failedStart.ThreadLetsGo())   // the owner may still hold the object
            delete this;
    } else {
        CWinThread::Delete();
    }
}

void CAppLogThread::CloseQueue()
{
    CSingleLock lock(&m_csQueue, TRUE);
    m_ledger.m_bClosed = true;
}

bool CAppLogThread::IsQueueClosed()
{
    CSingleLock lock(&m_csQueue, TRUE);
    return m_ledger.m_bClosed;
}


void CAppLogThread::OnWriteLog(WPARAM, LPARAM) { Drain(true); }

void CALLBACK CAppLogThread::OnIdleTimer(HWND, UINT, UINT_PTR, DWORD)
{
    CWinThread* pCurrent = AfxGetThread();
    if (!pCurrent || !pCurrent->IsKindOf(RUNTIME_CLASS(CAppLogThread)))
        return;
    CAppLogThread* pThread = static_cast<CAppLogThread*>(pCurrent);
    // Nothing may leave a timer procedure.
    try {
        pThread->Drain(true);
        if (!pThread->m_loop.IsQuitting() && pThread->IsQueueClosed() && pThread->m_loop.IsQuitOverdue())
            pThread->OnQuitRequest(0, 0);
    } catch (...) {
    }
}

void CAppLogThread::Drain(bool bToPopup)
{
    // Out of memory costs lines, never the thread: the file's pieces count
    // what they lose, and the popup misses what it can't take.
    std::deque<LogEntry> entries;
    size_t nCost = 0;
    bool bClosed = false;
    try {
        if (TakeQueue(entries, nCost, bClosed)) {
            CTimestampFormatter stamps;   // one reading of the local offset for the whole drain
            // The file has every line, flushed, before the popup is given
            // any; once the quit request is on its way the popup gets none.
            WriteToFile(entries, stamps);
            bToPopup = bToPopup && !bClosed && m_dlgLog.m_hWnd;
            if (bToPopup) {
                CString strSlice;
                std::vector<int> entryStarts;
                const bool bOlderLeftOut = MakePopupSlice(entries, stamps, strSlice, entryStarts);
                m_popupFeed.Add(strSlice, entryStarts, bOlderLeftOut);
            }
        }
    } catch (const std::bad_alloc&) {
    }
    if (bClosed)
        m_popupFeed.Stop();
    else if (bToPopup)
        m_popupFeed.ApplyWhenDue();
    m_reaper.Free(entries, nCost);
}

bool CAppLogThread::TakeQueue(std::deque<LogEntry>& entries, size_t& nCost, bool& bClosed)
{
    CLogQueueLedger::Losses losses;
    {
        CSingleLock lock(&m_csQueue);
        if (!lock.Lock(INFINITE))
            return false;
        entries.swap(m_queue);
        losses = m_ledger.Take();
        bClosed = m_ledger.m_bClosed;
    }
    for (const LogEntry& entry : entries)
        nCost += CLogQueueLedger::CostOf(size_t(entry.m_strText.GetLength()));
    if (losses.Any()) {
        // The lost entries came after every one taken here.
        try {
            entries.push_back(LossesEntry(losses));
        } catch (const std::bad_alloc&) {
            CSingleLock lock(&m_csQueue, TRUE);
            m_ledger.GiveBack(losses);   // said by a later drain
        }
    }
    return !entries.empty();
}

void CAppLogThread::WriteToFile(const std::deque<LogEntry>& entries, CTimestampFormatter& stamps)
{
    if (m_fileLog.m_hFile == CFile::hFileNull)
        return;
    CString strPiece;   // keeps its room from piece to piece
    for (size_t iNext = 0; iNext < entries.size();) {
        const LogEntry& entry = entries[iNext];
        if (entry.m_strText.GetLength() >= kFileChunkChars && !HasNul(entry.m_strText)) {
            // A long entry is written from where it is, not copied.
            ++iNext;
            CString strHead;
            try {
                AppendLogLineHead(strHead, entry.m_ftTime, stamps);
            } catch (const std::bad_alloc&) {
                m_fileSink.Lost(1);
                continue;
            }
            static const CString strEnd(L"\n");
            m_fileSink.Write({ &strHead, &entry.m_strText, &strEnd }, 1, stamps);
            continue;
        }
        const int nEntries = MakeFilePiece(entries, iNext, stamps, strPiece);
        if (nEntries > 0)
            m_fileSink.Write({ &strPiece }, nEntries, stamps);
    }
}

int CAppLogThread::MakeFilePiece(const std::deque<LogEntry>& entries, size_t& iNext, CTimestampFormatter& stamps,
                                 CString& strPiece)
{
    strPiece.Empty();
    int nEntries = 0;
    for (; iNext < entries.size() && strPiece.GetLength() < kFileChunkChars; ++iNext) {
        const LogEntry& entry = entries[iNext];
        if (nEntries > 0 && entry.m_strText.GetLength() >= kFileChunkChars)
            break;   // written alone
        try {
            AppendLogLine(strPiece, entry.m_strText, entry.m_ftTime, stamps);
            ++nEntries;
        } catch (const std::bad_alloc&) {
            m_fileSink.Lost(1);   // no memory for its line
        }
    }
    return nEntries;
}

bool CAppLogThread::MakePopupSlice(const std::deque<LogEntry>& entries, CTimestampFormatter& stamps,
                                   CString& strSlice, std::vector<int>& entryStarts)
{
    // Whole entries, newest last, no more than the popup keeps, so no more
    // is made and copied.
    CLoggingDlg::CNewestEntries kept;
    size_t iFirst = entries.size();
    for (; iFirst > 0; --iFirst) {
        const CString& strText = entries[iFirst - 1].m_strText;
        const int nShown = CLoggingDlg::ShownEntryLength(strText);
        LPCWSTR psz = strText.GetString();
        const int nLineEnds = 1 + int(std::count(psz, psz + nShown, L'\n'));
        const int nChars = nShown + kLogLineExtraChars + nLineEnds + CLoggingDlg::kCutNoteMaxChars;
        if (!kept.Add(nChars, nLineEnds))   // CR LF line ends
            break;
    }
    entryStarts.reserve(entries.size() - iFirst);
    for (size_t i = iFirst; i < entries.size(); ++i) {
        entryStarts.push_back(strSlice.GetLength());
        const LogEntry& entry = entries[i];
        const int nShown = CLoggingDlg::ShownEntryLength(entry.m_strText);
        if (nShown == entry.m_strText.GetLength())
            AppendLogLine(strSlice, entry.m_strText, entry.m_ftTime, stamps);
        else
            AppendLogLine(strSlice, CLoggingDlg::CutEntryText(entry.m_strText, nShown), entry.m_ftTime, stamps);
    }
    return iFirst > 0;
}

void CAppLogThread::OnMainWndActivate(WPARAM, LPARAM lParam)
{
    MainWndActivateInfo* pInfo = reinterpret_cast<MainWndActivateInfo*>(lParam);
    if (!pInfo)
        return;
    if (m_dlgLog.m_hWnd && pInfo->nState != WA_INACTIVE && !pInfo->bMinimized)
        ::SetWindowPos(m_dlgLog.m_hWnd, pInfo->hWnd, 0, 0, 0, 0, kRestackFlags);
    delete pInfo;
}

void CAppLogThread::OnQuitRequest(WPARAM, LPARAM)
{
    m_popupFeed.Stop();   // no popup work from here on: the file's last lines come first
    // A modal loop running on this thread would hold it.
    m_loop.Quit();
}
