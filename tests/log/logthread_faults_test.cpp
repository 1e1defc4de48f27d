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

    // The start gave up waiting while the box is still up.
    EXPECT_TRUE(TraceHas("returned code 258 (0x102)...\n"));
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

TEST_F(LogThreadTest, AFailedStartEndsTheOwnersWaitAsSoonAsTheBoxIsDismissed)
{
    BlockLogNamesWithDirectories();
    BoxWatcher watcher;
    CProbeLogThread* p = NULL;
    HANDLE hReturned = NewEvent();
    // An unbounded wait: before, only the handshake could end it.
    std::thread starter([&] {
        p = CProbeLogThread::Start(true, INFINITE, false);
        ::SetEvent(hReturned);
    });
    ASSERT_TRUE(watcher.WaitFound());
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(hReturned, 0));
    watcher.Dismiss();
    if (::WaitForSingleObject(hReturned, 20000) != WAIT_OBJECT_0) {
        starter.detach();
        FAIL() << "the start still waits after its thread has ended";
    }
    starter.join();
    ::CloseHandle(hReturned);
    EXPECT_TRUE(TraceHas("returned code 1 (0x1)...\n"));
    delete p;   // no auto-delete: the owner's to delete once the thread has ended
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
    ASSERT_TRUE(p->Sync());
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

TEST_F(LogThreadTest, FailingWritesAreTracedThePopupGoesOnAndLaterLinesAreWritten)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    ASSERT_TRUE(p->Sync());   // the headers are written
    ASSERT_TRUE(p->PostThreadMessage(WM_PROBE_FILE_MODE, 1, 0));
    p->WriteLine(CString(L"lost to the file"));
    ASSERT_TRUE(p->Sync());
    EXPECT_TRUE(TraceHas("Flushing log file failed: "));
    ASSERT_TRUE(p->PostThreadMessage(WM_PROBE_FILE_MODE, 0, 0));
    p->WriteLine(CString(L"written again"));
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));   // the thread kept running

    std::vector<std::string> lines = ReadLines(LogFiles().at(0));
    ASSERT_EQ(4u, lines.size());
    std::string message;
    ASSERT_TRUE(SplitLogLine(lines[3], message));
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
