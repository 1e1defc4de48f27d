// A camera's stream: its threads, started and stopped.
#include "camerastream.h"

#include "streamwords.h"

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
        (pStream.get()->*body)();
    }
    if (hModule)
        FreeLibraryAndExitThread(hModule, 0);
    return 0;
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
