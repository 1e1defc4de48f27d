// A camera's stream: its two threads, started and stopped.
#include "mjpegstream.h"

#include "cameraurl.h"
#include "standinswitches.h"
#include "streamsession.h"

namespace {

// What a stream thread starts with: its stream, its work, and the reference
// on this DLL that keeps the code loaded for as long as the thread runs it.
struct CThreadStart
{
    std::shared_ptr<CMjpegStream> m_pStream;
    void (CMjpegStream::*m_body)();
    HMODULE m_hModule;
};

} // namespace

std::wstring CMjpegStream::ShownAddress(const std::wstring& strUrl)
{
    return ShownAddressOf(strUrl);
}

std::shared_ptr<CMjpegStream> CMjpegStream::Start(const CTarget& target, HWND hWndNotify, UINT uMsg)
{
    std::shared_ptr<CMjpegStream> pStream(new CMjpegStream(target, hWndNotify, uMsg));
    if (!pStream->StartThread(pStream, &CMjpegStream::DecodeLoop) ||
        !pStream->StartThread(pStream, &CMjpegStream::ReadLoop)) {
        pStream->m_handOver.SetStatus(CStreamWords(pStream->m_strAddress).NoThread());
        SetEvent(pStream->m_evStop);
    }
    return pStream;
}

CMjpegStream::CMjpegStream(const CTarget& target, HWND hWndNotify, UINT uMsg)
    : m_target(target), m_strAddress(ShownAddress(target.m_strUrl)),
      m_evStop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_bShown(false), m_cxView(0), m_cyView(0),
      m_handOver(hWndNotify, uMsg, CStreamWords(m_strAddress).Connecting())
{
}

CMjpegStream::~CMjpegStream()
{
    if (m_evStop)
        CloseHandle(m_evStop);
}

bool CMjpegStream::StartThread(const std::shared_ptr<CMjpegStream>& pSelf, ThreadBody body)
{
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&CMjpegStream::ThreadProc),
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

DWORD WINAPI CMjpegStream::ThreadProc(LPVOID pParam)
{
    CThreadStart* pStart = static_cast<CThreadStart*>(pParam);
    HMODULE hModule = pStart->m_hModule;
    {
        std::shared_ptr<CMjpegStream> pStream = pStart->m_pStream;
        const ThreadBody body = pStart->m_body;
        delete pStart;
        (pStream.get()->*body)();
    }
    if (hModule)
        FreeLibraryAndExitThread(hModule, 0);
    return 0;
}

void CMjpegStream::Stop()
{
    m_handOver.Detach();
    SetEvent(m_evStop);
}

void CMjpegStream::SetView(bool bShown, UINT cx, UINT cy)
{
    m_cxView = cx;
    m_cyView = cy;
    m_bShown = bShown;
}

// The reading thread.
void CMjpegStream::ReadLoop()
{
    CStreamSession::CSettings settings;
    settings.m_strUrl = m_target.m_strUrl;
    settings.m_strUser = standin::ToUtf8(m_target.m_strUser);
    settings.m_strPassword = standin::ToUtf8(m_target.m_strPassword);
    if (m_target.m_nSilenceMs > 0)
        settings.m_nSilenceMs = m_target.m_nSilenceMs;
    CStreamSession session(settings, m_handOver, m_evStop);
    session.Run();
}

// The decoding thread: the newest part each time, at the size it is shown;
// none for a stream no one sees. A few parts in a row that are no picture
// make the picture say so.
void CMjpegStream::DecodeLoop()
{
    CJpegDecoder decoder;
    ULONG nUndecodable = 0;
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
        const UINT cxView = m_cxView, cyView = m_cyView;
        if (cxView == 0 || cyView == 0) {
            // It came, but there is nowhere to draw it.
            m_handOver.Decoded(std::move(pFrame), part.m_nStatusSerial, 0.0);
            continue;
        }
        LARGE_INTEGER nFreq, nStart, nEnd;
        QueryPerformanceFrequency(&nFreq);
        QueryPerformanceCounter(&nStart);
        const bool bDecoded =
            decoder.Decode(part.m_pBytes->data(), part.m_pBytes->size(), cxView, cyView, pFrame.get());
        QueryPerformanceCounter(&nEnd);
        if (!bDecoded)
            pFrame.reset();
        m_handOver.Decoded(std::move(pFrame), part.m_nStatusSerial,
                           1000.0 * static_cast<double>(nEnd.QuadPart - nStart.QuadPart) /
                               static_cast<double>(nFreq.QuadPart));
        nUndecodable = bDecoded ? 0 : nUndecodable + 1;
        if (nUndecodable == UNDECODABLE_IN_A_ROW)
            m_handOver.SetStatus(CStreamWords(m_strAddress).Undecodable(
                CJpegDecoder::LooksLikeJpeg(part.m_pBytes->data(), part.m_pBytes->size())));
    }
}
