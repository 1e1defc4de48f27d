// Figures for the logging thread: what WriteLine costs its caller, how fast
// a drain empties the queue into the file (with the popup hidden and shown),
// how far behind the file falls under a sustained flood, where a drained
// line's time goes, what one popup update costs, and two yardsticks (the
// least the queuing path can cost; a plain fwrite and fflush per line). Run
// from an empty working directory; it writes its log files there.
#include <applogthread.h>
#include <loggingdlg.h>
#include <timestamp.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <stdio.h>
#include <thread>
#include <vector>

namespace {

const UINT WM_BENCH_MARK = WM_APP + 20;

double g_dTicksPerNs = 0;

LONGLONG Now()
{
    LARGE_INTEGER li;
    ::QueryPerformanceCounter(&li);
    return li.QuadPart;
}

double Ns(LONGLONG nTicks) { return double(nTicks) / g_dTicksPerNs; }

void CALLBACK NoTrace(LPCSTR) {}

// How far behind the popup's appends were: for each append, now minus the
// moment its oldest line was written (the counter value the line carries).
std::vector<double> g_appendLagNs;

LRESULT CALLBACK AppendLagHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && pMsg->message == WM_USER && pMsg->lParam) {
        const wchar_t* pszAt = wcsstr(reinterpret_cast<LPCWSTR>(pMsg->lParam), L"flood line at ");
        if (pszAt)
            g_appendLagNs.push_back(Ns(Now() - _wtoi64(pszAt + 14)));
    }
    return ::CallNextHookEx(NULL, nCode, wParam, lParam);
}

// The logging thread with a mark message that answers once every earlier
// message has been served, and optionally no popup.
class CBenchLogThread : public CAppLogThread
{
public:
    explicit CBenchLogThread(bool bPopup) : m_bPopup(bPopup), m_hMark(::CreateEventW(NULL, FALSE, FALSE, NULL)) {}
    ~CBenchLogThread() override { ::CloseHandle(m_hMark); }
    using CAppLogThread::m_csQueue;
    using CAppLogThread::m_dlgLog;
    using CAppLogThread::m_strLogFileName;
    bool m_bPopup;
    HANDLE m_hMark;
    HHOOK m_hHook = NULL;

    BOOL InitInstance() override
    {
        m_hHook = ::SetWindowsHookExW(WH_CALLWNDPROC, &AppendLagHook, NULL, ::GetCurrentThreadId());
        BOOL bResult = CAppLogThread::InitInstance();
        if (!m_bPopup && m_dlgLog.m_hWnd)
            m_dlgLog.DestroyWindow();
        return bResult;
    }
    int ExitInstance() override
    {
        ::UnhookWindowsHookEx(m_hHook);
        return CAppLogThread::ExitInstance();
    }
    void WaitServed()
    {
        PostThreadMessage(WM_BENCH_MARK, 0, 0);
        ::WaitForSingleObject(m_hMark, INFINITE);
    }

protected:
    afx_msg void OnMark(WPARAM, LPARAM) { ::SetEvent(m_hMark); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBenchLogThread, CAppLogThread)
    ON_THREAD_MESSAGE(WM_BENCH_MARK, &CBenchLogThread::OnMark)
END_MESSAGE_MAP()

CBenchLogThread* StartLogThread(bool bPopup)
{
    CBenchLogThread* p = new CBenchLogThread(bPopup);
    p->CreateNewThread(true, INFINITE, false);
    return p;
}

void Stop(CBenchLogThread* p)
{
    p->ShutdownInstance(true, INFINITE);
    delete p;
}

struct Percentiles { double dMedian, dP99; };

Percentiles Summarise(std::vector<double>& v)
{
    if (v.empty())
        return { 0, 0 };
    std::sort(v.begin(), v.end());
    return { v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)] };
}

// Times nCalls of call() on each of nThreads threads, one sample per call.
template <typename Call>
Percentiles PerCall(int nThreads, int nCalls, Call call)
{
    std::vector<std::vector<double>> samples(nThreads);
    std::vector<std::thread> threads;
    std::atomic<int> nReady(0);
    for (int t = 0; t < nThreads; ++t)
        threads.emplace_back([&, t] {
            samples[t].reserve(nCalls);
            ++nReady;
            while (nReady < nThreads)
                ;
            for (int i = 0; i < nCalls; ++i) {
                LONGLONG t0 = Now();
                call(t, i);
                samples[t].push_back(Ns(Now() - t0));
            }
        });
    for (std::thread& th : threads)
        th.join();
    std::vector<double> all;
    for (auto& s : samples)
        all.insert(all.end(), s.begin(), s.end());
    return Summarise(all);
}

CString EventText(int i)
{
    CString s;
    s.Format(L"Event time stamp %d: session 7f3c-0001, 2026-12-06 03:45:29.123", i);
    return s;
}

void CallerCost(bool bTrace)
{
    AfxSetTraceSink(bTrace ? NULL : &NoTrace);
    const CString strText = L"CDorsaVantixViewerDlg::OnBnClickedConnect(): Calling DorsaAPICOMViewer::StartStream(...)";
    for (int nThreads : { 1, 4 }) {
        CBenchLogThread* p = StartLogThread(false);
        Percentiles r = PerCall(nThreads, 20000 / nThreads, [&](int, int) { p->WriteLine(strText); });
        p->WaitServed();
        Stop(p);
        printf("WriteLine, %d thread%s, trace %s:%*s median %7.0f ns, p99 %8.0f ns per call\n", nThreads,
               nThreads == 1 ? "" : "s", bTrace ? "to the debugger channel" : "off", bTrace ? 0 : 16, "", r.dMedian,
               r.dP99);
    }
    AfxSetTraceSink(NULL);
}

void QueuingFloor()
{
    // A running thread with a message loop that only takes messages.
    DWORD nThreadID = 0;
    HANDLE hReady = ::CreateEventW(NULL, TRUE, FALSE, NULL);
    std::thread sink([&] {
        MSG msg;
        ::PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);
        nThreadID = ::GetCurrentThreadId();
        ::SetEvent(hReady);
        while (::GetMessageW(&msg, NULL, 0, 0) > 0)
            ;
    });
    ::WaitForSingleObject(hReady, INFINITE);
    CRITICAL_SECTION cs;
    ::InitializeCriticalSection(&cs);
    for (int nThreads : { 1, 4 }) {
        Percentiles r = PerCall(nThreads, 20000 / nThreads, [&](int, int) {
            FILETIME ft;
            ::GetSystemTimeAsFileTime(&ft);
            ::EnterCriticalSection(&cs);
            ::LeaveCriticalSection(&cs);
            ::PostThreadMessageW(nThreadID, WM_APP, 0, 0);
        });
        printf("Floor (time + lock + post), %d thread%s:%*s median %7.0f ns, p99 %8.0f ns per call\n", nThreads,
               nThreads == 1 ? "" : "s", nThreads == 1 ? 17 : 16, "", r.dMedian, r.dP99);
    }
    ::PostThreadMessageW(nThreadID, WM_QUIT, 0, 0);
    sink.join();
    ::DeleteCriticalSection(&cs);
    ::CloseHandle(hReady);
}

// Queues nLines while the drain is held off, then times the drain of them
// all; with the popup, after nShown lines have already gone to it.
void DrainThroughput(bool bPopup, int nLines, int nShown = 0)
{
    AfxSetTraceSink(&NoTrace);
    CBenchLogThread* p = StartLogThread(bPopup);
    for (int i = 0; i < nShown; ++i)
        p->WriteLine(EventText(i));
    p->WaitServed();
    LONGLONG t0;
    {
        CSingleLock lock(&p->m_csQueue, TRUE);
        for (int i = 0; i < nLines; ++i)
            p->WriteLine(EventText(i));
        t0 = Now();
    }
    p->WaitServed();
    double dSeconds = Ns(Now() - t0) / 1e9;
    Stop(p);
    AfxSetTraceSink(NULL);
    printf("Drain to the file, popup %s: %6d lines in %7.3f s = %9.0f lines/s", bPopup ? "shown" : "none ", nLines,
           dSeconds, nLines / dSeconds);
    if (bPopup)
        printf(" (%d lines shown before)", nShown);
    printf("\n");
}

// How many of the flood's lines the file holds, and how many it says were
// dropped at the queue's bound.
void CountFloodLines(const CString& strName, long long& nInFile, long long& nDropped)
{
    nInFile = nDropped = 0;
    FILE* f = _wfopen(strName, L"rb");
    if (!f)
        return;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        const char* pszMessage = strstr(line, "]: ");
        if (!pszMessage)
            continue;
        if (!strncmp(pszMessage, "]: flood line at ", 17))
            ++nInFile;
        else if (strstr(pszMessage, " dropped because the log queue was full"))
            nDropped += _atoi64(pszMessage + 3);
    }
    fclose(f);
}

// Writers log as fast as they can for a while, the popup shown: how many
// lines a second reach the file, and how old the oldest line of each popup
// append (made after its drain was flushed to the file) was by then.
void SustainedFlood(int nThreads, DWORD dwMs)
{
    AfxSetTraceSink(&NoTrace);
    g_appendLagNs.clear();
    CBenchLogThread* p = StartLogThread(true);
    p->WaitServed();
    std::atomic<bool> bStop(false);
    std::atomic<long long> nWritten(0);
    std::vector<std::thread> writers;
    LONGLONG t0 = Now();
    for (int t = 0; t < nThreads; ++t)
        writers.emplace_back([&] {
            CString s;
            while (!bStop) {
                s.Format(L"flood line at %lld", Now());
                p->WriteLine(s);
                ++nWritten;
            }
        });
    ::Sleep(dwMs);
    bStop = true;
    for (std::thread& w : writers)
        w.join();
    p->WaitServed();
    double dSeconds = Ns(Now() - t0) / 1e9;
    const CString strName = p->m_strLogFileName;
    Stop(p);
    AfxSetTraceSink(NULL);
    long long nInFile, nDropped;
    CountFloodLines(strName, nInFile, nDropped);
    Percentiles r = Summarise(g_appendLagNs);
    printf("Sustained flood, popup shown, %d writers: %lld lines in the file, %lld dropped at the queue's bound\n",
           nThreads, nInFile, nDropped);
    printf("Sustained flood, popup shown, %d writers: %lld lines in %6.3f s = %9.0f lines/s; "
           "%zu appends, oldest line median %6.0f ms, max %6.0f ms behind\n",
           nThreads, nWritten.load(), dSeconds, nWritten / dSeconds, g_appendLagNs.size(), r.dMedian / 1e6,
           g_appendLagNs.empty() ? 0.0 : g_appendLagNs.back() / 1e6);
}

// Where a drained line's time goes, step by step, over nLines entries, with
// the text made, narrowed and written in 64K pieces as a drain does it.
void PerLineCost(int nLines)
{
    const int kChunkChars = 64 * 1024;
    std::deque<CAppLogThread::LogEntry> entries;
    for (int i = 0; i < nLines; ++i)
        entries.emplace_back(EventText(i));
    auto perLine = [&](LONGLONG nTicks) { return Ns(nTicks) / nLines; };

    // As the drain made each line before: the stamp and the line by printf.
    CString strStamp, strLine;
    LONGLONG t0 = Now();
    for (const auto& entry : entries)
        FormatTimestamp(strStamp, entry.m_ftTime, TS_DATETIME_MS);
    const double dFormatTimestamp = perLine(Now() - t0);
    t0 = Now();
    for (const auto& entry : entries)
        strLine.Format(L"[%s]: %s\n", strStamp.GetString(), entry.m_strText.GetString());
    const double dFormatLine = perLine(Now() - t0);

    // As it makes them now: stamps by one formatter, lines appended to a piece.
    CString strChunk;
    CTimestampFormatter stamps;
    t0 = Now();
    for (const auto& entry : entries) {
        if (strChunk.GetLength() >= kChunkChars)
            strChunk.Empty();
        stamps.AppendDateTimeMs(strChunk, entry.m_ftTime);
    }
    const double dStamps = perLine(Now() - t0);
    std::string bytes;
    HANDLE hFile = ::CreateFileW(L"bench-write.log", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    LONGLONG nLinesTicks = 0, nNarrowTicks = 0, nWriteTicks = 0;
    auto flushChunk = [&] {
        LONGLONG t = Now();
        bytes = CStdioFile::NarrowText(strChunk);
        nNarrowTicks += Now() - t;
        t = Now();
        DWORD nDone = 0;
        ::WriteFile(hFile, bytes.data(), DWORD(bytes.size()), &nDone, NULL);
        nWriteTicks += Now() - t;
        strChunk.Empty();
    };
    strChunk.Empty();
    for (const auto& entry : entries) {
        if (strChunk.GetLength() >= kChunkChars)
            flushChunk();
        LONGLONG t = Now();
        strChunk += L'[';
        strChunk += strStamp;
        strChunk += L"]: ";
        strChunk += entry.m_strText;
        strChunk += L'\n';
        nLinesTicks += Now() - t;
    }
    flushChunk();
    ::CloseHandle(hFile);

    t0 = Now();
    {
        std::deque<CAppLogThread::LogEntry> gone;
        gone.swap(entries);
    }
    const double dFree = perLine(Now() - t0);

    printf("Per drained line (%d lines, average):\n", nLines);
    printf("  time stamp, FormatTimestamp each line:      %7.0f ns\n", dFormatTimestamp);
    printf("  time stamp, one formatter per drain:        %7.0f ns\n", dStamps);
    printf("  line text, CString::Format \"[%%s]: %%s\\n\":  %7.0f ns\n", dFormatLine);
    printf("  line text, appended to a 64K piece:         %7.0f ns (with a clock reading each line)\n",
           perLine(nLinesTicks));
    printf("  narrowing to 8-bit text with CR LF:         %7.0f ns\n", perLine(nNarrowTicks));
    printf("  writing to the system, 64K at a time:       %7.0f ns\n", perLine(nWriteTicks));
    printf("  freeing the drained entries:                %7.0f ns\n", dFree);
}

// How often the popup is brought up to date at most.
const DWORD kPopupPeriodMs = 100;

// Serves the thread's messages (paints, timers) for dwMs, as its message loop would.
void ServeMessagesFor(DWORD dwMs)
{
    const ULONGLONG nEnd = ::GetTickCount64() + dwMs;
    for (ULONGLONG nNow = ::GetTickCount64(); nNow < nEnd; nNow = ::GetTickCount64()) {
        ::MsgWaitForMultipleObjects(0, NULL, FALSE, DWORD(nEnd - nNow), QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
    }
}

void PopupAppendCost()
{
    CLoggingDlg dlg(NULL);
    if (!dlg.Create(IDD_APP_LOG))
        return;
    CRect rcWork;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    CRect rc = LogPopupRect(rcWork);
    dlg.MoveWindow(&rc, TRUE);
    int nShown = 0;
    for (int nTarget : { 1000, 20000 }) {
        dlg.ShowWindow(SW_HIDE);   // filled hidden, in drain-sized pieces, to keep the run short
        while (nShown < nTarget) {
            CString s, line;
            std::vector<int> entryStarts;
            for (int i = 0; i < 1000 && nShown < nTarget; ++i, ++nShown) {
                line.Format(L"[2026-12-06 03:45:29 (+123.4567 ms)]: filler line %d\n", nShown);
                entryStarts.push_back(s.GetLength());
                s += line;
            }
            dlg.AppendText(s, entryStarts);
        }
        dlg.ShowWindow(SW_SHOW);
        ::UpdateWindow(dlg.m_hWnd);
        std::vector<double> samples;
        for (int i = 0; i < 20; ++i, ++nShown) {
            // The popup is brought up to date at most ten times a second:
            // each measured append comes a period after the last, as on a
            // busy logging thread, so each is one whole update on the screen.
            ServeMessagesFor(kPopupPeriodMs + 20);
            CString s;
            s.Format(L"[2026-12-06 03:45:29 (+123.4567 ms)]: measured line %d\n", i);
            LONGLONG t0 = Now();
            dlg.AppendText(s);
            ::UpdateWindow(dlg.m_hWnd);   // its repaint is part of its cost
            samples.push_back(Ns(Now() - t0));
        }
        Percentiles r = Summarise(samples);
        printf("Popup append (shown, repainted) at %5d lines:   median %9.3f ms, p99 %9.3f ms per update\n", nTarget,
               r.dMedian / 1e6, r.dP99 / 1e6);
    }
    // A drain that outran the popup by its whole bound (a flood) gives it
    // only its newest lines, which take the place of all it showed.
    std::vector<double> samples;
    for (int i = 0; i < 5; ++i) {
        ServeMessagesFor(kPopupPeriodMs + 20);
        CString s, line;
        std::vector<int> entryStarts;
        for (int n = 0; n < CLoggingDlg::kMaxLines; ++n) {
            line.Format(L"[2026-12-06 03:45:29 (+123.4567 ms)]: refill %d line %d\n", i, n);
            entryStarts.push_back(s.GetLength());
            s += line;
        }
        LONGLONG t0 = Now();
        dlg.AppendText(s, entryStarts, true);
        ::UpdateWindow(dlg.m_hWnd);
        samples.push_back(Ns(Now() - t0));
    }
    Percentiles r = Summarise(samples);
    printf("Popup refill (shown, repainted) with %d lines: median %9.3f ms, max %9.3f ms\n", int(CLoggingDlg::kMaxLines),
           r.dMedian / 1e6, samples.back() / 1e6);
    dlg.DestroyWindow();
}

void PlainFileBaseline(int nLines)
{
    FILE* f = _wfopen(L"plain-fwrite.log", L"w");
    if (!f)
        return;
    LONGLONG t0 = Now();
    for (int i = 0; i < nLines; ++i) {
        char line[160];
        int n = snprintf(line, sizeof line, "[2026-12-06 03:45:29 (+123.4567 ms)]: Event time stamp %d\n", i);
        fwrite(line, 1, size_t(n), f);
        fflush(f);
    }
    double dSeconds = Ns(Now() - t0) / 1e9;
    fclose(f);
    printf("Plain fwrite + fflush per line:     %6d lines in %7.3f s = %9.0f lines/s (%.0f ns per line)\n", nLines,
           dSeconds, nLines / dSeconds, dSeconds * 1e9 / nLines);
}

} // namespace

// Sections run by name, all of them without arguments:
//   caller floor drain popupdrain flood perline popup
int wmain(int argc, wchar_t** argv)
{
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    g_dTicksPerNs = double(f.QuadPart) / 1e9;
    auto wanted = [&](const wchar_t* pszSection) {
        if (argc < 2)
            return true;
        for (int i = 1; i < argc; ++i)
            if (!wcscmp(argv[i], pszSection))
                return true;
        return false;
    };

    printf("Logging thread figures (QueryPerformanceCounter at %lld Hz; debugger attached: %s)\n\n", f.QuadPart,
           ::IsDebuggerPresent() ? "yes" : "no");
    if (wanted(L"caller")) {
        CallerCost(true);
        CallerCost(false);
    }
    if (wanted(L"floor"))
        QueuingFloor();
    printf("\n");
    if (wanted(L"drain"))
        DrainThroughput(false, 100000);
    if (wanted(L"popupdrain"))
        for (int nShown : { 1000, 100000 })
            for (int nLines : { 1000, 100000 })
                DrainThroughput(true, nLines, nShown);
    if (wanted(L"drain"))
        PlainFileBaseline(20000);
    printf("\n");
    if (wanted(L"flood")) {
        SustainedFlood(1, 5000);
        SustainedFlood(4, 5000);
        printf("\n");
    }
    if (wanted(L"perline")) {
        PerLineCost(100000);
        printf("\n");
    }
    if (wanted(L"popup"))
        PopupAppendCost();
    return 0;
}
