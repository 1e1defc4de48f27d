// streambench: figures for the stand-in playing a camera's stream. The
// simulated camera runs in this process on 127.0.0.1 at 30 frames/s with its
// textured pictures; the control, hosted in a 640x480 window, plays it for a
// while at 640x480, 1280x720 and 1920x1080. Printed: what one camera picture
// weighs and costs to make, then per size pictures shown per second, decode
// and draw time per picture (from the control's journal), and the time from
// a picture leaving the camera to the TimeStamp the control raises right
// after drawing it (median and 99th percentile), and the CPU the process
// (camera and control) used, 100% being one core. The frame number is read back from the picture
// itself: the camera draws it as a row of black and white blocks.
//
//   streambench [LABEL=CONTROL.DLL ...]
// runs each size with each control DLL in turn (default: the one beside it),
// so two builds of the control can be compared in one run on the same pictures.
//
//   streambench --rtsp [LABEL=CONTROL.DLL ...]
// plays the test RTSP camera's H.264 stream instead (GStreamer's RTSP server,
// a Linux process, its moving test pattern) at 640x480/25, 1280x720/30 and
// 1920x1080/30 over interleaved TCP: per size the control's pictures shown
// per second, its frame times (from the journal; their medians added), and
// its process's processor time from /proc; then, on the same stream, FFmpeg's
// own player (Debian's ffplay, native, in a 640x480 window of the same X
// server) with the pictures it dropped and its processor time from /proc.
#include "framepainter.h"
#include "jpegdecoder.h"
#include "olehostsite.h"
#include "rtspcameraprocess.h"
#include "simcamera.h"
#include "viewerctlids.h"

#include <ocidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const UINT WINDOW_CX = 640;
const UINT WINDOW_CY = 480;
const UINT FPS = 30;
const DWORD WARM_UP_MS = 2000;
const DWORD MEASURE_MS = 10000;
const ULONG PAINT_SAMPLES = 90;
const SIZE SIZES[] = { { 640, 480 }, { 1280, 720 }, { 1920, 1080 } };
// The RTSP camera's streams: size and pictures a second.
struct CRtspStream
{
    UINT m_cx, m_cy, m_nFps;
};
const CRtspStream RTSP_STREAMS[] = { { 640, 480, 25 }, { 1280, 720, 30 }, { 1920, 1080, 30 } };
// Linux's clock ticks a second in /proc's figures (USER_HZ).
const double PROC_TICKS_PER_SECOND = 100.0;

// A control DLL to measure, under the name it is printed with.
struct CControlDll
{
    std::wstring m_strLabel;
    std::wstring m_strPath;
};

LONGLONG Now()
{
    LARGE_INTEGER n;
    QueryPerformanceCounter(&n);
    return n.QuadPart;
}

double Ms(LONGLONG nTicks)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return 1000.0 * static_cast<double>(nTicks) / static_cast<double>(f.QuadPart);
}

// The CPU time this process (camera and control) has used, in ms.
double ProcessCpuMs()
{
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    GetProcessTimes(GetCurrentProcess(), &ftCreation, &ftExit, &ftKernel, &ftUser);
    const ULONGLONG nTicks = (static_cast<ULONGLONG>(ftKernel.dwHighDateTime) << 32 | ftKernel.dwLowDateTime) +
                             (static_cast<ULONGLONG>(ftUser.dwHighDateTime) << 32 | ftUser.dwLowDateTime);
    return static_cast<double>(nTicks) / 10000.0;
}

// The processor time a Linux process has used, in ms, from /proc (Wine's own
// figures for a process are not to be trusted); "self" is this one. -1 when
// it has gone.
double ProcCpuMs(const std::string& strPid)
{
    FILE* pFile = _wfopen(WindowsPathOf("/proc/" + strPid + "/stat").c_str(), L"rb");
    if (!pFile)
        return -1;
    char sz[1024] = {};
    fread(sz, 1, sizeof sz - 1, pFile);
    fclose(pFile);
    // After the command's closing parenthesis: state, then utime and stime are the 12th and 13th numbers.
    const char* p = strrchr(sz, ')');
    unsigned long long nUser = 0, nSystem = 0;
    if (!p || sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &nUser, &nSystem) != 2)
        return -1;
    return static_cast<double>(nUser + nSystem) * 1000.0 / PROC_TICKS_PER_SECOND;
}

void Pump(DWORD nMs)
{
    const ULONGLONG nEnd = GetTickCount64() + nMs;
    while (GetTickCount64() < nEnd) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}

// Receives each TimeStamp and reads the shown picture's frame number back.
class CBenchSink : public IDispatch
{
public:
    // Without a camera in this process (an RTSP camera) it only counts.
    CBenchSink(HWND hwnd, const CSimCamera* pCamera, UINT cxFrame, UINT cyFrame)
        : m_hwnd(hwnd), m_pCamera(pCamera), m_fit(FitSize(cxFrame, cyFrame, WINDOW_CX, WINDOW_CY)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__DDorsaAPICOMViewerEvents
                   ? static_cast<IDispatch*>(this) : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* pn) override { *pn = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        const LONGLONG nShown = Now();
        if (!m_bMeasuring)
            return S_OK;
        ++m_nEvents;
        if (!m_pCamera)
            return S_OK;
        const LONGLONG nSent = m_pCamera->SentAt(ReadFrameNumber());
        if (nSent > 0 && nSent <= nShown)
            m_latencies.push_back(Ms(nShown - nSent));
        return S_OK;
    }

    bool m_bMeasuring = false;
    ULONG m_nEvents = 0;
    std::vector<double> m_latencies;

private:
    ULONG ReadFrameNumber() const
    {
        HDC hdc = GetDC(m_hwnd);
        const int x0 = (static_cast<int>(WINDOW_CX) - m_fit.cx) / 2;
        const int y0 = (static_cast<int>(WINDOW_CY) - m_fit.cy) / 2;
        const int y = y0 + m_fit.cy - m_fit.cy / 32;
        ULONG nFrame = 0;
        for (int nBit = 0; nBit < SIMCAM_CODE_BITS; ++nBit) {
            const COLORREF colour = GetPixel(hdc, x0 + (2 * nBit + 1) * m_fit.cx / (2 * SIMCAM_CODE_BITS), y);
            nFrame = (nFrame << 1) | (GetGValue(colour) > 128 ? 1 : 0);
        }
        ReleaseDC(m_hwnd, hdc);
        return nFrame;
    }

    HWND m_hwnd;
    const CSimCamera* m_pCamera;
    SIZE m_fit;
};

std::string MedianAndP99(std::vector<double> samples)
{
    if (samples.empty())
        return "-";
    std::sort(samples.begin(), samples.end());
    char sz[64];
    snprintf(sz, sizeof sz, "%.1f / %.1f", samples[samples.size() / 2],
             samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]);
    return sz;
}

std::string ReadText(const std::wstring& strPath)
{
    std::string strData;
    FILE* pFile = _wfopen(strPath.c_str(), L"rb");
    if (pFile) {
        char buffer[4096];
        size_t cb;
        while ((cb = fread(buffer, 1, sizeof buffer, pFile)) > 0)
            strData.append(buffer, cb);
        fclose(pFile);
    }
    return strData;
}

// The last line (or its end) that starts with pszPrefix.
std::string FindLine(const std::wstring& strPath, const char* pszPrefix)
{
    const std::string strData = ReadText(strPath);
    size_t nPos = strData.rfind(pszPrefix);
    return nPos == std::string::npos ? std::string() : strData.substr(nPos, strData.find('\n', nPos) - nPos);
}

HRESULT CreateControl(const std::wstring& strDll, IOleObject** ppObject)
{
    HMODULE hModule = LoadLibraryW(strDll.c_str());
    auto pfn = hModule ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
                             reinterpret_cast<void*>(GetProcAddress(hModule, "DllGetClassObject")))
                       : nullptr;
    IClassFactory* pFactory = nullptr;
    HRESULT hr = pfn ? pfn(CLSID_DorsaAPICOMViewer, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)) : E_FAIL;
    if (SUCCEEDED(hr)) {
        hr = pFactory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(ppObject));
        pFactory->Release();
    }
    return hr;
}

VARIANT Call(IDispatch* pDisp, DISPID dispid, std::vector<VARIANT> args)
{
    std::reverse(args.begin(), args.end());
    DISPPARAMS params = { args.data(), nullptr, static_cast<UINT>(args.size()), 0 };
    VARIANT result;
    VariantInit(&result);
    pDisp->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    for (VARIANT& arg : args)
        VariantClear(&arg);
    return result;
}

VARIANT Text(const std::wstring& str)
{
    VARIANT var;
    V_VT(&var) = VT_BSTR;
    V_BSTR(&var) = SysAllocString(str.c_str());
    return var;
}

std::string Narrow(const std::wstring& str)
{
    return std::string(str.begin(), str.end());
}

// What the camera's pictures weigh and cost to paint and encode, per size.
void PrintCameraPictures()
{
    printf("Camera pictures (quality %d), paint and encode median:", CFramePainter::JPEG_QUALITY);
    for (const SIZE& size : SIZES) {
        CFramePainter painter(size.cx, size.cy, 1);
        std::vector<double> times;
        size_t cbTotal = 0;
        for (ULONG nFrame = 0; nFrame < PAINT_SAMPLES; ++nFrame) {
            const LONGLONG nStart = Now();
            cbTotal += painter.Paint(nFrame).size();
            times.push_back(Ms(Now() - nStart));
        }
        std::sort(times.begin(), times.end());
        printf("  %ldx%ld %zu KB %.1f ms", size.cx, size.cy, cbTotal / PAINT_SAMPLES / 1024, times[times.size() / 2]);
    }
    printf("\n");
}

// What one control did with one camera's stream while measured.
struct CMeasured
{
    bool m_bHosted = false;
    double m_dSeconds = 0;
    double m_dShownPerSecond = 0;
    double m_dCpuPercent = 0;
    double m_dProcCpuPercent = 0;
    std::string m_strTimes;
    std::vector<double> m_latencies;
};

// Hosts the control in a window, plays the camera at 127.0.0.1:nPort through
// the plug-in in strFolder, and measures it; a camera in this process
// (pSimCamera) also gives each picture's latency and what it sent meanwhile.
CMeasured Measure(UINT cx, UINT cy, const CControlDll& dll, const std::wstring& strFolder, USHORT nPort,
                  CSimCamera* pSimCamera, ULONG* pnSent)
{
    CMeasured measured;
    const std::wstring strJournal = strFolder + L"\\journal.txt";
    DeleteFileW(strJournal.c_str());
    SetEnvironmentVariableW(L"DORSA_STANDIN_JOURNAL", strJournal.c_str());
    RECT rcFrame = { 0, 0, static_cast<LONG>(WINDOW_CX), static_cast<LONG>(WINDOW_CY) };
    AdjustWindowRect(&rcFrame, WS_OVERLAPPEDWINDOW, FALSE);
    HWND hwndParent = CreateWindowExW(0, L"STATIC", L"streambench", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 20,
                                      rcFrame.right - rcFrame.left, rcFrame.bottom - rcFrame.top, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    ShowWindow(hwndParent, SW_SHOWNOACTIVATE);
    COleHostSite site(hwndParent);
    IOleObject* pObject = nullptr;
    IDispatch* pDisp = nullptr;
    IConnectionPointContainer* pContainer = nullptr;
    IConnectionPoint* pPoint = nullptr;
    HWND hwndControl = nullptr;
    const RECT rcItem = { 0, 0, static_cast<LONG>(WINDOW_CX), static_cast<LONG>(WINDOW_CY) };
    if (FAILED(CreateControl(dll.m_strPath, &pObject)) ||
        FAILED(pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDisp))) ||
        FAILED(pObject->SetClientSite(&site)) ||
        FAILED(pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, hwndParent, &rcItem)) ||
        FAILED(pObject->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&pContainer))) ||
        FAILED(pContainer->FindConnectionPoint(DIID__DDorsaAPICOMViewerEvents, &pPoint))) {
        printf("%ux%u: the control %s could not be hosted\n", cx, cy, Narrow(dll.m_strPath).c_str());
        return measured;
    }
    IOleInPlaceObject* pInPlace = nullptr;
    pObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&pInPlace));
    pInPlace->GetWindow(&hwndControl);
    pInPlace->Release();
    CBenchSink sink(hwndControl, pSimCamera, cx, cy);
    DWORD dwCookie = 0;
    pPoint->Advise(static_cast<IDispatch*>(&sink), &dwCookie);

    Call(pDisp, DISPID_DORSA_SETPLUGINPATH, { Text(strFolder) });
    VARIANT varSession = Call(pDisp, DISPID_DORSA_STARTSTREAM,
                              { Text(L"NOW"), Text(L"INFINITE"), Text(L"127.0.0.1"), Text(std::to_wstring(nPort)),
                                Text(L"1"), Text(L""), Text(L""), Text(L"") });
    const std::wstring strSession = V_VT(&varSession) == VT_BSTR && V_BSTR(&varSession) ? V_BSTR(&varSession) : L"";
    VariantClear(&varSession);
    VARIANT varSpeed;
    V_VT(&varSpeed) = VT_R4;
    V_R4(&varSpeed) = 1.0f;
    Call(pDisp, DISPID_DORSA_PLAYFORWARD, { Text(strSession), varSpeed });
    Pump(WARM_UP_MS);
    const ULONG nSentBefore = pSimCamera ? pSimCamera->FramesSent() : 0;
    sink.m_bMeasuring = true;
    const double dCpuBefore = ProcessCpuMs();
    const double dProcCpuBefore = ProcCpuMs("self");
    const LONGLONG nStart = Now();
    Pump(MEASURE_MS);
    sink.m_bMeasuring = false;
    measured.m_bHosted = true;
    measured.m_dSeconds = Ms(Now() - nStart) / 1000.0;
    measured.m_dCpuPercent = (ProcessCpuMs() - dCpuBefore) / measured.m_dSeconds / 10.0;
    measured.m_dProcCpuPercent = (ProcCpuMs("self") - dProcCpuBefore) / measured.m_dSeconds / 10.0;
    measured.m_dShownPerSecond = sink.m_nEvents / measured.m_dSeconds;
    measured.m_latencies = sink.m_latencies;
    if (pSimCamera)
        *pnSent = pSimCamera->FramesSent() - nSentBefore;
    Call(pDisp, DISPID_DORSA_STOPSTREAM, { Text(strSession) });
    measured.m_strTimes = FindLine(strJournal, "Frame times: ");

    pPoint->Unadvise(dwCookie);
    pPoint->Release();
    pContainer->Release();
    pObject->Close(OLECLOSE_NOSAVE);
    pObject->SetClientSite(nullptr);
    pDisp->Release();
    pObject->Release();
    DestroyWindow(hwndParent);
    DeleteFileW(strJournal.c_str());
    return measured;
}

void RunOne(UINT cx, UINT cy, const CControlDll& dll, const std::wstring& strFolder)
{
    CSimCamera camera;
    CSimCamera::COptions options;
    options.m_cx = cx;
    options.m_cy = cy;
    options.m_nFps = FPS;
    if (!camera.Start(options)) {
        printf("%ux%u: the camera could not start\n", cx, cy);
        return;
    }
    ULONG nSent = 0;
    const CMeasured measured = Measure(cx, cy, dll, strFolder, camera.Port(), &camera, &nSent);
    camera.Stop();
    if (!measured.m_bHosted)
        return;
    double dDecodeMedian = 0, dDecodeP99 = 0, dDrawMedian = 0, dDrawP99 = 0;
    sscanf(measured.m_strTimes.c_str(), "Frame times: decode median %lf p99 %lf, draw median %lf p99 %lf",
           &dDecodeMedian, &dDecodeP99, &dDrawMedian, &dDrawP99);
    printf("%-8s %4ux%-4u  sent %5.1f/s  shown %5.1f/s  decode %5.1f / %5.1f ms  draw %4.1f / %4.1f ms"
           "  decode+draw medians %5.1f ms  latency %s ms  cpu %3.0f%%\n",
           Narrow(dll.m_strLabel).c_str(), cx, cy, nSent / measured.m_dSeconds, measured.m_dShownPerSecond,
           dDecodeMedian, dDecodeP99, dDrawMedian, dDrawP99, dDecodeMedian + dDrawMedian,
           MedianAndP99(measured.m_latencies).c_str(), measured.m_dCpuPercent);
    fflush(stdout);
}

// The sum of every "median N" in the journal's frame times (decode, convert, draw...).
double SumOfMedians(const std::string& strTimes)
{
    double dSum = 0;
    for (size_t nAt = strTimes.find("median "); nAt != std::string::npos; nAt = strTimes.find("median ", nAt + 1))
        dSum += atof(strTimes.c_str() + nAt + 7);
    return dSum;
}

// Debian's ffplay showing the same stream in a 640x480 window of this X
// server, measured as long as the control: its processor time from /proc and
// the pictures it dropped meanwhile (its status line's fd=).
void RunFfplay(const CRtspStream& stream, const std::string& strUrl)
{
    const std::string strBase = "/tmp/streambench-ffplay-" + std::to_string(GetCurrentProcessId());
    const std::wstring strLog = WindowsPathOf(strBase + ".log");
    auto dropped = [&]() {
        const std::string strStatus = FindLine(strLog, "fd=");
        return strStatus.empty() ? 0L : atol(strStatus.c_str() + 3);
    };
    if (!RunUnixCommand("/usr/bin/ffplay -hide_banner -loglevel error -stats -an -rtsp_transport tcp -x " +
                        std::to_string(WINDOW_CX) + " -y " + std::to_string(WINDOW_CY) + " -window_title ffplay '" +
                        strUrl + "' >" + strBase + ".log 2>&1 & echo $! >" + strBase + ".pid")) {
        printf("ffplay   %4ux%-4u     could not be started\n", stream.m_cx, stream.m_cy);
        return;
    }
    Sleep(WARM_UP_MS);
    std::string strPid = ReadText(WindowsPathOf(strBase + ".pid"));
    strPid = strPid.substr(0, strPid.find_first_not_of("0123456789"));
    const double dCpuBefore = strPid.empty() ? -1 : ProcCpuMs(strPid);
    const long nDroppedBefore = dropped();
    const LONGLONG nStart = Now();
    Sleep(MEASURE_MS);
    const double dCpuAfter = strPid.empty() ? -1 : ProcCpuMs(strPid);
    const double dSeconds = Ms(Now() - nStart) / 1000.0;
    const long nDropped = dropped() - nDroppedBefore;
    if (dCpuBefore < 0 || dCpuAfter < 0)
        printf("ffplay   %4ux%-4u/%u  did not play: %s\n", stream.m_cx, stream.m_cy, stream.m_nFps,
               ReadText(strLog).c_str());
    else
        printf("ffplay   %4ux%-4u/%u  dropped %5.1f/s  cpu %3.0f%% (/proc)\n", stream.m_cx, stream.m_cy,
               stream.m_nFps, nDropped / dSeconds, (dCpuAfter - dCpuBefore) / dSeconds / 10.0);
    fflush(stdout);
    if (!strPid.empty()) {
        RunUnixCommand("kill " + strPid);
        for (int n = 0; n < 200 && ProcCpuMs(strPid) >= 0; ++n)
            Sleep(50);
    }
    RunUnixCommand("rm -f " + strBase + ".log " + strBase + ".pid");
}

// The control, then ffplay, on the test RTSP camera's H.264 stream at each size.
void RunRtsp(const std::vector<CControlDll>& dlls, const std::wstring& strFolder)
{
    if (!CRtspCameraProcess::Available()) {
        printf("The test RTSP camera can't run here: GStreamer's RTSP server is missing (tools/setup.sh)\n");
        return;
    }
    const std::wstring strPlugin = strFolder + L"\\rtsp.plugin";
    FILE* pFile = _wfopen(strPlugin.c_str(), L"wb");
    if (pFile) {
        fputs("url=rtsp://{ip}:{port}/h264\ntransport=tcp\n", pFile);
        fclose(pFile);
    }
    printf("Test RTSP camera, H.264 over interleaved TCP; control window and ffplay window %ux%u;"
           " %lu s measured after %lu s.\n", WINDOW_CX, WINDOW_CY, MEASURE_MS / 1000, WARM_UP_MS / 1000);
    printf("Frame times are the control's journal's (median / 99th percentile); cpu is the process's, from /proc,\n"
           "100%% being one core.\n");
    fflush(stdout);
    for (const CRtspStream& stream : RTSP_STREAMS) {
        CRtspCameraProcess camera;
        if (!camera.Start("--size " + std::to_string(stream.m_cx) + "x" + std::to_string(stream.m_cy) + " --fps " +
                          std::to_string(stream.m_nFps))) {
            printf("%ux%u: the test RTSP camera could not start\n", stream.m_cx, stream.m_cy);
            continue;
        }
        for (const CControlDll& dll : dlls) {
            const CMeasured measured =
                Measure(stream.m_cx, stream.m_cy, dll, strFolder, camera.Port(), nullptr, nullptr);
            if (!measured.m_bHosted)
                continue;
            printf("%-8s %4ux%-4u/%u  shown %5.1f/s  medians added %5.1f ms  cpu %3.0f%% (/proc)  [%s]\n",
                   Narrow(dll.m_strLabel).c_str(), stream.m_cx, stream.m_cy, stream.m_nFps,
                   measured.m_dShownPerSecond, SumOfMedians(measured.m_strTimes), measured.m_dProcCpuPercent,
                   measured.m_strTimes.empty() ? "no frame times in the journal" : measured.m_strTimes.c_str());
            fflush(stdout);
        }
        RunFfplay(stream, camera.Url() + "h264");
    }
    DeleteFileW(strPlugin.c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<CControlDll> dlls;
    const bool bRtsp = argc > 1 && std::wstring(argv[1]) == L"--rtsp";
    for (int n = bRtsp ? 2 : 1; n < argc; ++n) {
        const std::wstring strArg = argv[n];
        const size_t nEquals = strArg.find(L'=');
        if (nEquals == std::wstring::npos || nEquals == 0) {
            printf("usage: streambench [--rtsp] [LABEL=CONTROL.DLL ...]\n");
            return 2;
        }
        dlls.push_back({ strArg.substr(0, nEquals), strArg.substr(nEquals + 1) });
    }
    if (dlls.empty())
        dlls.push_back({ L"control", L"dorsaviewerctl.dll" });
    OleInitialize(nullptr);
    wchar_t szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    const std::wstring strFolder = std::wstring(szTemp) + L"streambench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(strFolder.c_str(), nullptr);
    if (bRtsp) {
        RunRtsp(dlls, strFolder);
        RemoveDirectoryW(strFolder.c_str());
        OleUninitialize();
        return 0;
    }
    const std::wstring strPlugin = strFolder + L"\\mjpeg-http.plugin";
    FILE* pFile = _wfopen(strPlugin.c_str(), L"wb");
    if (pFile) {
        fputs("url=http://{ip}:{port}/video{channel}.mjpg\n", pFile);
        fclose(pFile);
    }
    printf("Camera at %u frames/s on 127.0.0.1; control window %ux%u; %lu s measured after %lu s.\n", FPS, WINDOW_CX,
           WINDOW_CY, MEASURE_MS / 1000, WARM_UP_MS / 1000);
    printf("Times are median / 99th percentile; latency is camera send to picture drawn;"
           " cpu is the whole process's.\n");
    PrintCameraPictures();
    fflush(stdout);
    for (const SIZE& size : SIZES)
        for (const CControlDll& dll : dlls)
            RunOne(size.cx, size.cy, dll, strFolder);
    DeleteFileW(strPlugin.c_str());
    RemoveDirectoryW(strFolder.c_str());
    OleUninitialize();
    return 0;
}
