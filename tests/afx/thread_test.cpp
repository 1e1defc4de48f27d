// CWinThread and CWinApp: thread-message dispatch through the map, the exit
// code, deletion on the thread's own end, a failed start, the application's
// name; and the synchronisation objects.
#include <afxwin.h>
#include <afxmt.h>
#include <gtest/gtest.h>

#include "afxtestres.h"

#include <thread>
#include <vector>

namespace {

// How long a test thread may take to end: generous, as the emulated PC that
// runs the 32-bit build is many times slower than this machine.
const DWORD kThreadEndMs = 120000;

const UINT WM_TEST_RECORD = WM_APP + 1;
const UINT WM_TEST_QUIT = WM_APP + 2;

// Records what its message map receives, and signals its own deletion.
class CRecordingThread : public CWinThread
{
public:
    explicit CRecordingThread(BOOL bInitResult, HANDLE hDeleted)
        : m_bInitResult(bInitResult), m_hDeleted(hDeleted) {}
    ~CRecordingThread() override
    {
        *m_pDeletedOnThread = ::GetCurrentThreadId();
        ::SetEvent(m_hDeleted);
    }

    BOOL m_bInitResult;
    HANDLE m_hDeleted;
    DWORD* m_pDeletedOnThread = &s_dwDeletedOnThread;
    std::vector<std::pair<WPARAM, LPARAM>>* m_pSeen = &s_seen;
    int* m_pExitCalls = &s_nExitCalls;
    CWinThread** m_pCurrentOnThread = &s_pCurrent;

    static DWORD s_dwDeletedOnThread;
    static std::vector<std::pair<WPARAM, LPARAM>> s_seen;
    static int s_nExitCalls;
    static CWinThread* s_pCurrent;

    BOOL InitInstance() override
    {
        *m_pCurrentOnThread = AfxGetThread();
        return m_bInitResult;
    }
    int ExitInstance() override
    {
        ++*m_pExitCalls;
        return CWinThread::ExitInstance();
    }

protected:
    afx_msg void OnRecord(WPARAM wParam, LPARAM lParam) { m_pSeen->emplace_back(wParam, lParam); }
    afx_msg void OnTestQuit(WPARAM wParam, LPARAM) { ::PostQuitMessage(int(wParam)); }
    DECLARE_MESSAGE_MAP()
};

DWORD CRecordingThread::s_dwDeletedOnThread = 0;
std::vector<std::pair<WPARAM, LPARAM>> CRecordingThread::s_seen;
int CRecordingThread::s_nExitCalls = 0;
CWinThread* CRecordingThread::s_pCurrent = NULL;

BEGIN_MESSAGE_MAP(CRecordingThread, CWinThread)
    ON_THREAD_MESSAGE(WM_TEST_RECORD, &CRecordingThread::OnRecord)
    ON_THREAD_MESSAGE(WM_TEST_QUIT, &CRecordingThread::OnTestQuit)
END_MESSAGE_MAP()

class ThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_hDeleted = ::CreateEventW(NULL, TRUE, FALSE, NULL);
        CRecordingThread::s_dwDeletedOnThread = 0;
        CRecordingThread::s_seen.clear();
        CRecordingThread::s_nExitCalls = 0;
        CRecordingThread::s_pCurrent = NULL;
    }
    void TearDown() override { ::CloseHandle(m_hDeleted); }
    HANDLE m_hDeleted = NULL;
};

HANDLE Duplicate(HANDLE h)
{
    HANDLE hCopy = NULL;
    ::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &hCopy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return hCopy;
}

} // namespace

TEST_F(ThreadTest, ThreadMessagesReachTheMapInOrderAndQuitEndsTheLoop)
{
    CRecordingThread* pThread = new CRecordingThread(TRUE, m_hDeleted);
    ASSERT_TRUE(pThread->CreateThread());
    DWORD nThreadID = pThread->m_nThreadID;
    HANDLE hThread = Duplicate(pThread->m_hThread);
    // Posting works at once: the thread has its queue when CreateThread returns.
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(pThread->PostThreadMessage(WM_TEST_RECORD, i, i * 10));
    ASSERT_TRUE(pThread->PostThreadMessage(WM_TEST_QUIT, 7, 0));

    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, kThreadEndMs));
    DWORD dwExit = 0;
    ::GetExitCodeThread(hThread, &dwExit);
    ::CloseHandle(hThread);
    EXPECT_EQ(7u, dwExit);   // WM_QUIT's wParam, through ExitInstance
    EXPECT_EQ(1, CRecordingThread::s_nExitCalls);
    ASSERT_EQ(50u, CRecordingThread::s_seen.size());
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(WPARAM(i), CRecordingThread::s_seen[i].first);
        EXPECT_EQ(LPARAM(i * 10), CRecordingThread::s_seen[i].second);
    }
    // Deleted (auto-delete is the default) on its own thread, after ExitInstance.
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_hDeleted, 0));
    EXPECT_EQ(nThreadID, CRecordingThread::s_dwDeletedOnThread);
    EXPECT_EQ(static_cast<CWinThread*>(pThread), CRecordingThread::s_pCurrent);
}

TEST_F(ThreadTest, FailedInitInstanceGoesStraightToExitInstance)
{
    CRecordingThread* pThread = new CRecordingThread(FALSE, m_hDeleted);
    pThread->m_bAutoDelete = FALSE;
    ASSERT_TRUE(pThread->CreateThread());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pThread->m_hThread, kThreadEndMs));
    EXPECT_EQ(1, CRecordingThread::s_nExitCalls);
    // Without auto-delete the object outlives its thread.
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(m_hDeleted, 0));
    // A message to an ended thread can't be posted.
    EXPECT_FALSE(pThread->PostThreadMessage(WM_TEST_RECORD, 1, 1));
    EXPECT_TRUE(CRecordingThread::s_seen.empty());
    delete pThread;
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_hDeleted, 0));
}

namespace {
// Makes a dialog its main window, destroys it, and records what became of
// the pointer.
class CMainWindowThread : public CWinThread
{
public:
    bool m_bCreated = false;
    bool m_bClearedByDestroy = false;
    BOOL InitInstance() override
    {
        CDialog dlg(IDD_AFXTEST);
        m_bCreated = dlg.Create(IDD_AFXTEST) != FALSE;
        m_pMainWnd = &dlg;
        dlg.DestroyWindow();
        m_bClearedByDestroy = m_pMainWnd == NULL;
        return FALSE;
    }
};
} // namespace

TEST(ThreadMainWindow, DestroyingTheMainWindowClearsThePointer)
{
    CMainWindowThread* pThread = new CMainWindowThread;
    pThread->m_bAutoDelete = FALSE;
    ASSERT_TRUE(pThread->CreateThread());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pThread->m_hThread, kThreadEndMs));
    EXPECT_TRUE(pThread->m_bCreated);
    EXPECT_TRUE(pThread->m_bClearedByDestroy);
    delete pThread;
}

TEST_F(ThreadTest, SuspendedCreationIsRefused)
{
    CRecordingThread* pThread = new CRecordingThread(TRUE, m_hDeleted);
    EXPECT_FALSE(pThread->CreateThread(CREATE_SUSPENDED));
    EXPECT_EQ(nullptr, pThread->m_hThread);
    delete pThread;
}

TEST(Application, NameFromArgumentStringTableOrExecutable)
{
    // No application object yet: the executable's base name.
    EXPECT_EQ(nullptr, AfxGetApp());
    EXPECT_STREQ(L"afx_tests", AfxGetAppName());
    {
        CWinApp app(L"Named Test App");
        EXPECT_EQ(&app, AfxGetApp());
        EXPECT_EQ(static_cast<CWinThread*>(&app), AfxGetThread());
        EXPECT_STREQ(L"Named Test App", AfxGetAppName());
        app.SetRegistryKey(L"Some Key");
        EXPECT_STREQ(L"Some Key", app.m_pszRegistryKey);
    }
    {
        CWinApp app;   // string 57344 of the test program
        EXPECT_STREQ(L"Framework Test App", AfxGetAppName());
        LRESULT lResult = 1;
        EXPECT_TRUE(app.DispatchToMap(WM_COMMAND, ID_HELP, 0, &lResult));
    }
    EXPECT_EQ(nullptr, AfxGetApp());
    EXPECT_STREQ(L"afx_tests", AfxGetAppName());
}

TEST(SyncObjects, EventsAndScopedLocks)
{
    CEvent evManual(FALSE, TRUE);
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(evManual, 0));
    evManual.SetEvent();
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(evManual, 0));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(evManual, 0));   // stays signalled
    evManual.ResetEvent();
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(evManual, 0));

    CEvent evAuto(TRUE, FALSE);   // starts signalled, resets after one wait
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(evAuto, 0));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(evAuto, 0));

    CCriticalSection cs;
    {
        CSingleLock lock(&cs, TRUE);
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_TRUE(lock.Unlock());
        EXPECT_FALSE(lock.IsLocked());
        EXPECT_TRUE(lock.Lock());
    }
    // The scope released it: another thread can take it.
    bool bTaken = false;
    std::thread other([&] {
        bTaken = ::TryEnterCriticalSection(&cs.m_sect) != FALSE;
        if (bTaken)
            cs.Unlock();
    });
    other.join();
    EXPECT_TRUE(bTaken);
}
