// The logging thread as real use treats it: modal loops running on it, a
// quit request in the middle of a burst, lines queued before its start or
// left without a drain request, a main window object that is gone before
// its activation is served, and a long run that the popup must not keep.
#include "logthreadtestsupport.h"

#include <psapi.h>

#include <thread>

namespace {

std::string Narrow(const CString& s) { return std::string(CStringA(s).GetString()); }

bool FileHas(const CString& strName, const std::string& text)
{
    return ReadBytes(strName).find(text) != std::string::npos;
}

std::vector<std::string> MessagesAfterHeaders(const CString& strName)
{
    std::vector<std::string> lines = ReadLines(strName), messages;
    for (size_t i = 3; i < lines.size(); ++i) {
        std::string message;
        EXPECT_TRUE(SplitLogLine(lines[i], message)) << lines[i];
        messages.push_back(message);
    }
    return messages;
}

// A modal loop runs on the logging thread: lines are still drained while it
// runs, and the quit request still ends the thread; so too when the thread
// could not make its mailbox.
void CheckModalLoop(ProbeModalLoop loop, bool bRefuseMailbox = false)
{
    CProbeLogThread* p = new CProbeLogThread;
    p->m_bRefuseMailbox = bRefuseMailbox;
    p->CreateNewThread(true, 20000, false);
    CString strName = p->m_strLogFileName;
    ASSERT_EQ(bRefuseMailbox, p->m_mailbox.m_hWnd == NULL);
    for (int i = 0; i < 100; ++i)   // enough for the popup to scroll
        p->WriteLine(CString(L"filler"));
    ASSERT_TRUE(p->Sync());
    ASSERT_TRUE(FileHas(strName, "]: filler\r\n"));
    ASSERT_TRUE(p->PostToThread(WM_PROBE_MODAL, loop, 0));
    ASSERT_TRUE(WaitFor([&] { return p->m_nModal != 0; }, 10000));

    p->WriteLine(CString(L"written during the modal loop"));
    EXPECT_TRUE(WaitFor([&] { return FileHas(strName, "]: written during the modal loop\r\n"); }, 10000));
    EXPECT_EQ(1, p->m_nModal) << "the loop ended by itself: nothing was tested";

    p->WriteLine(CString(L"the last line"));
    p->m_nExitCode = 7;
    DWORD dwResult = p->ShutdownInstance(true, 20000);
    EXPECT_EQ(7u, dwResult) << "the quit request did not end the thread";
    if (dwResult != 7u)
        return;   // the thread still runs: the object must stay
    EXPECT_EQ(2, p->m_nModal);
    EXPECT_TRUE(FileHas(strName, "]: the last line\r\n"));
    delete p;
}

} // namespace

TEST_F(LogThreadTest, ASystemMenuOpenOnThePopupNeitherHoldsLinesNorTheQuit) { CheckModalLoop(PROBE_MENU); }

TEST_F(LogThreadTest, AMessageBoxOnTheLoggingThreadNeitherHoldsLinesNorTheQuit)
{
    CheckModalLoop(PROBE_MESSAGE_BOX);
}

TEST_F(LogThreadTest, ScrollingThePopupNeitherHoldsLinesNorTheQuit) { CheckModalLoop(PROBE_SCROLL_TRACKING); }

TEST_F(LogThreadTest, ALoopThatSwallowsTheQuitMessageNeitherHoldsLinesNorTheQuit)
{
    CheckModalLoop(PROBE_LOOP_SWALLOWING_QUIT);
}

TEST_F(LogThreadTest, WithoutItsMailboxTheThreadStillDrainsAlsoDuringAMessageBox)
{
    CheckModalLoop(PROBE_MESSAGE_BOX, true);
    EXPECT_TRUE(TraceHas("Failed to create the logging thread's mailbox"));
}

TEST_F(LogThreadTest, ALineQueuedBeforeTheStartIsWritten)
{
    CProbeLogThread* p = new CProbeLogThread;
    p->WriteLine(CString(L"queued before the start"));
    p->CreateNewThread(true, 20000, false);
    CString strName = p->m_strLogFileName;
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;

    // Queue order: it came first.
    std::vector<std::string> lines = ReadLines(strName);
    ASSERT_EQ(4u, lines.size());
    std::string message;
    ASSERT_TRUE(SplitLogLine(lines[0], message));
    EXPECT_EQ("queued before the start", message);
}

TEST_F(LogThreadTest, EntriesWithoutADrainRequestAreWrittenAtTheEnd)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CString strName = p->m_strLogFileName;
    ASSERT_TRUE(p->Sync());
    {
        // As writers pre-empted between queuing and asking for the drain leave them.
        CSingleLock lock(&p->m_csQueue, TRUE);
        for (int i = 0; i < 5; ++i) {
            CString s;
            s.Format(L"never requested %d", i);
            p->m_queue.push_back(CAppLogThread::LogEntry(s));
        }
    }
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;

    std::vector<std::string> messages = MessagesAfterHeaders(strName);
    ASSERT_EQ(5u, messages.size());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ("never requested " + std::to_string(i), messages[i]);
}

TEST_F(LogThreadTest, AQuitRequestInTheMiddleOfABurstLosesNothingQueuedBeforeIt)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CString strName = p->m_strLogFileName;
    HANDLE hThread = p->DuplicateThreadHandle();
    std::atomic<int> nQueued(0);
    std::atomic<bool> bStop(false);
    std::thread writer([&] {
        CString s;
        for (int i = 0; !bStop; ++i) {
            s.Format(L"burst %d", i);
            p->WriteLine(s);
            nQueued = i + 1;
        }
    });
    ASSERT_TRUE(WaitFor([&] { return nQueued >= 20000; }, 60000));
    const int nBefore = nQueued;   // all of these came before the request
    EXPECT_EQ(0u, p->ShutdownInstance(false, INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hThread, 60000));
    bStop = true;
    writer.join();
    ::CloseHandle(hThread);
    delete p;

    // A gapless run from the first line: every line queued before the
    // request, and maybe a few queued while it was being made.
    std::vector<std::string> messages = MessagesAfterHeaders(strName);
    ASSERT_GE(messages.size(), size_t(nBefore));
    for (size_t i = 0; i < messages.size(); ++i)
        ASSERT_EQ("burst " + std::to_string(i), messages[i]);
}

TEST_F(LogThreadTest, AnActivationCarriesTheWindowNotItsObject)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    HWND hPopup = p->m_dlgLog.m_hWnd;
    ASSERT_NE(nullptr, hPopup);
    HWND hMain = ::CreateWindowExW(0, L"STATIC", L"Main window", WS_POPUP | WS_CAPTION | WS_VISIBLE, 100, 100, 400,
                                   300, NULL, NULL, NULL, NULL);
    HWND hOther = ::CreateWindowExW(0, L"STATIC", L"Other window", WS_POPUP | WS_CAPTION | WS_VISIBLE, 150, 150, 400,
                                    300, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(hMain && hOther);

    // The record waits in the queue while the main window's object goes and
    // its memory comes to stand for another window.
    ASSERT_TRUE(p->Hold());
    CWnd* pMain = new CWnd;
    pMain->Attach(hMain);
    EXPECT_TRUE(p->NotifyActivate(pMain, WA_ACTIVE, NULL, FALSE));
    pMain->Detach();
    pMain->Attach(hOther);
    p->Release();
    ASSERT_TRUE(p->Sync());
    EXPECT_EQ(hPopup, ::GetWindow(hMain, GW_HWNDNEXT));
    pMain->Detach();
    delete pMain;

    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;
    ::DestroyWindow(hMain);
    ::DestroyWindow(hOther);
}

TEST_F(LogThreadTest, After200000LinesThePopupHoldsItsBoundAndMemoryStaysLow)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CString strName = p->m_strLogFileName;
    const int kLines = 200000;
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc));
    const SIZE_T nBefore = pmc.WorkingSetSize;
    // Long drains first (each longer than the popup keeps), then short ones,
    // which trim the popup a chunk at a time.
    int nWritten = 0;
    CString s;
    while (nWritten < kLines) {
        const int nBatch = nWritten < 196000 ? 49000 : 400;
        for (int i = 0; i < nBatch; ++i, ++nWritten) {
            s.Format(L"line %06d of a long run", nWritten);
            p->WriteLine(s);
        }
        ASSERT_TRUE(p->SyncPopup());
    }

    // What they added, not what the process holds: earlier tests of this
    // process may have left its heap large.
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc));
    EXPECT_LT(pmc.WorkingSetSize, nBefore + (SIZE_T(40) << 20));

    const CString strShown = PopupText(p->m_dlgLog.m_hWnd);
    EXPECT_TRUE(strShown == p->m_dlgLog.m_strLog);
    // Whole lines from the first character, at most the bound, the newest last.
    std::vector<std::string> lines;
    std::string shown = Narrow(strShown);
    for (size_t pos = 0, end; (end = shown.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(shown.substr(pos, end - pos));
    ASSERT_FALSE(lines.empty());
    EXPECT_LE(lines.size(), size_t(CLoggingDlg::kMaxLines));
    EXPECT_EQ(shown.size(), shown.rfind("\r\n") + 2);
    const int nFirst = kLines - int(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string message;
        ASSERT_TRUE(SplitLogLine(lines[i], message)) << lines[i];
        char szExpected[64];
        snprintf(szExpected, sizeof szExpected, "line %06d of a long run", nFirst + int(i));
        ASSERT_EQ(szExpected, message);
    }

    EXPECT_EQ(0u, p->ShutdownInstance(true, 60000));
    delete p;
    EXPECT_EQ(size_t(3 + kLines), ReadLines(strName).size());
}

TEST_F(LogThreadTest, MultiLineEntriesAtThePopupsTrimEdgeStayWhole)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    HWND hPopup = p->m_dlgLog.m_hWnd;
    ::ShowWindow(hPopup, SW_HIDE);   // hidden: only quicker under a virtual display
    const int kLinesPerEntry = 7;
    int nEntries = 0;
    // Drains of several sizes take the popup past its bounds again and again.
    for (int nBatch : { 300, 500, 700, 40, 900 }) {
        for (int i = 0; i < nBatch; ++i, ++nEntries) {
            CString s;
            s.Format(L"entry %d line 0", nEntries);
            for (int k = 1; k < kLinesPerEntry; ++k)
                s.AppendFormat(L"\nentry %d line %d", nEntries, k);
            p->WriteLine(s);
        }
        ASSERT_TRUE(p->SyncPopup());
        const CString strShown = PopupText(hPopup);
        ASSERT_TRUE(strShown == p->m_dlgLog.m_strLog);
        // Whole entries from the first line on (the header lines until they
        // go), in order, the newest last.
        std::vector<std::string> lines;
        std::string shown = Narrow(strShown), message;
        for (size_t pos = 0, end; (end = shown.find("\r\n", pos)) != std::string::npos; pos = end + 2)
            lines.push_back(shown.substr(pos, end - pos));
        ASSERT_LE(lines.size(), size_t(CLoggingDlg::kMaxLines));
        while (!lines.empty() && SplitLogLine(lines[0], message) && message.find("entry ") != 0)
            lines.erase(lines.begin());
        ASSERT_EQ(0u, lines.size() % kLinesPerEntry) << "after " << nEntries << " entries";
        const int nFirst = nEntries - int(lines.size() / kLinesPerEntry);
        for (size_t i = 0; i < lines.size(); ++i) {
            message = lines[i];
            if (i % kLinesPerEntry == 0) {
                ASSERT_TRUE(SplitLogLine(lines[i], message)) << lines[i];
            }
            ASSERT_EQ("entry " + std::to_string(nFirst + int(i / kLinesPerEntry)) + " line " +
                          std::to_string(i % kLinesPerEntry),
                      message);
        }
    }
    // The popup shows a long entry's start and says what only the file
    // has; an entry it can't keep beside the newest leaves nothing older in
    // view either: the popup never shows a gap.
    ASSERT_TRUE(p->Hold());
    p->WriteLine(CString(L'a', 20));
    for (int i = 0; i < CLoggingDlg::kMaxLines - 1; ++i)
        p->WriteLine(CString(L"filler"));
    p->WriteLine(CString(L'b', CLoggingDlg::kMaxChars / 10 * 6));
    p->Release();
    ASSERT_TRUE(p->SyncPopup());
    const std::string shown = Narrow(PopupText(hPopup));
    std::string message;
    ASSERT_TRUE(SplitLogLine(shown.substr(0, shown.find("\r\n")), message));
    EXPECT_EQ("filler", message);
    const size_t nLast = shown.rfind("\r\n", shown.size() - 3);
    ASSERT_TRUE(SplitLogLine(shown.substr(nLast + 2, shown.size() - nLast - 4), message));
    EXPECT_TRUE(message == std::string(CLoggingDlg::kMaxEntryChars, 'b') + "... (" +
                               std::to_string(CLoggingDlg::kMaxChars / 10 * 6 - CLoggingDlg::kMaxEntryChars) +
                               " more characters in the file)")
        << message.substr(message.size() - 60);
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;
}

TEST_F(LogThreadInItsOwnProcess, ADrainOf2500EntriesOf8000CharactersKeepsThePeakWorkingSetLow)
{
    CProbeLogThread* p = CProbeLogThread::Start(true, 20000, false);
    CString strName = p->m_strLogFileName;
    ASSERT_TRUE(p->Sync());
    ASSERT_TRUE(p->Hold());
    for (int i = 0; i < 2500; ++i)
        p->WriteLine(CString(WCHAR(L'a' + i % 26), 8000));
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc));
    const SIZE_T nQueued = pmc.WorkingSetSize;   // the most this process has held before the drain
    p->Release();
    ASSERT_TRUE(p->Sync());
    ASSERT_TRUE(::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc));
    printf("Working set with 2,500 entries of 8,000 characters queued: %.1f MB; peak through their drain: %.1f MB\n",
           nQueued / 1048576.0, pmc.PeakWorkingSetSize / 1048576.0);
    // The entries themselves take 40 MB; the drain may add a few copies of
    // what the popup keeps (1,000,000 characters), not of the whole drain.
    EXPECT_LT(pmc.PeakWorkingSetSize, nQueued + (SIZE_T(32) << 20));
    EXPECT_LE(p->m_dlgLog.m_strLog.GetLength(), CLoggingDlg::kMaxChars);
    EXPECT_EQ(0u, p->ShutdownInstance(true, 20000));
    delete p;
    EXPECT_EQ(size_t(3 + 2500), ReadLines(strName).size());
}
