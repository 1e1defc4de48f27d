// The HTTP client in its asynchronous mode, for one owning thread.
#include <winsock2.h> // before windows.h: the connection's socket addresses

#include "httpclient.h"

#include "cameraurl.h"

#include <algorithm>
#include <cstring>

namespace {

const DWORD READ_CHUNK = 64 * 1024;
// A header value longer than this is not one the stand-in reads.
const DWORD MAX_HEADER_CHARS = 8 * 1024;

// What the owner hears of: completions, connections and closings.
const DWORD NOTICE_MASK = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                          WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER;

} // namespace

CHttpClient::CHttpClient() : m_hSession(nullptr), m_evNotice(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    InitializeCriticalSection(&m_cs);
}

CHttpClient::~CHttpClient()
{
    if (m_evNotice)
        CloseHandle(m_evNotice);
    DeleteCriticalSection(&m_cs);
}

bool CHttpClient::Open(const CLimits& limits)
{
    if (m_evNotice == nullptr)
        return false;
    // No proxy: cameras are reached directly.
    HINTERNET hSession = WinHttpOpen(L"DorsaViewerStandIn/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (hSession == nullptr)
        return false;
    m_hSession = Keep(hSession, false);
    m_limits = limits;
    WinHttpSetStatusCallback(hSession, Callback, NOTICE_MASK, 0);
    // No separate wait for the name (it would cost a thread each time); one
    // read waits at most for the silence limit, the answer's header lines
    // for their own limit.
    WinHttpSetTimeouts(hSession, 0, static_cast<int>(limits.m_nConnectMs), static_cast<int>(limits.m_nSilenceMs),
                       static_cast<int>(limits.m_nSilenceMs));
    DWORD dwValue = limits.m_nAnswerMs;
    WinHttpSetOption(hSession, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &dwValue, sizeof dwValue);
    // Redirects are the stand-in's to follow (only within the camera).
    dwValue = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(hSession, WINHTTP_OPTION_REDIRECT_POLICY, &dwValue, sizeof dwValue);
    return true;
}

HINTERNET CHttpClient::Keep(HINTERNET h, bool bRequest)
{
    std::unique_ptr<CHandle> pHandle(new CHandle);
    pHandle->m_pClient = this;
    pHandle->m_h = h;
    pHandle->m_bRequest = bRequest;
    if (bRequest)
        pHandle->m_buffer.resize(READ_CHUNK);
    CHandle* pContext = pHandle.get();
    WinHttpSetOption(h, WINHTTP_OPTION_CONTEXT_VALUE, &pContext, sizeof pContext);
    m_records.push_back(std::move(pHandle));
    return h;
}

CHttpClient::CHandle* CHttpClient::Find(HINTERNET h) const
{
    for (const std::unique_ptr<CHandle>& pHandle : m_records)
        if (pHandle->m_h == h && !pHandle->m_bClosed)
            return pHandle.get();
    return nullptr;
}

HINTERNET CHttpClient::Connect(const CCameraUrl& url)
{
    HINTERNET hConnect = WinHttpConnect(m_hSession, url.Host().c_str(), url.Port(), 0);
    return hConnect ? Keep(hConnect, false) : nullptr;
}

HINTERNET CHttpClient::OpenRequest(HINTERNET hConnect, const CCameraUrl& url)
{
    // The target is sent as it is: it was encoded already, and Digest signs it.
    HINTERNET hRequest = WinHttpOpenRequest(
        hConnect, L"GET", url.Target().c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY | (url.IsSecure() ? WINHTTP_FLAG_SECURE : 0));
    if (hRequest == nullptr)
        return nullptr;
    // A stream's connection is never reused, and closing its request closes it.
    DWORD dwValue = WINHTTP_DISABLE_KEEP_ALIVE | WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(hRequest, WINHTTP_OPTION_DISABLE_FEATURE, &dwValue, sizeof dwValue);
    dwValue = m_limits.m_nMaxHeaderBytes;
    WinHttpSetOption(hRequest, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &dwValue, sizeof dwValue);
    return Keep(hRequest, true);
}

bool CHttpClient::Send(HINTERNET hRequest, const std::string& strAuthorization)
{
    CHandle* pHandle = Find(hRequest);
    const std::wstring strHeader =
        strAuthorization.empty() ? std::wstring()
                                 : L"Authorization: " + std::wstring(strAuthorization.begin(), strAuthorization.end());
    pHandle->m_bConnecting = true;
    if (WinHttpSendRequest(hRequest, strHeader.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : strHeader.c_str(),
                           strHeader.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0,
                           reinterpret_cast<DWORD_PTR>(pHandle)))
        return true;
    pHandle->m_bConnecting = false;
    return false;
}

bool CHttpClient::ReceiveResponse(HINTERNET hRequest)
{
    return WinHttpReceiveResponse(hRequest, nullptr) != FALSE;
}

bool CHttpClient::QueryDataAvailable(HINTERNET hRequest)
{
    return WinHttpQueryDataAvailable(hRequest, nullptr) != FALSE;
}

bool CHttpClient::Read(HINTERNET hRequest, DWORD cbAvailable)
{
    // Never more than is there: some clients wait to fill the whole buffer.
    std::vector<BYTE>& buffer = Find(hRequest)->m_buffer;
    return WinHttpReadData(hRequest, buffer.data(), std::min<DWORD>(cbAvailable, static_cast<DWORD>(buffer.size())),
                           nullptr) != FALSE;
}

const BYTE* CHttpClient::ReadBuffer(HINTERNET hRequest) const
{
    const CHandle* pHandle = Find(hRequest);
    return pHandle ? pHandle->m_buffer.data() : nullptr;
}

DWORD CHttpClient::StatusCode(HINTERNET hRequest)
{
    DWORD dwStatus = 0;
    DWORD cb = sizeof dwStatus;
    WinHttpQueryHeaders(hRequest, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &dwStatus, &cb, WINHTTP_NO_HEADER_INDEX);
    return dwStatus;
}

bool CHttpClient::Header(HINTERNET hRequest, DWORD dwInfoLevel, DWORD nIndex, std::wstring* pstrValue)
{
    DWORD dwIndex = nIndex;
    DWORD cb = 0;
    WinHttpQueryHeaders(hRequest, dwInfoLevel, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &cb, &dwIndex);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || cb == 0 || cb > MAX_HEADER_CHARS * sizeof(wchar_t))
        return false;
    std::wstring str(cb / sizeof(wchar_t) + 1, L'\0');
    dwIndex = nIndex;
    if (!WinHttpQueryHeaders(hRequest, dwInfoLevel, WINHTTP_HEADER_NAME_BY_INDEX, &str[0], &cb, &dwIndex))
        return false;
    str.resize(cb / sizeof(wchar_t));
    *pstrValue = str;
    return true;
}

void CHttpClient::Close(HINTERNET h)
{
    CHandle* pHandle = Find(h);
    if (pHandle == nullptr)
        return;
    pHandle->m_bClosed = true;
    pHandle->m_nClosedTick = GetTickCount64();
    // Still connecting: closed once the two ends are known (TakeNotice, TakeSteps).
    if (!pHandle->m_bConnecting)
        CloseHandleOf(*pHandle);
}

void CHttpClient::CloseHandleOf(CHandle& handle)
{
    handle.m_bHandleClosed = true;
    handle.m_nHandleClosedTick = GetTickCount64();
    // Marked first: on some platforms the closing notice comes inside the call.
    if (!WinHttpCloseHandle(handle.m_h)) {
        // No closing notice will come for it.
        m_records.erase(std::find_if(m_records.begin(), m_records.end(),
                                     [&](const std::unique_ptr<CHandle>& pHandle) { return pHandle.get() == &handle; }));
    }
}

void CHttpClient::CloseAll()
{
    // Requests before their connections, the session last.
    for (bool bRequests : { true, false }) {
        std::vector<HINTERNET> handles;
        for (const std::unique_ptr<CHandle>& pHandle : m_records)
            if (!pHandle->m_bClosed && pHandle->m_bRequest == bRequests && pHandle->m_h != m_hSession)
                handles.push_back(pHandle->m_h);
        for (HINTERNET h : handles)
            Close(h);
    }
    Close(m_hSession);
}

bool CHttpClient::TakeNotice(CNotice* pNotice)
{
    for (;;) {
        EnterCriticalSection(&m_cs);
        const bool bAny = !m_mail.empty();
        CMail mail;
        if (bAny) {
            mail = m_mail.front();
            m_mail.pop_front();
        }
        LeaveCriticalSection(&m_cs);
        if (!bAny)
            return false;
        auto it = std::find_if(m_records.begin(), m_records.end(),
                               [&](const std::unique_ptr<CHandle>& pHandle) { return pHandle.get() == mail.m_pHandle; });
        if (it == m_records.end())
            continue;
        CHandle& handle = **it;
        if (mail.m_dwStatus == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
            m_records.erase(it);
            continue;
        }
        if (mail.m_bEnds) {
            handle.m_bConnected = true;
            handle.m_ends = mail.m_ends;
        }
        // Connected, or a completion (also a failure): no longer connecting.
        handle.m_bConnecting = false;
        if (handle.m_bClosed && !handle.m_bHandleClosed)
            CloseHandleOf(handle);
        if (handle.m_bClosed || mail.m_dwStatus == WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER)
            continue;
        pNotice->m_hRequest = handle.m_h;
        pNotice->m_dwStatus = mail.m_dwStatus;
        pNotice->m_dwValue = mail.m_dwValue;
        return true;
    }
}

// When a closed handle's next step is due: its deferred close (after the
// connect limit, when no word came), or breaking its connection (after the
// grace); 0 when none is.
ULONGLONG CHttpClient::StepDue(const CHandle& handle) const
{
    if (!handle.m_bClosed)
        return 0;
    if (!handle.m_bHandleClosed)
        return handle.m_nClosedTick + m_limits.m_nConnectMs + CLOSE_GRACE_MS;
    if (handle.m_bConnected && !handle.m_bBreakTried)
        return handle.m_nHandleClosedTick + CLOSE_GRACE_MS;
    return 0;
}

ULONGLONG CHttpClient::NextStepDue() const
{
    ULONGLONG nDue = 0;
    for (const std::unique_ptr<CHandle>& pHandle : m_records) {
        const ULONGLONG nHandleDue = StepDue(*pHandle);
        if (nHandleDue != 0 && (nDue == 0 || nHandleDue < nDue))
            nDue = nHandleDue;
    }
    return nDue;
}

void CHttpClient::TakeSteps(ULONGLONG nNow)
{
    for (size_t n = m_records.size(); n-- > 0;) {
        CHandle& handle = *m_records[n];
        const ULONGLONG nDue = StepDue(handle);
        if (nDue == 0 || nDue > nNow)
            continue;
        if (!handle.m_bHandleClosed) {
            CloseHandleOf(handle); // may drop the record
        } else {
            handle.m_bBreakTried = true;
            BreakConnection(handle.m_ends);
        }
    }
}

void CHttpClient::Post(const CMail& mail)
{
    EnterCriticalSection(&m_cs);
    m_mail.push_back(mail);
    LeaveCriticalSection(&m_cs);
    SetEvent(m_evNotice);
}

// Called on the client's threads (and, on some platforms, inside the
// owner's own calls): a notice for the mailbox, nothing more.
void CALLBACK CHttpClient::Callback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwStatus, LPVOID pvInfo,
                                    DWORD cbInfo)
{
    CHandle* pHandle = reinterpret_cast<CHandle*>(dwContext);
    // A handle's creation comes before it has a record, or with its parent's.
    if (pHandle == nullptr || pHandle->m_h != hInternet)
        return;
    CMail mail;
    mail.m_pHandle = pHandle;
    mail.m_dwStatus = dwStatus;
    switch (dwStatus) {
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        mail.m_dwValue = pvInfo ? *static_cast<const DWORD*>(pvInfo) : 0;
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        mail.m_dwValue = cbInfo;
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        mail.m_dwValue = pvInfo ? static_cast<const WINHTTP_ASYNC_RESULT*>(pvInfo)->dwError : 0;
        break;
    case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER: {
        // Asked here, on the thread that made the connection, while it stands
        // (the handle is still open: a request is closed only after this).
        WINHTTP_CONNECTION_INFO info = {};
        info.cbSize = sizeof info;
        DWORD cb = sizeof info;
        mail.m_bEnds = WinHttpQueryOption(hInternet, WINHTTP_OPTION_CONNECTION_INFO, &info, &cb) != FALSE;
        memcpy(mail.m_ends.m_local, &info.LocalAddress, sizeof mail.m_ends.m_local);
        memcpy(mail.m_ends.m_remote, &info.RemoteAddress, sizeof mail.m_ends.m_remote);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        break;
    default:
        return;
    }
    pHandle->m_pClient->Post(mail);
}
