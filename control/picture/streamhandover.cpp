// The hand-over between a camera stream's threads.
#include "streamhandover.h"

namespace {

const size_t MAX_DECODE_SAMPLES = 10000;

} // namespace

CStreamHandOver::CStreamHandOver(HWND hWndNotify, UINT uMsg, const std::wstring& strStatus)
    : m_evPart(CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_hWndNotify(hWndNotify), m_uMsg(uMsg),
      m_bNotifyPending(false), m_bDecoding(false), m_nStatusSerial(0), m_strStatus(strStatus)
{
    InitializeCriticalSection(&m_cs);
}

CStreamHandOver::~CStreamHandOver()
{
    if (m_evPart)
        CloseHandle(m_evPart);
    DeleteCriticalSection(&m_cs);
}

void CStreamHandOver::Detach()
{
    EnterCriticalSection(&m_cs);
    m_hWndNotify = nullptr;
    // What is still on its way is dropped now, so the counts add up at once.
    m_counts.m_nDropped += (m_pPart ? 1 : 0) + (m_bDecoding ? 1 : 0) + (m_pPending ? 1 : 0);
    m_bDecoding = false;
    m_pPart.reset();
    m_pPending.reset();
    LeaveCriticalSection(&m_cs);
}

std::unique_ptr<CStreamHandOver::CFrame> CStreamHandOver::TakeFrame()
{
    EnterCriticalSection(&m_cs);
    m_bNotifyPending = false;
    std::unique_ptr<CFrame> pFrame = std::move(m_pPending);
    LeaveCriticalSection(&m_cs);
    return pFrame;
}

std::wstring CStreamHandOver::Status() const
{
    EnterCriticalSection(&m_cs);
    std::wstring str = m_strStatus;
    LeaveCriticalSection(&m_cs);
    return str;
}

CStreamHandOver::CCounts CStreamHandOver::Counts() const
{
    EnterCriticalSection(&m_cs);
    CCounts counts = m_counts;
    LeaveCriticalSection(&m_cs);
    return counts;
}

void CStreamHandOver::NotifyLocked()
{
    if (!m_bNotifyPending && m_hWndNotify && PostMessageW(m_hWndNotify, m_uMsg, 0, 0))
        m_bNotifyPending = true;
}

void CStreamHandOver::SetStatus(const std::wstring& strStatus)
{
    EnterCriticalSection(&m_cs);
    if (m_strStatus != strStatus) {
        m_strStatus = strStatus;
        ++m_nStatusSerial;
        m_counts.m_nDropped += (m_pPart ? 1 : 0) + (m_pPending ? 1 : 0);
        m_pPart.reset();
        m_pPending.reset();
        NotifyLocked();
    }
    LeaveCriticalSection(&m_cs);
}

void CStreamHandOver::OfferPart(std::vector<unsigned char>& body)
{
    std::unique_ptr<CJpegPart> pPart(new CJpegPart);
    pPart->m_bytes.swap(body);
    SYSTEMTIME stNow;
    GetLocalTime(&stNow);
    OfferPart(std::move(pPart), stNow);
}

void CStreamHandOver::OfferPart(std::unique_ptr<CPartBody> pPart, const SYSTEMTIME& stReceived)
{
    EnterCriticalSection(&m_cs);
    // Counted only while the stream is attached, so its counts add up when it ends.
    if (m_hWndNotify) {
        ++m_counts.m_nReceived;
        if (m_pPart)
            ++m_counts.m_nDropped;
        m_pPart = std::move(pPart);
        m_stPart = stReceived;
        SetEvent(m_evPart);
    }
    LeaveCriticalSection(&m_cs);
}

void CStreamHandOver::CountConnection()
{
    EnterCriticalSection(&m_cs);
    ++m_counts.m_nConnections;
    LeaveCriticalSection(&m_cs);
}

ULONGLONG CStreamHandOver::PartsReceived() const
{
    EnterCriticalSection(&m_cs);
    const ULONGLONG nReceived = m_counts.m_nReceived;
    LeaveCriticalSection(&m_cs);
    return nReceived;
}

bool CStreamHandOver::TakePart(CPart* pPart)
{
    EnterCriticalSection(&m_cs);
    pPart->m_pBody = std::move(m_pPart);
    pPart->m_stReceived = m_stPart;
    pPart->m_nStatusSerial = m_nStatusSerial;
    m_bDecoding = pPart->m_pBody != nullptr;
    LeaveCriticalSection(&m_cs);
    return pPart->m_pBody != nullptr;
}

void CStreamHandOver::Decoded(std::unique_ptr<CFrame> pFrame, ULONG nStatusSerial, double dDecodeMs)
{
    EnterCriticalSection(&m_cs);
    // A detach meanwhile has counted this part as dropped already.
    if (m_bDecoding && !pFrame) {
        ++m_counts.m_nUndecodable;
    } else if (m_bDecoding && nStatusSerial != m_nStatusSerial) {
        ++m_counts.m_nDropped;
    } else if (m_bDecoding) {
        if (!pFrame->m_bits.empty() && m_counts.m_decodeMs.size() < MAX_DECODE_SAMPLES)
            m_counts.m_decodeMs.push_back(dDecodeMs);
        if (m_pPending)
            ++m_counts.m_nDropped;
        m_pPending = std::move(pFrame);
        m_strStatus.clear();
        NotifyLocked();
    }
    m_bDecoding = false;
    LeaveCriticalSection(&m_cs);
}

void CStreamHandOver::NotDecoded()
{
    EnterCriticalSection(&m_cs);
    // A detach meanwhile has counted this part as dropped already.
    if (m_bDecoding)
        ++m_counts.m_nDropped;
    m_bDecoding = false;
    LeaveCriticalSection(&m_cs);
}
