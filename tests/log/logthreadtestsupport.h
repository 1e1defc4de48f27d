// What the logging thread's tests share: a temporary working directory, the
// captured debug trace, a probe thread class that opens the protected parts,
// and readers for the log file and the popup.
#pragma once

#include <applogthread.h>
#include <gtest/gtest.h>
#include <tempworkdir.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// Thread messages the probe adds to the logging thread's map.
const UINT WM_PROBE_SYNC = WM_APP + 10;        // signals m_hSync once served
const UINT WM_PROBE_FILE_MODE = WM_APP + 11;   // wParam 1: make the log file unwritable; 0: writable again
const UINT WM_PROBE_HOLD = WM_APP + 12;        // holds the thread until m_hRelease is set
const UINT WM_PROBE_MODAL = WM_APP + 13;       // runs a modal loop of the kind wParam names

// Modal loops the probe can run on the logging thread.
enum ProbeModalLoop { PROBE_MENU = 1, PROBE_MESSAGE_BOX, PROBE_SCROLL_TRACKING, PROBE_LOOP_SWALLOWING_QUIT };

class CProbeLogThread : public CAppLogThread
{
public:
    CProbeLogThread();
    ~CProbeLogThread() override;

    static CProbeLogThread* Start(bool bWaitForInit, DWORD dwTimeout, bool bAutoDelete);

    using CAppLogThread::m_csQueue;
    using CAppLogThread::m_dlgLog;
    using CAppLogThread::m_evInitialized;
    using CAppLogThread::m_mailbox;
    using CAppLogThread::m_queue;
    using CAppLogThread::m_strLogFileName;

    // Waits until the logging thread has served every message posted so far.
    bool Sync();
    // Syncs until the popup has been given every line drained.
    bool SyncPopup();
    using CAppLogThread::PostToThread;

    // Blocks the logging thread until Release(): what is posted meanwhile waits.
    bool Hold();
    void Release() { ::SetEvent(m_hRelease); }

    std::atomic<bool> m_bPopupWaiting{ false };   // at the last Sync: lines wait for the popup
    HANDLE m_hDeleted = NULL;   // set by the destructor, if given
    HANDLE m_hSync;
    HANDLE m_hHeld;
    HANDLE m_hRelease;
    std::atomic<int> m_nModal{ 0 };   // 1 while the probe's modal loop runs, 2 once it has returned
    int m_nExitCode = 0;        // returned instead of the framework's result, if not 0
    HOOKPROC m_pfnPopupHook = NULL;   // a WH_CALLWNDPROC hook for the logging thread
    bool m_bHoldStart = false;        // the start waits for Release()
    bool m_bRefuseMailbox = false;    // the logging thread can't make its mailbox

    BOOL InitInstance() override;
    int ExitInstance() override;

protected:
    afx_msg void OnSync(WPARAM, LPARAM);
    afx_msg void OnFileMode(WPARAM wParam, LPARAM);
    afx_msg void OnHold(WPARAM, LPARAM);
    afx_msg void OnModal(WPARAM wParam, LPARAM);
    HHOOK m_hHook = NULL;
    HHOOK m_hRefusingHook = NULL;
    DECLARE_MESSAGE_MAP()
};

// Each test runs in a fresh temporary working directory with the trace captured.
class LogThreadTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    TempWorkingDirectory m_workDir;
    CString m_strDir;
};

// Tests that need a process of their own, each run apart by its own CTest
// entry (the rest of the run leaves them out): a file size limit, a peak
// working set of their own.
class LogThreadInItsOwnProcess : public LogThreadTest
{
};

// Polls bDone every 20 ms for up to nTimeoutMs; returns bDone().
bool WaitFor(const std::function<bool()>& bDone, DWORD nTimeoutMs);

std::vector<std::string> Traces();
bool TraceHas(const std::string& text);
int TraceIndexOf(const std::string& text, int iFrom = 0);

// The file's lines without their CR LF ends.
std::vector<std::string> ReadLines(LPCWSTR lpszName);
// The message part of a log line, after a well-formed "[<stamp>]: "; empty when malformed.
bool SplitLogLine(const std::string& line, std::string& message);
// The names of the log files in the working directory.
std::vector<CString> LogFiles();
CString PopupText(HWND hPopup);

// Names a run started within the next minute would compute: "<app> <stamp>".
std::vector<CString> LogBaseNamesAround();
