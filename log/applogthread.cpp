// The logging thread: start handshake, the per-run log file, the popup, the
// queue every thread writes into and the drain that empties it.
#include "applogthread.h"

#include <algorithm>
#include <new>

#include "timestamp.h"

namespace {

const int kPopupMaxWidth = 1280;
const int kPopupMaxHeight = 240;
const UINT kRestackFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
const DWORD kNotInitialized = 0xFFFFFFFF;
const UINT kLogOpenFlags = CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite;
const int kMaxLogFileNumber = 9999;   // "<name> (9999).log" is the last name tried
const int kFileChunkChars = 64 * 1024;  // lines for the file alone are handed over in pieces this big

// A handle's value as the trace shows it (32 bits, as the trace texts have it).
unsigned TraceValue(const void* p) { return unsigned(reinterpret_cast<UINT_PTR>(p)); }

// A failing file operation goes to the debug trace; the logging thread goes on.
void TraceFileError(LPCWSTR pszWhat, CFileException* e)
{
    TCHAR szError[512];
    e->GetErrorMessage(szError, _countof(szError));
    TRACE(L"%s log file failed: %s\n", pszWhat, szError);
    e->Delete();
}

// Appends the entry's log line: "[<stamp>]: <text>\n".
void AppendLogLine(CString& strLines, const CAppLogThread::LogEntry& entry, CTimestampFormatter& stamps)
{
    strLines += L'[';
    stamps.AppendDateTimeMs(strLines, entry.m_ftTime);
    strLines.Append(L"]: ", 3);
    strLines += entry.m_strText;
    strLines += L'\n';
}

} // namespace

BOOL CLogThreadWnd::Create()
{
    return CreateEx(0, AfxRegisterWndClass(0), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL);
}

LRESULT CLogThreadWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = 0;
    if (message >= WM_USER && m_pThread->DispatchToMap(message, wParam, lParam, &lResult))
        return lResult;
    return CWnd::WindowProc(message, wParam, lParam);
}

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
    : m_evInitialized(FALSE, TRUE, NULL, NULL), m_bInitialized(false), m_dlgLog(NULL), m_bQueueClosed(false),
      m_bDrainRequested(false), m_wndMailbox(this), m_hWndMailbox(NULL), m_bQuitRequested(false),
      m_bStartFailed(false), m_bOwnerLetGo(false), m_nLetGo(0)
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
        LetGo();
    }
    TRACE("CAppLogThread::CreateNewThread(...): Created new logging thread ID 0x%x (handle = 0x%x).\n",
          m_nThreadID, TraceValue(m_hThread));
    if (!bWaitForInit || m_bInitialized || !bStarted)
        return;

    // A failed start ends the thread without the handshake: its end ends the
    // wait too (code 1), so the owner never waits for nothing. After a failed
    // start the thread leaves the object to its owner, so the handle stays.
    TRACE("CAppLogThread::CreateNewThread(...): Waiting for thread ID 0x%x to initialize...\n", m_nThreadID);
    const HANDLE handles[] = { m_evInitialized, m_hThread };
    DWORD dwCode;
    do
        dwCode = ::WaitForMultipleObjectsEx(2, handles, FALSE, dwTimeout, TRUE);
    while (dwCode == WAIT_IO_COMPLETION);
    TRACE("CAppLogThread::CreateNewThread(...): WaitForSingleObjectEx for thread ID 0x%x returned code %lu (0x%x)...\n",
          m_nThreadID, dwCode, dwCode);
}

DWORD CAppLogThread::ShutdownInstance(bool bWait, DWORD dwTimeout)
{
    if (!m_bInitialized) {
        // Nothing to stop. After a failed start this is the owner letting go.
        if (m_bAutoDelete && !m_bOwnerLetGo.exchange(true))
            LetGo();   // may delete this object
        return kNotInitialized;
    }

    DWORD dwResult = 0;
    DWORD nThreadID = m_nThreadID;
    // A copy of the handle, not the handle: a self-deleting object closes
    // its own as soon as the thread has ended.
    HANDLE hThread = NULL;
    if (bWait)
        ::DuplicateHandle(::GetCurrentProcess(), m_hThread, ::GetCurrentProcess(), &hThread,
                          SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
    try {
        TRACE("CAppLogThread::ShutdownInstance(): Posting quit message to thread ID 0x%x...\n", nThreadID);
        CloseQueue();
        // Through the mailbox, so a modal loop on the thread can't lose it.
        if (!PostToThread(WM_LOGTHREAD_QUIT, 0, 0))
            ::PostThreadMessageW(nThreadID, WM_QUIT, 0, 0);
        if (bWait) {
            TRACE("CAppLogThread::ShutdownInstance(): Waiting for thread ID 0x%x to exit..\n", nThreadID);
            DWORD dwCode;
            do
                dwCode = ::WaitForSingleObjectEx(hThread, dwTimeout, TRUE);
            while (dwCode == WAIT_IO_COMPLETION);
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

void CAppLogThread::WriteLine(const CString& text)
{
    try {
        WriteLine(LogEntry(text));
    } catch (const std::bad_alloc&) {
        // No memory for the entry: the line is lost, the caller goes on.
    }
}

void CAppLogThread::WriteLine(const LogEntry& entry)
{
    TRACE("CAppLogThread::WriteLine(...) called\n");
    bool bRequest;
    {
        CSingleLock lock(&m_csQueue);
        if (!lock.Lock(INFINITE))
            return;
        if (m_bQueueClosed)
            return;   // no drain will come for it
        try {
            m_queue.push_back(entry);
        } catch (const std::bad_alloc&) {
            return;
        }
        bRequest = !m_bDrainRequested;
        m_bDrainRequested = true;
    }
    // Until the thread is initialised, the drain its start requests takes the entry.
    if (bRequest && m_bInitialized && !PostToThread(WM_LOGTHREAD_WRITE, 0, 0)) {
        // No request went out: the next line asks again.
        CSingleLock lock(&m_csQueue, TRUE);
        m_bDrainRequested = false;
    }
}

BOOL CAppLogThread::NotifyActivate(CWnd* pWnd, UINT nState, CWnd* pWndOther, BOOL bMinimized)
{
    MainWndActivateInfo* pInfo = new (std::nothrow) MainWndActivateInfo{
        pWnd ? pWnd->m_hWnd : NULL, nState, pWndOther ? pWndOther->m_hWnd : NULL, bMinimized };
    if (!pInfo)
        return FALSE;
    BOOL bPosted = PostToThread(WM_LOGTHREAD_ACTIVATE, 0, reinterpret_cast<LPARAM>(pInfo));
    if (!bPosted)
        delete pInfo;   // no handler will ever see it
    return bPosted;
}

BOOL CAppLogThread::PostToThread(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND hWndMailbox = m_hWndMailbox;
    if (hWndMailbox)
        return ::PostMessageW(hWndMailbox, message, wParam, lParam);
    return PostThreadMessage(message, wParam, lParam);
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
    if (m_wndMailbox.Create())
        m_hWndMailbox = m_wndMailbox.m_hWnd;
    else
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
        ::MessageBoxW(NULL, strText, strCaption, MB_ICONERROR);
        m_bStartFailed = true;
        return FALSE;
    }

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

    m_bInitialized = true;
    PostThreadMessage(WM_LOGTHREAD_WRITE, 0, 0);
    m_evInitialized.SetEvent();
    return TRUE;
}

int CAppLogThread::ExitInstance()
{
    TRACE("CAppLogThread::ExitInstance() called\n");
    m_evInitialized.ResetEvent();
    m_bInitialized = false;
    CloseQueue();
    // The last drain: whatever was queued before the quit request, however
    // far behind the popup was, goes to the file. The popup is closing.
    Drain(false);
    if (m_dlgLog.m_hWnd)
        m_dlgLog.DestroyWindow();
    if (m_wndMailbox.m_hWnd) {
        // Records still on their way would go with the mailbox, unfreed.
        MSG msg;
        while (::PeekMessageW(&msg, m_wndMailbox.m_hWnd, WM_LOGTHREAD_ACTIVATE, WM_LOGTHREAD_ACTIVATE, PM_REMOVE))
            delete reinterpret_cast<MainWndActivateInfo*>(msg.lParam);
        m_wndMailbox.DestroyWindow();
    }
    if (m_fileLog.m_hFile != CFile::hFileNull) {
        try {
            m_fileLog.Close();
        } catch (CFileException* e) {
            TraceFileError(L"Closing", e);
        }
    }
    {
        CSingleLock lock(&m_csQueue, TRUE);
        if (lock.IsLocked())
            m_queue.clear();
    }
    return CWinThread::ExitInstance();
}

BOOL CAppLogThread::PumpMessage()
{
    if (m_bQuitRequested) {
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
    if (m_bStartFailed)
        LetGo();   // the owner may still hold the object
    else
        CWinThread::Delete();
}

void CAppLogThread::CloseQueue()
{
    CSingleLock lock(&m_csQueue, TRUE);
    m_bQueueClosed = true;
}

void CAppLogThread::LetGo()
{
    if (m_nLetGo.fetch_add(1) == 1)
        delete this;
}

void CAppLogThread::OnWriteLog(WPARAM, LPARAM) { Drain(true); }

void CAppLogThread::Drain(bool bToPopup)
{
    std::deque<LogEntry> pending;
    {
        CSingleLock lock(&m_csQueue);
        if (!lock.Lock(INFINITE))
            return;
        pending.swap(m_queue);
        m_bDrainRequested = false;
    }
    if (pending.empty())
        return;

    // The file gets every line, flushed, before the popup gets any, so a
    // slow popup can't hold back the file. Of a long drain the popup could
    // keep only the newest lines: the older ones are made for the file alone.
    const bool bPopup = bToPopup && m_dlgLog.m_hWnd;
    const size_t nPopupFrom =
        !bPopup ? pending.size() : pending.size() - std::min(pending.size(), size_t(CLoggingDlg::kMaxLines));
    CTimestampFormatter stamps;   // one reading of the local offset for the whole drain
    CString strLines;
    try {
        for (size_t i = 0; i < pending.size(); ++i) {
            if (i == nPopupFrom || (i < nPopupFrom && strLines.GetLength() >= kFileChunkChars)) {
                WriteToFile(strLines);
                strLines.Empty();
            }
            AppendLogLine(strLines, pending[i], stamps);
        }
    } catch (const std::bad_alloc&) {
        // Out of memory: the lines made so far are still written.
    }
    pending.clear();
    WriteToFile(strLines);
    if (m_fileLog.m_hFile != CFile::hFileNull) {
        try {
            m_fileLog.Flush();
        } catch (CFileException* e) {
            TraceFileError(L"Flushing", e);
        }
    }
    if (bPopup && !strLines.IsEmpty())
        m_dlgLog.AppendText(strLines);
}

void CAppLogThread::WriteToFile(const CString& strText)
{
    // A failing write costs the bytes it held; the next one is tried again.
    if (strText.IsEmpty() || m_fileLog.m_hFile == CFile::hFileNull)
        return;
    try {
        m_fileLog.WriteString(strText);
    } catch (CFileException* e) {
        TraceFileError(L"Writing", e);
    }
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
    m_bQuitRequested = true;
    // A modal loop running on this thread would hold it: a menu or a mouse
    // capture (moving, sizing, scrolling) ends now; a message box ends on
    // the WM_QUIT. PumpMessage ends the thread's own loop.
    ::EndMenu();
    if (HWND hWndCapture = ::GetCapture())
        ::SendMessageW(hWndCapture, WM_CANCELMODE, 0, 0);
    ::PostQuitMessage(0);
}
