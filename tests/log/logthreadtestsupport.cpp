#include "logthreadtestsupport.h"

#include <timestamp.h>

#include <mutex>
#include <regex>

// The application object of the test program: its name comes from string
// 57344 of the program's resources.
CWinApp theTestApp;

namespace {

std::mutex g_traceLock;
std::vector<std::string> g_traces;

void CALLBACK CaptureTrace(LPCSTR lpszText)
{
    std::lock_guard<std::mutex> lock(g_traceLock);
    g_traces.emplace_back(lpszText);
}

// Refuses every window of a class the framework registers on the thread:
// the mailbox (the popup and its edit control are of the system's classes).
LRESULT CALLBACK RefuseFrameworkWindows(int nCode, WPARAM wParam, LPARAM lParam)
{
    WCHAR szClass[8] = L"";
    if (nCode == HCBT_CREATEWND && ::GetClassNameW(reinterpret_cast<HWND>(wParam), szClass, _countof(szClass)) &&
        wcsncmp(szClass, L"Afx:", 4) == 0)
        return 1;
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}

} // namespace

BEGIN_MESSAGE_MAP(CProbeLogThread, CAppLogThread)
    ON_THREAD_MESSAGE(WM_PROBE_SYNC, &CProbeLogThread::OnSync)
    ON_THREAD_MESSAGE(WM_PROBE_FILE_MODE, &CProbeLogThread::OnFileMode)
    ON_THREAD_MESSAGE(WM_PROBE_HOLD, &CProbeLogThread::OnHold)
    ON_THREAD_MESSAGE(WM_PROBE_MODAL, &CProbeLogThread::OnModal)
END_MESSAGE_MAP()

CProbeLogThread::CProbeLogThread()
    : m_hSync(::CreateEventW(NULL, FALSE, FALSE, NULL)), m_hHeld(::CreateEventW(NULL, FALSE, FALSE, NULL)),
      m_hRelease(::CreateEventW(NULL, FALSE, FALSE, NULL))
{
}

CProbeLogThread::~CProbeLogThread()
{
    ::CloseHandle(m_hSync);
    ::CloseHandle(m_hHeld);
    ::CloseHandle(m_hRelease);
    if (m_hDeleted)
        ::SetEvent(m_hDeleted);
}

CProbeLogThread* CProbeLogThread::Start(bool bWaitForInit, DWORD dwTimeout, bool bAutoDelete)
{
    CProbeLogThread* p = new CProbeLogThread;
    p->CreateNewThread(bWaitForInit, dwTimeout, bAutoDelete);
    return p;
}

bool CProbeLogThread::Sync()
{
    // Generous: a drain of 49,000 lines takes seconds here, and far longer in
    // the emulated PC that runs the 32-bit build.
    return PostToThread(WM_PROBE_SYNC, 0, 0) && ::WaitForSingleObject(m_hSync, 300000) == WAIT_OBJECT_0;
}

bool CProbeLogThread::SyncPopup()
{
    // The popup is given what waits a period after the last giving at the
    // latest: synced until nothing waits.
    return WaitFor([this] { return Sync() && !m_bPopupWaiting; }, 300000);
}

BOOL CProbeLogThread::InitInstance()
{
    if (m_pfnPopupHook)
        m_hHook = ::SetWindowsHookExW(WH_CALLWNDPROC, m_pfnPopupHook, NULL, ::GetCurrentThreadId());
    if (m_bRefuseMailbox)
        m_hRefusingHook = ::SetWindowsHookExW(WH_CBT, &RefuseFrameworkWindows, NULL, ::GetCurrentThreadId());
    if (m_bHoldStart)
        ::WaitForSingleObject(m_hRelease, 60000);
    return CAppLogThread::InitInstance();
}

int CProbeLogThread::ExitInstance()
{
    // The hooks see the thread's end too.
    int nResult = CAppLogThread::ExitInstance();
    if (m_hHook)
        ::UnhookWindowsHookEx(m_hHook);
    if (m_hRefusingHook)
        ::UnhookWindowsHookEx(m_hRefusingHook);
    return m_nExitCode ? m_nExitCode : nResult;
}

void CProbeLogThread::OnSync(WPARAM, LPARAM)
{
    m_bPopupWaiting = m_popupFeed.IsWaiting();
    ::SetEvent(m_hSync);
}

bool CProbeLogThread::Hold()
{
    return PostToThread(WM_PROBE_HOLD, 0, 0) && ::WaitForSingleObject(m_hHeld, 20000) == WAIT_OBJECT_0;
}

void CProbeLogThread::OnHold(WPARAM, LPARAM)
{
    ::SetEvent(m_hHeld);
    ::WaitForSingleObject(m_hRelease, 60000);
}

void CProbeLogThread::OnModal(WPARAM wParam, LPARAM)
{
    // Each loop runs until something ends it: the user, or the thread's end.
    HWND hPopup = m_dlgLog.m_hWnd;
    m_nModal = 1;
    switch (wParam) {
    case PROBE_MENU:
        ::SetForegroundWindow(hPopup);
        ::TrackPopupMenu(::GetSystemMenu(hPopup, FALSE), TPM_RETURNCMD | TPM_NONOTIFY, 100, 100, 0, hPopup, NULL);
        break;
    case PROBE_MESSAGE_BOX:
        ::MessageBoxW(hPopup, L"A modal loop on the logging thread", L"Probe", MB_OK);
        break;
    case PROBE_SCROLL_TRACKING: {
        // The mouse pressed on the edit control's vertical scroll bar.
        HWND hEdit = m_dlgLog.m_editLog.m_hWnd;
        CRect rc;
        ::GetWindowRect(hEdit, &rc);
        ::SendMessageW(hEdit, WM_NCLBUTTONDOWN, HTVSCROLL, MAKELPARAM(rc.right - 8, rc.top + rc.Height() / 2));
        break;
    }
    case PROBE_LOOP_SWALLOWING_QUIT: {
        // As some loops do: it ends on WM_QUIT without posting it again.
        MSG msg;
        while (::GetMessageW(&msg, NULL, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        break;
    }
    }
    m_nModal = 2;
}

bool WaitFor(const std::function<bool()>& bDone, DWORD nTimeoutMs)
{
    for (DWORD dwStart = ::GetTickCount(); !bDone();) {
        if (::GetTickCount() - dwStart >= nTimeoutMs)
            return bDone();
        ::Sleep(20);
    }
    return true;
}

void CProbeLogThread::OnFileMode(WPARAM wParam, LPARAM)
{
    // Reopened on the logging thread, which alone uses the file: read-only
    // makes every write fail as a lost drive would; read-write mends it.
    CString strName = m_strLogFileName;
    m_fileLog.Close();
    if (wParam) {
        m_fileLog.Open(strName, CFile::modeRead | CFile::shareDenyNone);
    } else {
        m_fileLog.Open(strName, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite |
                       CFile::shareDenyWrite);
        ::SetFilePointer(m_fileLog.m_hFile, 0, NULL, FILE_END);
    }
}

void LogThreadTest::SetUp()
{
    ASSERT_TRUE(m_workDir.Enter(L"logthread"));
    m_strDir = m_workDir.m_strDir;
    {
        // Freed, not only emptied: a test that logs millions of lines leaves
        // no large heap behind for the next.
        std::lock_guard<std::mutex> lock(g_traceLock);
        std::vector<std::string>().swap(g_traces);
    }
    AfxSetTraceSink(&CaptureTrace);
}

void LogThreadTest::TearDown()
{
    AfxSetTraceSink(NULL);
    m_workDir.Leave();
}

std::vector<std::string> Traces()
{
    std::lock_guard<std::mutex> lock(g_traceLock);
    return g_traces;
}

int TraceIndexOf(const std::string& text, int iFrom)
{
    std::vector<std::string> traces = Traces();
    for (int i = iFrom; i < int(traces.size()); ++i)
        if (traces[i].find(text) != std::string::npos)
            return i;
    return -1;
}

bool TraceHas(const std::string& text) { return TraceIndexOf(text) >= 0; }

std::vector<std::string> ReadLines(LPCWSTR lpszName)
{
    std::string bytes = ReadBytes(lpszName);
    std::vector<std::string> lines;
    size_t pos = 0, end;
    while ((end = bytes.find("\r\n", pos)) != std::string::npos) {
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end + 2;
    }
    if (pos < bytes.size())
        lines.push_back(bytes.substr(pos));
    return lines;
}

bool SplitLogLine(const std::string& line, std::string& message)
{
    // Only the stamp goes through the pattern: the library's matcher
    // recurses per character, and a long message would overflow the stack.
    static const std::regex re(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(\+\d{3}\.\d{4} ms\)\]: $)");
    const size_t kStampChars = 38;   // "[2026-12-06 03:45:29 (+123.4567 ms)]: "
    if (line.size() < kStampChars || !std::regex_match(line.substr(0, kStampChars), re))
        return false;
    message = line.substr(kStampChars);
    return true;
}

std::vector<CString> LogFiles()
{
    std::vector<CString> names;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW(L"*.log", &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(fd.cFileName);
        while (::FindNextFileW(hFind, &fd));
        ::FindClose(hFind);
    }
    return names;
}

CString PopupText(HWND hPopup)
{
    CString text;
    HWND hEdit = ::GetDlgItem(hPopup, IDC_LOG_TEXT);
    int n = int(::SendMessageW(hEdit, WM_GETTEXTLENGTH, 0, 0));
    ::SendMessageW(hEdit, WM_GETTEXT, n + 1, reinterpret_cast<LPARAM>(text.GetBufferSetLength(n + 1)));
    text.ReleaseBuffer();
    return text;
}

std::vector<CString> LogBaseNamesAround()
{
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    ULONGLONG nNow = (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    std::vector<CString> names;
    for (int s = -1; s <= 60; ++s) {
        ULONGLONG n = nNow + LONGLONG(s) * 10000000;
        FILETIME at = { DWORD(n), DWORD(n >> 32) };
        CString strName;
        strName.Format(L"%s %s", AfxGetAppName(), TimestampText(at, TS_FILE_NAME).GetString());
        names.push_back(strName);
    }
    return names;
}
