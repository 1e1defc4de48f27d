// The logging thread where things go wrong: a log file that can't be opened
// (the error box, and the object's life after the failed start), characters
// the 8-bit file can't hold, failing writes, an activation that can't be
// posted, a slow popup, and an earlier run's file of the same name.
#include "logthreadtestsupport.h"

#include <atomic>
#include <new>
#include <thread>

// Allocations made and freed per thread, to see what a call leaves behind
// on its own thread.
static thread_local long t_nLiveAllocations = 0;

void* operator new(size_t n)
{
    void* p = malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    ++t_nLiveAllocations;
    return p;
}
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    void* p = malloc(n ? n : 1);
    if (p)
        ++t_nLiveAllocations;
    return p;
}
void operator delete(void* p) noexcept
{
    if (p) {
        --t_nLiveAllocations;
        free(p);
    }
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }

namespace {

std::string Narrow(const CString& s) { return std::string(CStringA(s).GetString()); }

// Makes every name a start within the next minute would compute a directory,
// so opening the log file fails for real.
void BlockLogNamesWithDirectories()
{
    for (const CString& strBase : LogBaseNamesAround())
        ASSERT_TRUE(::CreateDirectoryW(strBase + L".log", NULL));
}

// Finds the open-failure box from outside the logging thread, reads it and,
// once allowed, dismisses it.
class BoxWatcher
{
public:
    BoxWatcher()
    {
        m_hFound = ::CreateEventW(NULL, TRUE, FALSE, NULL);
        m_hDismiss = ::CreateEventW(NULL, TRUE, FALSE, NULL);
        m_thread = std::thread([this] { Watch(); });
    }
    ~BoxWatcher()
    {
        ::SetEvent(m_hDismiss);
        m_thread.join();
        ::CloseHandle(m_hFound);
        ::CloseHandle(m_hDismiss);
    }
    bool WaitFound() { return ::WaitForSingleObject(m_hFound, 20000) == WAIT_OBJECT_0; }
    void Dismiss() { ::SetEvent(m_hDismiss); }
    HWND m_hBox = NULL;
    CString m_strText;

private:
    void Watch()
    {
        for (int i = 0; i < 400 && !m_hBox; ++i) {
            m_hBox = ::FindWindowW(L"#32770", L"Dorsa Vantix Viewer: Error Opening Log File");
            if (!m_hBox)
                ::Sleep(50);
        }
        if (!m_hBox)
            return;
        WCHAR szText[1024] = L"";
        ::GetDlgItemTextW(m_hBox, 0xFFFF, szText, 1024);
        m_strText = szText;
        ::SetEvent(m_hFound);
        ::WaitForSingleObject(m_hDismiss, INFINITE);
        ::PostMessageW(m_hBox, WM_COMMAND, IDOK, 0);
    }
    HANDLE m_hFound, m_hDismiss;
    std::thread m_thread;
};

HANDLE NewEvent() { return ::CreateEventW(NULL, TRUE, FALSE, NULL); }

} // namespace

TEST_F(LogThreadTest, OpenFailureShowsTheBoxAndTheObjectOutlivesItsThread)
{
    BlockLogNamesWithDirectories();
    BoxWatcher watcher;
    CProbeLogThread* p = CProbeLogThread::Start(true, 1000, true);
    HANDLE hDeleted = NewEvent();
    p->m_hDeleted = hDeleted;

    // The start said it failed before its box went up.
    EXPECT_TRUE(TraceHas("returned code 1 (0x1)...\n"));
    ASSERT_TRUE(watcher.WaitFound());
    CString strName = p->m_strLogFileName;
    EXPECT_EQ(0, watcher.m_strText.Find(L"Error while opening file:\n" + strName + L"\n\n"));
    CString strDescription = watcher.m_strText.Mid(CString(L"Error while opening file:\n" + strName + L"\n\n").GetLength());
    EXPECT_FALSE(strDescription.IsEmpty());
    EXPECT_TRUE(TraceHas("Opening log failed: " + Narrow(strDescription) + "\n"));
    EXPECT_TRUE(TraceHas("Opening log file: \"" + Narrow(strName) + "\"...\n"));

    HANDLE hThread = p->DuplicateThreadHandle();
    watcher.Dismiss();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 20000));
    ::CloseHandle(hThread);

    // The thread has ended with auto-delete set, yet the owner still holds a
    // live object; what it queues now is dropped, not kept for no one.
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(hDeleted, 0));
    for (int i = 0; i < 100; ++i)
        p->WriteLine(CString(L"nobody will write this"));
    {
        CSingleLock lock(&p->m_csQueue, TRUE);
        EXPECT_TRUE(p->m_queue.empty());
    }
    EXPECT_EQ(nullptr, p->m_dlgLog.m_hWnd);
    EXPECT_TRUE(LogFiles().empty());

    // The owner's release deletes it, once.
    p->m_bAutoDelete = TRUE;
    EXPECT_EQ(0xFFFFFFFFu, p->ShutdownInstance(false, INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hDeleted, 0));
    EXPECT_FALSE(TraceHas("Posting quit message"));
    ::CloseHandle(hDeleted);
}

TEST_F(LogThreadTest, AFailedStartLetsItsOwnerGoOnWhileItsBoxIsUp)
{
    BlockLogNamesWithDirectories();
    BoxWatcher watcher;
    CProbeLogThread* p = NULL;
    HANDLE hReturned = NewEvent();
    // An unbounded wait: only the thread can end it.
    std::thread starter([&] {
        p = CProbeLogThread::Start(true, INFINITE, false);
        ::SetEvent(hReturned);
    });
    ASSERT_TRUE(watcher.WaitFound());
    // The box stays up for 10 s unless the owner goes on first.
    const bool bWentOn = ::WaitForSingleObject(hReturned, 10000) == WAIT_OBJECT_0;
    const bool bBoxStillUp = ::IsWindow(watcher.m_hBox) != FALSE;
    watcher.Dismiss();
    ::WaitForSingleObject(hReturned, INFINITE);
    starter.join();
    ::CloseHandle(hReturned);
    EXPECT_TRUE(bWentOn && bBoxStillUp) << "the owner waited for the box";
    EXPECT_TRUE(TraceHas("returned code 1 (0x1)...\n"));
    // No auto-delete: the owner's to delete once the thread has ended.
    HANDLE hThread = p->DuplicateThreadHandle();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 20000));
    ::CloseHandle(hThread);
    delete p;
}

TEST_F(LogThreadTest, OwnerLettingGoWhileTheBoxIsUpLeavesTheDeletionToTheThread)
{
    BlockLogNamesWithDirectories();
    BoxWatcher watcher;
    CProbeLogThread* p = CProbeLogThread::Start(true, 500, true);
    HANDLE hDeleted = NewEvent();
    p->m_hDeleted = hDeleted;
    ASSERT_TRUE(watcher.WaitFound());

    p->WriteLine(CString(L"queued while the box is up"));
    p->m_bAutoDelete = TRUE;
    EXPECT_EQ(0xFFFFFFFFu, p->ShutdownInstance(false, INFINITE));
    p = NULL;
    // The thread is still in the box: the object must live on.
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(hDeleted, 0));
    watcher.Dismiss();
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hDeleted, 20000));
    ::CloseHandle(hDeleted);
}

TEST_F(LogThreadTest, OddLinesAreWrittenWholeAndBeyondEightBitsAsQuestionMarksInTheFileOnly)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    const CString strText = L"caf\x00E9 \x0416\x0430 \xD83D\xDE00 end";
    p->WriteLine(strText);
    p->WriteLine(CString(L"two\nlines"));
    p->WriteLine(CString(L'x', 100000));
    p->WriteLine(CString());
    p->WriteLine(CString(L"still running"));
    ASSERT_TRUE(p->SyncPopup());
    EXPECT_TRUE(p->m_dlgLog.m_strLog == PopupText(p->m_dlgLog.m_hWnd));
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));

    std::string bytes = ReadBytes(LogFiles().at(0));
    EXPECT_NE(std::string::npos, bytes.find("]: caf\xE9 ?? ? end\r\n"));
    // One entry, one stamp, its line feed as CR LF.
    EXPECT_NE(std::string::npos, bytes.find("]: two\r\nlines\r\n"));
    // A long line is not split, an empty one is still a line.
    EXPECT_NE(std::string::npos, bytes.find("]: " + std::string(100000, 'x') + "\r\n["));
    EXPECT_NE(std::string::npos, bytes.find("]: \r\n["));
    EXPECT_NE(std::string::npos, bytes.find("]: still running\r\n"));
    // The popup shows the text as it was given.
    EXPECT_NE(-1, p->m_dlgLog.m_strLog.Find(L"]: " + strText + L"\r\n"));
    delete p;
}

TEST_F(LogThreadTest, ANulInAnEntryCostsNothingOfItsDrain)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    {
        // Held, so the three go out in one drain.
        CSingleLock lock(&p->m_csQueue, TRUE);
        p->WriteLine(CString(L"first"));
        p->WriteLine(CString(L"second\0tail", 11));
        p->WriteLine(CString(L"third"));
    }
    ASSERT_TRUE(p->SyncPopup());
    const CString& strLog = p->m_dlgLog.m_strLog;
    EXPECT_TRUE(strLog == PopupText(p->m_dlgLog.m_hWnd));
    EXPECT_NE(-1, strLog.Find(L"]: second\x00A4tail\r\n["));
    EXPECT_NE(-1, strLog.Find(L"]: third\r\n"));
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));

    std::string bytes = ReadBytes(LogFiles().at(0));
    EXPECT_NE(std::string::npos, bytes.find("]: first\r\n[")) << bytes;
    EXPECT_NE(std::string::npos, bytes.find("]: second\xA4tail\r\n[")) << bytes;
    EXPECT_NE(std::string::npos, bytes.find("]: third\r\n")) << bytes;
    delete p;
}

TEST_F(LogThreadTest, FailingWritesAreTracedThePopupGoesOnAndLaterLinesAreWritten)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    ASSERT_TRUE(p->Sync());   // the headers are written
    // Each change of the file is served before the next line: the idle
    // timer may drain a line ahead of its request.
    ASSERT_TRUE(p->PostThreadMessage(WM_PROBE_FILE_MODE, 1, 0));
    ASSERT_TRUE(p->Sync());
    p->WriteLine(CString(L"lost to the file"));
    ASSERT_TRUE(p->Sync());
    EXPECT_TRUE(TraceHas("Writing log file failed: "));
    ASSERT_TRUE(p->PostThreadMessage(WM_PROBE_FILE_MODE, 0, 0));
    ASSERT_TRUE(p->Sync());
    p->WriteLine(CString(L"written again"));
    ASSERT_TRUE(p->SyncPopup());
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));   // the thread kept running

    // The file says what it lacks.
    std::vector<std::string> lines = ReadLines(LogFiles().at(0));
    ASSERT_EQ(5u, lines.size());
    std::string message;
    ASSERT_TRUE(SplitLogLine(lines[3], message));
    EXPECT_EQ("1 log line could not be written to the file", message);
    ASSERT_TRUE(SplitLogLine(lines[4], message));
    EXPECT_EQ("written again", message);
    EXPECT_NE(-1, p->m_dlgLog.m_strLog.Find(L"]: lost to the file\r\n"));
    EXPECT_NE(-1, p->m_dlgLog.m_strLog.Find(L"]: written again\r\n"));
    delete p;
}

TEST_F(LogThreadTest, AnActivationThatCantBePostedIsFreed)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CWnd wnd;
    // Posted: the record leaves this thread with its message.
    long nBefore = t_nLiveAllocations;
    EXPECT_TRUE(p->NotifyActivate(&wnd, WA_INACTIVE, NULL, FALSE));
    EXPECT_EQ(nBefore + 1, t_nLiveAllocations);
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));

    // The thread has ended: posting fails and nothing is left behind.
    nBefore = t_nLiveAllocations;
    EXPECT_FALSE(p->NotifyActivate(&wnd, WA_ACTIVE, NULL, FALSE));
    EXPECT_EQ(nBefore, t_nLiveAllocations);
    delete p;
}

namespace {

// What the popup had been handed, and what the file held at that moment.
CProbeLogThread* g_pSlowPopupThread = NULL;
std::vector<size_t> g_batchLinesInFileAtAppend;
std::vector<size_t> g_batchLinesInAppend;

size_t CountOf(const std::string& bytes, const std::string& what)
{
    size_t n = 0;
    for (size_t pos = bytes.find(what); pos != std::string::npos; pos = bytes.find(what, pos + 1))
        ++n;
    return n;
}

LRESULT CALLBACK SlowPopupHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && g_pSlowPopupThread && pMsg->message == WM_USER && pMsg->lParam &&
        pMsg->hwnd == g_pSlowPopupThread->m_dlgLog.m_hWnd &&
        wcsstr(reinterpret_cast<LPCWSTR>(pMsg->lParam), L"batch line")) {
        g_batchLinesInFileAtAppend.push_back(
            CountOf(ReadBytes(g_pSlowPopupThread->m_strLogFileName), "batch line"));
        g_batchLinesInAppend.push_back(
            CountOf(std::string(CStringA(reinterpret_cast<LPCWSTR>(pMsg->lParam)).GetString()), "]: batch line"));
        ::Sleep(20);   // a slow popup
    }
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}

} // namespace

TEST_F(LogThreadTest, EveryLineOfADrainIsInTheFileBeforeThePopupGetsThemAllInOneAppend)
{
    g_batchLinesInFileAtAppend.clear();
    g_batchLinesInAppend.clear();
    CProbeLogThread* p = new CProbeLogThread;
    p->m_pfnPopupHook = &SlowPopupHook;
    g_pSlowPopupThread = p;
    p->CreateNewThread(true, 20000, false);
    const size_t kBatch = 30;
    {
        // Held, so the whole batch goes out in one drain.
        CSingleLock lock(&p->m_csQueue, TRUE);
        for (size_t i = 0; i < kBatch; ++i) {
            CString s;
            s.Format(L"batch line %u", unsigned(i));
            p->WriteLine(s);
        }
    }
    ASSERT_TRUE(p->SyncPopup());
    EXPECT_EQ(0u, p->ShutdownInstance(true, 60000));
    g_pSlowPopupThread = NULL;
    ASSERT_EQ(1u, g_batchLinesInFileAtAppend.size());
    EXPECT_EQ(kBatch, g_batchLinesInFileAtAppend[0]);
    EXPECT_EQ(kBatch, g_batchLinesInAppend[0]);
    delete p;
}

TEST_F(LogThreadTest, AnEarlierRunsFileIsNeverReusedTheFirstFreeNumberIsTaken)
{
    // Earlier runs within the same second: the plain name and "(2)" exist.
    std::vector<CString> bases = LogBaseNamesAround();
    for (const CString& strBase : bases) {
        for (LPCWSTR pszSuffix : { L".log", L" (2).log" }) {
            HANDLE h = ::CreateFileW(strBase + pszSuffix, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, h);
            DWORD n;
            ::WriteFile(h, "earlier run\r\n", 13, &n, NULL);
            ::CloseHandle(h);
        }
    }
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CString strName = p->m_strLogFileName;
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;

    EXPECT_EQ(strName.GetLength() - 8, strName.Find(L" (3).log")) << Narrow(strName);
    CString strBase = strName.Left(strName.GetLength() - 8);
    EXPECT_NE(bases.end(), std::find(bases.begin(), bases.end(), strBase));
    std::string message;
    std::vector<std::string> lines = ReadLines(strName);
    ASSERT_EQ(3u, lines.size());
    ASSERT_TRUE(SplitLogLine(lines[0], message));
    EXPECT_EQ("Created log file: " + Narrow(m_strDir + L"\\" + strName), message);
    for (const CString& strEarlier : bases) {
        EXPECT_EQ("earlier run\r\n", ReadBytes(strEarlier + L".log"));
        EXPECT_EQ("earlier run\r\n", ReadBytes(strEarlier + L" (2).log"));
    }
    EXPECT_FALSE(TraceHas("Opening log failed"));
}

TEST_F(LogThreadTest, ADrainRequestThatCantBePostedIsMadeUpForByTheThreadItself)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CString strName = p->m_strLogFileName;
    ASSERT_TRUE(p->Sync());
    // A mailbox that is gone: the line's drain request can't be posted, as
    // to a full message queue.
    HWND hGone = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ::DestroyWindow(hGone);
    const HWND hMailbox = p->m_mailbox.m_hWnd;
    p->m_mailbox.m_hWnd = hGone;
    p->WriteLine(CString(L"its request was never posted"));
    p->m_mailbox.m_hWnd = hMailbox;
    // No later line comes to ask again.
    EXPECT_TRUE(WaitFor(
        [&] { return ReadBytes(strName).find("]: its request was never posted\r\n") != std::string::npos; }, 20000));
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;
}

namespace {

std::atomic<int> g_nApcs(0);

void CALLBACK CountApc(ULONG_PTR) { ++g_nApcs; }

// APCs for the thread that makes it, one every 50 ms from another thread,
// until Stop() or for at most 30 s.
class ApcRain
{
public:
    ApcRain()
    {
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &m_hTarget, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
        g_nApcs = 0;
        m_thread = std::thread([this] {
            for (DWORD dwStart = ::GetTickCount(); !m_bStop; ::Sleep(50)) {
                if (::GetTickCount() - dwStart >= 30000) {
                    m_bGaveUp = true;
                    return;
                }
                ::QueueUserAPC(&CountApc, m_hTarget, 0);
            }
        });
    }
    ~ApcRain() { Stop(); }
    // False when it gave up first; runs the APCs still queued.
    bool Stop()
    {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::SleepEx(0, TRUE);
        ::CloseHandle(m_hTarget);
        m_hTarget = NULL;
        return !m_bGaveUp;
    }

private:
    HANDLE m_hTarget = NULL;
    std::atomic<bool> m_bStop{ false }, m_bGaveUp{ false };
    std::thread m_thread;
};

} // namespace

TEST_F(LogThreadTest, StartAndStopWaitsEndWithinTheirTimeOutWhateverAPCsArrive)
{
    // A start that doesn't finish, waited for 1 s while APCs keep coming.
    CProbeLogThread* p = new CProbeLogThread;
    p->m_bHoldStart = true;
    {
        ApcRain rain;
        p->CreateNewThread(true, 1000, false);
        EXPECT_TRUE(rain.Stop()) << "the start still waited after 30 s of APCs";
    }
    EXPECT_GT(g_nApcs, 0);
    EXPECT_TRUE(TraceHas("returned code 258 (0x102)...\n"));
    p->Release();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(p->m_evInitialized, 20000));

    // A stop whose thread is held, waited for 1 s the same way.
    HANDLE hThread = p->DuplicateThreadHandle();
    ASSERT_TRUE(p->Hold());
    {
        ApcRain rain;
        EXPECT_EQ(0u, p->ShutdownInstance(true, 1000));
        EXPECT_TRUE(rain.Stop()) << "the stop still waited after 30 s of APCs";
    }
    EXPECT_GT(g_nApcs, 0);
    EXPECT_TRUE(TraceHas("returned code 258.\n"));
    p->Release();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 20000));
    ::CloseHandle(hThread);
    delete p;
}

TEST_F(LogThreadTest, EntriesPastTheQueuesBoundAreDroppedAndCountedInTheLog)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CString strName = p->m_strLogFileName;
    ASSERT_TRUE(p->Sync());
    // The thread held, the writer outruns it: two entries more than fit.
    const int nLength = int(CAppLogThread::kMaxQueuedChars / 16);
    const int nFit = int(CAppLogThread::kMaxQueuedChars / (nLength + CAppLogThread::kQueuedEntryChars));
    ASSERT_TRUE(p->Hold());
    for (int i = 0; i < nFit + 2; ++i)
        p->WriteLine(CString(WCHAR(L'a' + i), nLength));
    p->Release();
    ASSERT_TRUE(p->Sync());
    p->WriteLine(CString(L"after the gap"));
    EXPECT_EQ(0u, p->ShutdownInstance(true, 60000));
    delete p;

    std::vector<std::string> lines = ReadLines(strName);
    ASSERT_EQ(size_t(3 + nFit + 2), lines.size());
    std::string message;
    for (int i = 0; i < nFit; ++i) {
        ASSERT_TRUE(SplitLogLine(lines[3 + i], message));
        EXPECT_TRUE(message == std::string(nLength, char('a' + i))) << "entry " << i;
    }
    ASSERT_TRUE(SplitLogLine(lines[3 + nFit], message));
    EXPECT_EQ("2 log lines were dropped because the log queue was full", message);
    ASSERT_TRUE(SplitLogLine(lines[4 + nFit], message));
    EXPECT_EQ("after the gap", message);
}

namespace {

// An activation made on the logging thread as its mailbox is destroyed.
HWND g_hEndingMailbox = NULL;
CProbeLogThread* g_pEndingThread = NULL;
bool g_bMailboxEndSeen = false;
BOOL g_bPostedAtTheEnd = FALSE;
long g_nLeftAtTheEnd = 0;

LRESULT CALLBACK ActivateAsTheMailboxGoes(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && pMsg->message == WM_DESTROY && g_hEndingMailbox && pMsg->hwnd == g_hEndingMailbox) {
        g_bMailboxEndSeen = true;
        CWnd wnd;
        const long nBefore = t_nLiveAllocations;
        g_bPostedAtTheEnd = g_pEndingThread->NotifyActivate(&wnd, WA_ACTIVE, NULL, FALSE);
        g_nLeftAtTheEnd = t_nLiveAllocations - nBefore;
    }
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}

} // namespace

TEST_F(LogThreadTest, NoActivationIsLeftInTheMailboxAsItGoesAndItsHandleIsCleared)
{
    CProbeLogThread* p = new CProbeLogThread;
    p->m_pfnPopupHook = &ActivateAsTheMailboxGoes;
    g_pEndingThread = p;
    p->CreateNewThread(true, 20000, false);
    g_hEndingMailbox = p->m_mailbox.m_hWnd;
    ASSERT_NE(nullptr, g_hEndingMailbox);
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    g_hEndingMailbox = NULL;
    ASSERT_TRUE(g_bMailboxEndSeen);
    // Posted then, it would never have been served, nor freed.
    EXPECT_FALSE(g_bPostedAtTheEnd);
    EXPECT_EQ(0, g_nLeftAtTheEnd);
    EXPECT_EQ(nullptr, p->m_mailbox.m_hWnd.load());
    delete p;
}

TEST_F(LogThreadInItsOwnProcess, AFullDiskLeavesOnlyWholeLinesAndTheFileSaysWhatItLacks)
{
    // Run under a file size limit (its CTest entry sets one under Wine): a
    // write that crosses it fails part way, as on a full disk, and a smaller
    // one after it fits, as when the disk has room again.
    const wchar_t* pszLimit = _wgetenv(L"DVV_FILE_SIZE_LIMIT_KB");
    const int nLimit = pszLimit ? _wtoi(pszLimit) * 1024 : 0;
    if (nLimit <= 0)
        GTEST_SKIP() << "needs a file size limit: DVV_FILE_SIZE_LIMIT_KB";
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CString strName = p->m_strLogFileName;
    ::ShowWindow(p->m_dlgLog.m_hWnd, SW_HIDE);
    std::vector<std::string> expected;
    // Lines up to about three quarters of the limit; then three lines, each
    // in a drain of its own, that can't fit.
    for (int i = 0; i < 10; ++i) {
        expected.push_back("before " + std::to_string(i) + " " + std::string(nLimit / 14, 'b'));
        p->WriteLine(CString(expected.back().c_str()));
        ASSERT_TRUE(p->Sync());
    }
    for (int i = 0; i < 3; ++i) {
        p->WriteLine(CString(L"lost ") + CString(L'x', nLimit / 2));
        ASSERT_TRUE(p->Sync());
    }
    p->WriteLine(CString(L"after the disk had room again"));
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;
    expected.push_back("3 log lines could not be written to the file");
    expected.push_back("after the disk had room again");

    // Every line whole, the gap said once, where it is.
    std::vector<std::string> lines = ReadLines(strName);
    ASSERT_EQ(3 + expected.size(), lines.size());
    std::string message;
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_TRUE(SplitLogLine(lines[i], message)) << "line " << i << " is torn: " << lines[i].substr(0, 80);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(SplitLogLine(lines[3 + i], message));
        EXPECT_TRUE(expected[i] == message) << "line " << 3 + i << ": " << message.substr(0, 80);
    }
    EXPECT_EQ("\r\n", ReadBytes(strName).substr(ReadBytes(strName).size() - 2));
    int nReported = 0;
    for (const std::string& trace : Traces())
        nReported += trace.find("Writing log file failed: ") == 0;
    EXPECT_EQ(1, nReported);
}
