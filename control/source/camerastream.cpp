// A camera's stream: its threads, started and stopped.
#include "camerastream.h"

#include "streamwords.h"

#include <new>

namespace {

// What a stream thread starts with: its stream, its work, and the reference
// on this DLL that keeps the code loaded for as long as the thread runs it.
struct CThreadStart
{
    std::shared_ptr<CCameraStream> m_pStream;
    void (CCameraStream::*m_body)();
    HMODULE m_hModule;
};

} // namespace

CCameraStream::CCameraStream(const std::wstring& strAddress, HWND hWndNotify, UINT uMsg)
    : m_strAddress(strAddress), m_evStop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_cxView(0), m_cyView(0),
      m_bShown(false), m_handOver(hWndNotify, uMsg, CStreamWords(strAddress).Connecting())
{
}

CCameraStream::~CCameraStream()
{
    if (m_evStop)
        CloseHandle(m_evStop);
}

void CCameraStream::StartThreads(const std::shared_ptr<CCameraStream>& pSelf, std::initializer_list<ThreadBody> bodies)
{
    for (ThreadBody body : bodies) {
        if (!pSelf->StartThread(pSelf, body)) {
            pSelf->m_handOver.SetStatus(CStreamWords(pSelf->m_strAddress).NoThread());
            SetEvent(pSelf->m_evStop);
            return;
        }
    }
}

bool CCameraStream::StartThread(const std::shared_ptr<CCameraStream>& pSelf, ThreadBody body)
{
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&CCameraStream::ThreadProc),
                       &hModule);
    CThreadStart* pStart = new CThreadStart{ pSelf, body, hModule };
    HANDLE hThread = m_evStop ? CreateThread(nullptr, 0, ThreadProc, pStart, 0, nullptr) : nullptr;
    if (hThread == nullptr) {
        delete pStart;
        if (hModule)
            FreeLibrary(hModule);
        return false;
    }
    CloseHandle(hThread);
    return true;
}

DWORD WINAPI CCameraStream::ThreadProc(LPVOID pParam)
{
    CThreadStart* pStart = static_cast<CThreadStart*>(pParam);
    HMODULE hModule = pStart->m_hModule;
    {
        std::shared_ptr<CCameraStream> pStream = pStart->m_pStream;
        const ThreadBody body = pStart->m_body;
        delete pStart;
        try {
            (pStream.get()->*body)();
        } catch (const std::bad_alloc&) {
            // Out of memory ends the stream, not the host: what the thread
            // held is given back by now.
            pStream->EndOutOfMemory();
        }
    }
    if (hModule)
        FreeLibraryAndExitThread(hModule, 0);
    return 0;
}

void CCameraStream::EndOutOfMemory()
{
    try {
        m_handOver.SetStatus(CStreamWords(m_strAddress).OutOfMemory());
    } catch (const std::bad_alloc&) {
    }
    SetEvent(m_evStop);
    WakeForStop();
}

void CCameraStream::Stop()
{
    m_handOver.Detach();
    SetEvent(m_evStop);
    WakeForStop();
}

void CCameraStream::SetView(bool bShown, UINT cx, UINT cy)
{
    m_cxView = cx;
    m_cyView = cy;
    m_bShown = bShown;
}

void CCameraStream::PictureLoop(const MakePicture& make)
{
    const HANDLE handles[2] = { m_evStop, m_handOver.PartEvent() };
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        CStreamHandOver::CPart part;
        if (!m_handOver.TakePart(&part))
            continue;
        if (!m_bShown) {
            m_handOver.NotDecoded();
            continue;
        }
        std::unique_ptr<CFrame> pFrame(new CFrame);
        pFrame->m_stReceived = part.m_stReceived;
        const UINT cx = m_cxView;
        const UINT cy = m_cyView;
        if (cx == 0 || cy == 0) {
            // It came, but there is nowhere to draw it.
            m_handOver.Decoded(std::move(pFrame), part.m_nStatusSerial, 0.0);
            continue;
        }
        LARGE_INTEGER nFreq, nStart, nEnd;
        QueryPerformanceFrequency(&nFreq);
        QueryPerformanceCounter(&nStart);
        const bool bMade = make(part, cx, cy, pFrame.get());
        QueryPerformanceCounter(&nEnd);
        if (!bMade)
            pFrame.reset();
        m_handOver.Decoded(std::move(pFrame), part.m_nStatusSerial,
                           1000.0 * static_cast<double>(nEnd.QuadPart - nStart.QuadPart) /
                               static_cast<double>(nFreq.QuadPart));
    }
}
