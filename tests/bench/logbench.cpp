// Figures for the logging thread: what WriteLine costs its caller, how fast
// a drain empties the queue into the file, what one popup line costs, and
// two yardsticks (the least the queuing path can cost; a plain fwrite and
// fflush per line). Run from an empty working directory; it writes its log
// files there.
#include <applogthread.h>
#include <loggingdlg.h>

#include <algorithm>
#include <atomic>
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

// The logging thread with a mark message that answers once every earlier
// message has been served, and optionally no popup.
class CBenchLogThread : public CAppLogThread
{
public:
    explicit CBenchLogThread(bool bPopup) : m_bPopup(bPopup), m_hMark(::CreateEventW(NULL, FALSE, FALSE, NULL)) {}
    ~CBenchLogThread() override { ::CloseHandle(m_hMark); }
    using CAppLogThread::m_csQueue;
    using CAppLogThread::m_dlgLog;
    bool m_bPopup;
    HANDLE m_hMark;

    BOOL InitInstance() override
    {
        BOOL bResult = CAppLogThread::InitInstance();
        if (!m_bPopup && m_dlgLog.m_hWnd)
            m_dlgLog.DestroyWindow();
        return bResult;
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

// Queues nLines while the drain is held off, then times one drain of them all.
void DrainThroughput(bool bPopup, int nLines)
{
    AfxSetTraceSink(&NoTrace);
    CBenchLogThread* p = StartLogThread(bPopup);
    p->WaitServed();
    LONGLONG t0;
    {
        CSingleLock lock(&p->m_csQueue, TRUE);
        for (int i = 0; i < nLines; ++i) {
            CString s;
            s.Format(L"Event time stamp %d: session 7f3c-0001, 2026-12-06 03:45:29.123", i);
            p->WriteLine(s);
        }
        t0 = Now();
    }
    p->WaitServed();
    double dSeconds = Ns(Now() - t0) / 1e9;
    Stop(p);
    AfxSetTraceSink(NULL);
    printf("Drain to the file, popup %s: %6d lines in %7.3f s = %9.0f lines/s\n", bPopup ? "shown" : "none ",
           nLines, dSeconds, nLines / dSeconds);
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
        dlg.ShowWindow(SW_HIDE);   // filled hidden, to keep the run short
        for (; nShown < nTarget; ++nShown) {
            CString s;
            s.Format(L"[2026-12-06 03:45:29 (+123.4567 ms)]: filler line %d\n", nShown);
            dlg.AppendText(s);
        }
        dlg.ShowWindow(SW_SHOW);
        ::UpdateWindow(dlg.m_hWnd);
        std::vector<double> samples;
        for (int i = 0; i < 20; ++i, ++nShown) {
            CString s;
            s.Format(L"[2026-12-06 03:45:29 (+123.4567 ms)]: measured line %d\n", i);
            LONGLONG t0 = Now();
            dlg.AppendText(s);
            ::UpdateWindow(dlg.m_hWnd);   // its repaint is part of its cost
            samples.push_back(Ns(Now() - t0));
        }
        Percentiles r = Summarise(samples);
        printf("Popup append (shown, repainted) at %5d lines:   median %9.3f ms, p99 %9.3f ms per line\n", nTarget,
               r.dMedian / 1e6, r.dP99 / 1e6);
    }
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

int main()
{
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    g_dTicksPerNs = double(f.QuadPart) / 1e9;

    printf("Logging thread figures (QueryPerformanceCounter at %lld Hz)\n\n", f.QuadPart);
    CallerCost(true);
    CallerCost(false);
    QueuingFloor();
    printf("\n");
    DrainThroughput(false, 9000);
    DrainThroughput(true, 200);
    PlainFileBaseline(20000);
    printf("\n");
    PopupAppendCost();
    return 0;
}
