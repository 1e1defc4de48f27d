// The logging thread's end as the application meets it: the file first,
// whatever the popup holds, and writers on other threads while it ends.
#include "logthreadtestsupport.h"

#include <atomic>
#include <cstring>
#include <new>
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

// The thread's object in pages of its own, taken away when it is deleted:
// whatever touches it after that faults at once.
class CGuardedWhenDeletedThread : public CProbeLogThread
{
public:
    // A writer still waiting for the lock would be the test's own fault:
    // the object goes once none waits or holds it.
    ~CGuardedWhenDeletedThread() override
    {
        WaitFor([this] { return m_csQueue.m_sect.LockCount == -1; }, 120000);
    }
    static void* operator new(size_t nSize)
    {
        void* p = ::VirtualAlloc(NULL, nSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (!p)
            throw std::bad_alloc();
        return p;
    }
    static void operator delete(void* p)
    {
        ::VirtualFree(p, 0, MEM_DECOMMIT);   // still reserved: nothing else comes to live there
        s_pDeleted = p;
    }
    // Once the thread has ended: waits for the deletion, then gives the
    // address back.
    static bool ReleaseDeleted()
    {
        if (!WaitFor([] { return s_pDeleted != NULL; }, 120000))
            return false;
        ::VirtualFree(s_pDeleted, 0, MEM_RELEASE);
        s_pDeleted = NULL;
        return true;
    }
    static std::atomic<void*> s_pDeleted;
};

std::atomic<void*> CGuardedWhenDeletedThread::s_pDeleted{ NULL };

// A writer that lets the queue's lock go stops right there until the test
// goes on: this program's import of LeaveCriticalSection is pointed at
// LeaveThenPause for as long as a CPauseAfterUnlock lives.
using PFN_LEAVE = VOID(WINAPI*)(LPCRITICAL_SECTION);
PFN_LEAVE g_pfnLeave = NULL;
thread_local LPCRITICAL_SECTION t_pPauseAfter = NULL;   // set by the writer that pauses
HANDLE g_hPaused = NULL;
HANDLE g_hGoOn = NULL;

VOID WINAPI LeaveThenPause(LPCRITICAL_SECTION pSection)
{
    g_pfnLeave(pSection);
    if (pSection == t_pPauseAfter) {
        t_pPauseAfter = NULL;
        ::SetEvent(g_hPaused);
        ::WaitForSingleObject(g_hGoOn, INFINITE);
    }
}

// The slot of this program's import table that holds kernel32's function
// of that name.
ULONG_PTR* ImportSlot(const char* pszFunction)
{
    BYTE* pBase = reinterpret_cast<BYTE*>(::GetModuleHandleW(NULL));
    const IMAGE_NT_HEADERS* pNt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + reinterpret_cast<IMAGE_DOS_HEADER*>(pBase)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* pDll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(pBase + imports.VirtualAddress); pDll->Name; ++pDll) {
        if (_stricmp(reinterpret_cast<const char*>(pBase + pDll->Name), "kernel32.dll"))
            continue;
        auto* pName = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pDll->OriginalFirstThunk);
        auto* pSlot = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pDll->FirstThunk);
        for (; pName->u1.AddressOfData; ++pName, ++pSlot) {
            if (IMAGE_SNAP_BY_ORDINAL(pName->u1.Ordinal))
                continue;
            auto* pByName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(pBase + pName->u1.AddressOfData);
            if (!strcmp(reinterpret_cast<const char*>(pByName->Name), pszFunction))
                return reinterpret_cast<ULONG_PTR*>(&pSlot->u1.Function);
        }
    }
    return NULL;
}

class CPauseAfterUnlock
{
public:
    CPauseAfterUnlock()
        : m_pSlot(ImportSlot("LeaveCriticalSection")), m_hPaused(::CreateEventW(NULL, TRUE, FALSE, NULL)),
          m_hGoOn(::CreateEventW(NULL, TRUE, FALSE, NULL))
    {
        g_hPaused = m_hPaused;
        g_hGoOn = m_hGoOn;
        if (m_pSlot)
            g_pfnLeave = reinterpret_cast<PFN_LEAVE>(Point(reinterpret_cast<ULONG_PTR>(&LeaveThenPause)));
    }
    ~CPauseAfterUnlock()
    {
        if (m_pSlot)
            Point(reinterpret_cast<ULONG_PTR>(g_pfnLeave));
        ::CloseHandle(m_hPaused);
        ::CloseHandle(m_hGoOn);
    }
    bool Ready() const { return m_pSlot && m_hPaused && m_hGoOn; }
    bool WaitPaused() const { return ::WaitForSingleObject(m_hPaused, 120000) == WAIT_OBJECT_0; }
    void GoOn() const { ::SetEvent(m_hGoOn); }

private:
    ULONG_PTR Point(ULONG_PTR to)
    {
        DWORD dwOld = 0;
        ::VirtualProtect(m_pSlot, sizeof *m_pSlot, PAGE_READWRITE, &dwOld);
        const ULONG_PTR from = *m_pSlot;
        *m_pSlot = to;
        ::VirtualProtect(m_pSlot, sizeof *m_pSlot, dwOld, &dwOld);
        return from;
    }
    ULONG_PTR* m_pSlot;
    HANDLE m_hPaused;
    HANDLE m_hGoOn;
};

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
    // over and over: none may touch the object once it is deleted.
    const int kRounds = 30, kWriters = 6;
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        CGuardedWhenDeletedThread* p = new CGuardedWhenDeletedThread;
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
        ASSERT_TRUE(CGuardedWhenDeletedThread::ReleaseDeleted()) << "round " << nRound;
    }
}

TEST_F(LogThreadTest, AWriterStoppedRightAfterLettingTheLockGoNeverTouchesTheObjectOnceItIsDeleted)
{
    // The writer has a drain to ask for: all it posts with was copied
    // under the lock.
    CPauseAfterUnlock pause;
    ASSERT_TRUE(pause.Ready());
    CGuardedWhenDeletedThread* p = new CGuardedWhenDeletedThread;
    p->CreateNewThread(true, 20000, true);
    HANDLE hThread = p->DuplicateThreadHandle();
    ASSERT_TRUE(p->Sync());   // no drain asked for: the writer asks
    std::thread writer([p] {
        t_pPauseAfter = &p->m_csQueue.m_sect;
        p->WriteLine(CString(L"a writer's line"));
    });
    ASSERT_TRUE(pause.WaitPaused());
    p->ShutdownInstance(false, INFINITE);   // the owner's last call
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 120000));
    ::CloseHandle(hThread);
    ASSERT_TRUE(WaitFor([] { return CGuardedWhenDeletedThread::s_pDeleted != NULL; }, 120000));
    pause.GoOn();
    writer.join();
    EXPECT_TRUE(CGuardedWhenDeletedThread::ReleaseDeleted());
}
