// The logging thread as the application uses it: the start handshake, the
// header lines, many writers at once, the quit request, ShutdownInstance's
// results, restacking the popup and where the popup goes.
#include "logthreadtestsupport.h"

#include <thread>

namespace {

std::vector<std::string> Messages(const std::vector<std::string>& lines)
{
    std::vector<std::string> messages;
    for (const std::string& line : lines) {
        std::string message;
        EXPECT_TRUE(SplitLogLine(line, message)) << line;
        messages.push_back(message);
    }
    return messages;
}

std::string Narrow(const CString& s) { return std::string(CStringA(s).GetString()); }

} // namespace

TEST(LogPopupPlacement, BottomRightCornerOfTheWorkAreaAtMost1280By240)
{
    EXPECT_EQ(CRect(640, 800, 1920, 1040), LogPopupRect(CRect(0, 0, 1920, 1040)));
    EXPECT_EQ(CRect(0, 488, 1024, 728), LogPopupRect(CRect(0, 0, 1024, 728)));
    // A work area that doesn't start at the origin (task bar on the left or top).
    EXPECT_EQ(CRect(1700, 1000, 2980, 1240), LogPopupRect(CRect(100, 40, 2980, 1240)));
    // Smaller than the maximum: exactly the work area's width or height.
    EXPECT_EQ(CRect(50, 60, 250, 260), LogPopupRect(CRect(50, 60, 250, 260)));
    // No work area: the zero rectangle.
    EXPECT_EQ(CRect(0, 0, 0, 0), LogPopupRect(CRect()));
}

TEST_F(LogThreadTest, StartWithWaitReturnsAfterTheHeaderLinesAreQueued)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(p->m_evInitialized, 0));

    // The wait ended with its success code only after the thread had made
    // the first header and queued all three.
    int iReturned = TraceIndexOf("WaitForSingleObjectEx for thread ID");
    ASSERT_GE(iReturned, 0);
    EXPECT_NE(std::string::npos, Traces()[iReturned].find("returned code 0 (0x0)...\n"));
    int iCreated = TraceIndexOf("Created log file: ");
    ASSERT_GE(iCreated, 0);
    EXPECT_LT(iCreated, iReturned);
    int nQueued = 0;
    for (int i = TraceIndexOf("CAppLogThread::WriteLine(...) called\n", iCreated); i >= 0 && i < iReturned;
         i = TraceIndexOf("CAppLogThread::WriteLine(...) called\n", i + 1))
        ++nQueued;
    EXPECT_EQ(3, nQueued);

    // The popup: placed in the work area's corner, shown, with its run caption.
    HWND hPopup = p->m_dlgLog.m_hWnd;
    ASSERT_NE(nullptr, hPopup);
    EXPECT_TRUE(::IsWindowVisible(hPopup));
    CRect rcWork, rcPopup;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    ::GetWindowRect(hPopup, &rcPopup);
    EXPECT_EQ(LogPopupRect(rcWork), rcPopup);
    WCHAR szCaption[256];
    ::GetWindowTextW(hPopup, szCaption, 256);
    EXPECT_STREQ(L"Starting Dorsa Vantix Viewer...", szCaption);

    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    CString strName = p->m_strLogFileName;
    delete p;

    // The run's file: named after the application and the start time, in the
    // working directory, its first lines the three headers in order.
    std::vector<CString> files = LogFiles();
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ(strName, files[0]);
    EXPECT_EQ(0, files[0].Find(L"Dorsa Vantix Viewer 2"));
    std::vector<std::string> messages = Messages(ReadLines(files[0]));
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ("Created log file: " + Narrow(m_strDir + L"\\" + files[0]), messages[0]);
    DWORD dwPid = ::GetCurrentProcessId();
    EXPECT_EQ("Current Process ID: " + std::to_string(dwPid) + " (0x" + Narrow([&] {
                  CString s;
                  s.Format(L"%x", dwPid);
                  return s;
              }()) + ")",
              messages[1]);
    // The zone of the test's environment: one hour ahead of UTC, no daylight saving.
    TIME_ZONE_INFORMATION tzi = {};
    ::GetTimeZoneInformation(&tzi);
    EXPECT_EQ("Current Time Zone: " + Narrow(tzi.StandardName) + " (Bias = -0060 minutes)", messages[2]);
}

TEST_F(LogThreadTest, StartWithoutWaitReturnsAtOnce)
{
    CProbeLogThread* p = CProbeLogThread::Start(false, INFINITE, false);
    EXPECT_TRUE(TraceHas("CAppLogThread::CreateNewThread(...): Created new logging thread ID 0x"));
    EXPECT_FALSE(TraceHas("Waiting for thread ID"));
    EXPECT_FALSE(TraceHas("WaitForSingleObjectEx"));
    // It still initialises on its own.
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(p->m_evInitialized, 20000));
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;
}

TEST_F(LogThreadTest, ManyThreadsWritingAtOnceLoseNothingAndKeepEachThreadsOrder)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    // Hidden: a shown popup repaints for every line, slowly under a virtual display.
    ::ShowWindow(p->m_dlgLog.m_hWnd, SW_HIDE);
    const int kThreads = 4, kLines = 250;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([p, t] {
            for (int i = 0; i < kLines; ++i) {
                CString s;
                s.Format(L"writer %d line %d", t, i);
                p->WriteLine(s);
            }
        });
    for (std::thread& w : writers)
        w.join();
    // Everything was queued before the quit request, so everything is written.
    EXPECT_EQ(0u, p->ShutdownInstance(true, 60000));
    delete p;

    std::vector<CString> files = LogFiles();
    ASSERT_EQ(1u, files.size());
    std::vector<std::string> messages = Messages(ReadLines(files[0]));
    ASSERT_EQ(size_t(3 + kThreads * kLines), messages.size());
    std::vector<int> next(kThreads, 0);
    for (size_t i = 3; i < messages.size(); ++i) {
        int t = -1, n = -1;
        ASSERT_EQ(2, sscanf(messages[i].c_str(), "writer %d line %d", &t, &n)) << messages[i];
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(next[t], n) << "thread " << t;
        next[t] = n + 1;
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(kLines, next[t]);
}

TEST_F(LogThreadTest, LinesBeforeTheQuitRequestAreWrittenALineAfterItNever)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    HANDLE hThread = p->DuplicateThreadHandle();
    ASSERT_NE(nullptr, hThread);
    for (int i = 0; i < 20; ++i) {
        CString s;
        s.Format(L"before %d", i);
        p->WriteLine(s);
    }
    EXPECT_EQ(0u, p->ShutdownInstance(false, INFINITE));
    EXPECT_TRUE(TraceHas("CAppLogThread::ShutdownInstance(): Posting quit message to thread ID 0x"));
    EXPECT_FALSE(TraceHas("to exit.."));
    p->WriteLine(CString(L"after the quit request"));
    {
        // Dropped at once, not kept (what is still queued came before the request).
        CSingleLock lock(&p->m_csQueue, TRUE);
        for (const CAppLogThread::LogEntry& entry : p->m_queue)
            EXPECT_EQ(-1, entry.m_strText.Find(L"after"));
    }
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 20000));
    ::CloseHandle(hThread);
    delete p;

    std::vector<std::string> messages = Messages(ReadLines(LogFiles().at(0)));
    ASSERT_EQ(23u, messages.size());
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ("before " + std::to_string(i), messages[3 + i]);
}

TEST_F(LogThreadTest, TheApplicationsWayEndsTheThreadAndTheObjectDeletesItself)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 3000, true);
    HANDLE hDeleted = ::CreateEventW(NULL, TRUE, FALSE, NULL);
    p->m_hDeleted = hDeleted;
    HANDLE hThread = p->DuplicateThreadHandle();
    p->WriteLine(CString(L"Main window closed with response id: 1 (0x1)"));
    p->m_bAutoDelete = TRUE;
    EXPECT_EQ(0u, p->ShutdownInstance(false, INFINITE));
    p = NULL;   // the owner lets go

    // The application's way to wait for the end; the deadline only bounds
    // how long a failing test takes.
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 120000));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hDeleted, 0));
    ::CloseHandle(hThread);
    ::CloseHandle(hDeleted);
    EXPECT_TRUE(TraceHas("CAppLogThread::ExitInstance() called\n"));
    std::vector<std::string> messages = Messages(ReadLines(LogFiles().at(0)));
    ASSERT_EQ(4u, messages.size());
    EXPECT_EQ("Main window closed with response id: 1 (0x1)", messages[3]);
}

TEST_F(LogThreadTest, ShutdownResults)
{
    // Never started: not initialised, nothing posted or traced.
    CProbeLogThread* pIdle = new CProbeLogThread;
    pIdle->m_bAutoDelete = FALSE;
    EXPECT_EQ(0xFFFFFFFFu, pIdle->ShutdownInstance(true, INFINITE));
    EXPECT_FALSE(TraceHas("ShutdownInstance"));
    delete pIdle;

    // Waited for: the thread's exit code.
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    p->m_nExitCode = 42;
    EXPECT_EQ(42u, p->ShutdownInstance(true, 20000));
    EXPECT_TRUE(TraceHas("to exit..\n"));
    EXPECT_TRUE(TraceHas("returned code 0.\n"));
    EXPECT_TRUE(TraceHas("returned code 1 and exit code 42.\n"));
    // Ended: not initialised any more.
    EXPECT_EQ(0xFFFFFFFFu, p->ShutdownInstance(true, 20000));
    delete p;

    // A wait that times out: 0. The thread is held in a drain by the queue's lock.
    p = CProbeLogThread::Start(true, 20000, false);
    p->m_nExitCode = 42;
    HANDLE hThread = p->DuplicateThreadHandle();
    {
        CSingleLock lock(&p->m_csQueue, TRUE);
        p->WriteLine(CString(L"held"));
        EXPECT_EQ(0u, p->ShutdownInstance(true, 200));
        EXPECT_TRUE(TraceHas("returned code 258.\n"));
    }
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 20000));
    DWORD dwExit = 0;
    ::GetExitCodeThread(hThread, &dwExit);
    EXPECT_EQ(42u, dwExit);
    ::CloseHandle(hThread);
    delete p;
}

TEST_F(LogThreadTest, ActivationKeepsThePopupDirectlyBehindTheMainWindow)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    HWND hPopup = p->m_dlgLog.m_hWnd;
    ASSERT_NE(nullptr, hPopup);
    HWND hMain = ::CreateWindowExW(0, L"STATIC", L"Main window", WS_POPUP | WS_CAPTION | WS_VISIBLE, 100, 100, 400,
                                   300, NULL, NULL, NULL, NULL);
    ASSERT_NE(nullptr, hMain);
    CWnd wndMain;
    wndMain.Attach(hMain);

    ::ShowWindow(hPopup, SW_HIDE);
    // No record: nothing happens (and nothing breaks).
    ASSERT_TRUE(p->PostThreadMessage(WM_LOGTHREAD_ACTIVATE, 0, 0));
    ASSERT_TRUE(p->Sync());
    EXPECT_FALSE(::IsWindowVisible(hPopup));
    // Deactivation, and activation while minimised, leave the popup alone.
    EXPECT_TRUE(p->NotifyActivate(&wndMain, WA_INACTIVE, NULL, FALSE));
    EXPECT_TRUE(p->NotifyActivate(&wndMain, WA_ACTIVE, NULL, TRUE));
    ASSERT_TRUE(p->Sync());
    EXPECT_FALSE(::IsWindowVisible(hPopup));

    // Activation: shown again, directly behind the main window, not active.
    EXPECT_TRUE(p->NotifyActivate(&wndMain, WA_CLICKACTIVE, NULL, FALSE));
    ASSERT_TRUE(p->Sync());
    EXPECT_TRUE(::IsWindowVisible(hPopup));
    EXPECT_EQ(hPopup, ::GetWindow(hMain, GW_HWNDNEXT));
    EXPECT_NE(hPopup, ::GetForegroundWindow());

    // The user closes the popup (the dialog manager posts itself the cancel
    // command); the next activation brings it back.
    ::PostMessageW(hPopup, WM_CLOSE, 0, 0);
    for (int i = 0; i < 100 && ::IsWindowVisible(hPopup); ++i)
        ASSERT_TRUE(p->Sync());
    EXPECT_FALSE(::IsWindowVisible(hPopup));
    EXPECT_TRUE(p->NotifyActivate(&wndMain, WA_ACTIVE, NULL, FALSE));
    ASSERT_TRUE(p->Sync());
    EXPECT_TRUE(::IsWindowVisible(hPopup));
    EXPECT_EQ(hPopup, ::GetWindow(hMain, GW_HWNDNEXT));

    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    EXPECT_FALSE(::IsWindow(hPopup));   // destroyed by the thread's end
    delete p;
    wndMain.Detach();
    ::DestroyWindow(hMain);
}
