// The logging thread's end as the application meets it: the file first,
// whatever the popup holds, and writers on other threads while it ends.
#include "logthreadtestsupport.h"

#include <atomic>
#include <thread>

namespace {

CProbeLogThread* g_pEndingThread = NULL;
std::atomic<bool> g_bQuitPosted{ false };
std::atomic<int> g_nPopupChangesAfterQuit{ 0 };

// Counts the changes of the popup's text once the quit request is posted.
LRESULT CALLBACK CountPopupChanges(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && g_bQuitPosted && g_pEndingThread &&
        pMsg->hwnd == g_pEndingThread->m_dlgLog.m_editLog.m_hWnd &&
        (pMsg->message == WM_SETTEXT || pMsg->message == EM_REPLACESEL))
        ++g_nPopupChangesAfterQuit;
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}

// The thread's object stays readable once deleted, every pointer-sized
// field of it then naming g_hWitness: a writer that still reads the
// object's mailbox posts there.
HWND g_hWitness = NULL;

class CPoisonedWhenDeletedThread : public CProbeLogThread
{
public:
    // A writer still waiting for the lock would be the test's own fault:
    // the object goes once none waits or holds it.
    ~CPoisonedWhenDeletedThread() override
    {
        WaitFor([this] { return m_csQueue.m_sect.LockCount == -1; }, 120000);
    }
    static void operator delete(void* p, size_t nSize)
    {
        HWND* pFields = static_cast<HWND*>(p);
        for (size_t i = 0; i < nSize / sizeof(HWND); ++i)
            pFields[i] = g_hWitness;
        s_pDeleted = p;
    }
    static void* s_pDeleted;
};

void* CPoisonedWhenDeletedThread::s_pDeleted = NULL;

} // namespace

TEST_F(LogThreadTest, TheClosingLineReachesTheFileAndThePopupGetsNothingAfterTheQuitRequest)
{
    CProbeLogThread* p = new CProbeLogThread;
    p->m_pfnPopupHook = &CountPopupChanges;
    g_pEndingThread = p;
    g_bQuitPosted = false;
    g_nPopupChangesAfterQuit = 0;
    p->CreateNewThread(true, 20000, false);
    const CString strName = p->m_strLogFileName;
    // A popup as full as it gets, then an entry whose showing alone was a
    // refill of seconds: all queued before the quit request, as at exit.
    ASSERT_TRUE(p->Hold());
    for (int i = 0; i < CLoggingDlg::kMaxLines; ++i)
        p->WriteLine(CString(L"filler"));
    const int kLongEntry = 20 * 1000 * 1000;
    p->WriteLine(CString(L'x', kLongEntry));
    p->WriteLine(CString(L"Main window closed with response id: 2"));
    HANDLE hThread = p->DuplicateThreadHandle();
    EXPECT_EQ(0u, p->ShutdownInstance(false, INFINITE));
    g_bQuitPosted = true;
    p->Release();
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 300000));
    ::CloseHandle(hThread);
    g_pEndingThread = NULL;
    EXPECT_EQ(0, g_nPopupChangesAfterQuit.load());

    std::vector<std::string> lines = ReadLines(strName);
    ASSERT_EQ(size_t(3 + CLoggingDlg::kMaxLines + 2), lines.size());
    std::string message;
    ASSERT_TRUE(SplitLogLine(lines[lines.size() - 2], message));
    EXPECT_TRUE(message == std::string(kLongEntry, 'x'));
    ASSERT_TRUE(SplitLogLine(lines.back(), message));
    EXPECT_EQ("Main window closed with response id: 2", message);
    delete p;
}

TEST_F(LogThreadTest, WritersOnOtherThreadsWhileTheThreadEndsNeverTouchTheDeletedObject)
{
    // Writers already inside WriteLine when the owner lets the thread go,
    // over and over: none may read the object once it is deleted.
    g_hWitness = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_TRUE(g_hWitness != NULL);
    const int kRounds = 30, kWriters = 6;
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        CPoisonedWhenDeletedThread::s_pDeleted = NULL;
        CPoisonedWhenDeletedThread* p = new CPoisonedWhenDeletedThread;
        p->CreateNewThread(true, 20000, true);
        HANDLE hThread = p->DuplicateThreadHandle();
        std::vector<std::thread> writers;
        // The logging thread is held, so the lock's waiters are the writers
        // alone: each is inside WriteLine before the owner's last call.
        ASSERT_TRUE(p->Hold());
        {
            // The writers wait for the queue's lock, inside WriteLine.
            CSingleLock lock(&p->m_csQueue, TRUE);
            for (int i = 0; i < kWriters; ++i)
                writers.emplace_back([p] { p->WriteLine(CString(L"a writer's line")); });
            ASSERT_TRUE(WaitFor([p] { return p->m_csQueue.m_sect.LockCount >= kWriters; }, 120000));
            p->Release();
        }
        p->ShutdownInstance(false, INFINITE);   // the owner's last call
        for (std::thread& writer : writers)
            writer.join();
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 120000));
        ::CloseHandle(hThread);
        MSG msg;
        EXPECT_FALSE(::PeekMessageW(&msg, g_hWitness, 0, 0, PM_REMOVE)) << "round " << nRound;
        ASSERT_TRUE(CPoisonedWhenDeletedThread::s_pDeleted != NULL);
        CObject::operator delete(CPoisonedWhenDeletedThread::s_pDeleted);
    }
    ::DestroyWindow(g_hWitness);
    g_hWitness = NULL;
}
