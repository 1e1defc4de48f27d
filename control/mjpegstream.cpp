// The stream thread: connect, authenticate, read, split, decode, hand over.
#include "mjpegstream.h"

#include "signin.h"
#include "multipartparser.h"
#include "standinswitches.h"

#include <winhttp.h>

#include <algorithm>

namespace {

// The HTTP client can't be interrupted while it waits for the camera (and
// on some platforms can't be used again after such a wait timed out), so no
// single wait is long: a stop ends the connection within this time.
const DWORD RECEIVE_WAIT_MS = 500;
const DWORD CONNECT_WAIT_MS = 3000;
// A camera quiet for longer than one wait is reconnected at once; after this
// long without a byte it counts as sending nothing.
const ULONGLONG SILENCE_LIMIT_MS = 5000;
// Some HTTP clients report a read that timed out as the socket's own error.
const DWORD ERROR_SOCKET_TIMED_OUT = 10060;
const DWORD FIRST_PAUSE_MS = 1000;
const DWORD LONGEST_PAUSE_MS = 30000;
const DWORD READ_CHUNK = 64 * 1024;
const size_t MAX_HEADER_CHARS = 8 * 1024;
const size_t MAX_DECODE_SAMPLES = 10000;

// UTF-8 form of a wide text, as the HTTP headers and the digest want it.
std::string ToUtf8(const std::wstring& str) { return standin::ToUtf8(str.c_str(), static_cast<int>(str.size())); }

std::wstring FromAscii(const std::string& str)
{
    return std::wstring(str.begin(), str.end());
}

// One response header (index nIndex of its kind), bounded in length.
bool QueryHeader(HINTERNET hRequest, DWORD dwInfoLevel, DWORD nIndex, std::wstring* pstrValue)
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

DWORD StatusCode(HINTERNET hRequest)
{
    DWORD dwStatus = 0;
    DWORD cb = sizeof dwStatus;
    WinHttpQueryHeaders(hRequest, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &dwStatus, &cb, WINHTTP_NO_HEADER_INDEX);
    return dwStatus;
}

// The Authorization value for the camera's challenges; empty when none can be given.
std::string AnswerChallenges(HINTERNET hRequest, const std::string& strUser, const std::string& strPassword,
                             const std::string& strUri)
{
    std::vector<CAuthChallenge> challenges;
    std::wstring strChallenge;
    for (DWORD n = 0; n < 8 && QueryHeader(hRequest, WINHTTP_QUERY_WWW_AUTHENTICATE, n, &strChallenge); ++n)
        ParseChallenges(ToUtf8(strChallenge), &challenges);
    CSignIn signIn(strUser, strPassword);
    std::string strValue;
    return signIn.Answer(challenges, strUri, &strValue) == CSignIn::ANSWERED ? strValue : std::string();
}

} // namespace

std::wstring CMjpegStream::ShownAddress(const std::wstring& strUrl)
{
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    if (strUrl.empty() || !WinHttpCrackUrl(strUrl.c_str(), static_cast<DWORD>(strUrl.size()), 0, &parts) ||
        parts.lpszHostName == nullptr || parts.dwHostNameLength == 0)
        return L"(no address)";
    return std::wstring(parts.lpszHostName, parts.dwHostNameLength) + L":" + std::to_wstring(parts.nPort);
}

std::shared_ptr<CMjpegStream> CMjpegStream::Start(const CTarget& target, HWND hWndNotify, UINT uMsg)
{
    std::shared_ptr<CMjpegStream> pStream(new CMjpegStream(target, hWndNotify, uMsg));
    if (!pStream->StartThread(pStream, &CMjpegStream::DecodeLoop) || !pStream->StartThread(pStream, &CMjpegStream::Run)) {
        pStream->SetStatus(L"The stand-in could not start a thread for camera " + pStream->m_strAddress + L".");
        pStream->m_bStop = true;
        SetEvent(pStream->m_evStop);
    }
    return pStream;
}

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

bool CMjpegStream::StartThread(const std::shared_ptr<CMjpegStream>& pSelf, ThreadBody body)
{
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&CMjpegStream::ThreadProc), &hModule);
    CThreadStart* pStart = new CThreadStart{ pSelf, body, hModule };
    HANDLE hThread = CreateThread(nullptr, 0, ThreadProc, pStart, 0, nullptr);
    if (hThread == nullptr) {
        delete pStart;
        if (hModule)
            FreeLibrary(hModule);
        return false;
    }
    CloseHandle(hThread);
    return true;
}

CMjpegStream::CMjpegStream(const CTarget& target, HWND hWndNotify, UINT uMsg)
    : m_target(target), m_strAddress(ShownAddress(target.m_strUrl)),
      m_evStop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_evPart(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_bStop(false), m_cxView(0), m_cyView(0),
      m_nLastDataTick(0), m_hWndNotify(hWndNotify), m_uMsg(uMsg), m_bNotifyPending(false), m_bDecoding(false), m_nStatusSerial(0),
      m_strStatus(L"Connecting to camera " + m_strAddress + L"...")
{
    InitializeCriticalSection(&m_cs);
}

CMjpegStream::~CMjpegStream()
{
    if (m_evStop)
        CloseHandle(m_evStop);
    if (m_evPart)
        CloseHandle(m_evPart);
    DeleteCriticalSection(&m_cs);
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
    m_bStop = true;
    if (m_evStop)
        SetEvent(m_evStop);
    // What is still on its way is dropped now, so the counts add up at once.
    EnterCriticalSection(&m_cs);
    m_hWndNotify = nullptr;
    m_counts.m_nDropped += (m_pPart ? 1 : 0) + (m_bDecoding ? 1 : 0) + (m_pPending ? 1 : 0);
    m_bDecoding = false;
    m_pPart.reset();
    m_pPending.reset();
    LeaveCriticalSection(&m_cs);
}

std::unique_ptr<CMjpegStream::CFrame> CMjpegStream::TakeFrame()
{
    EnterCriticalSection(&m_cs);
    m_bNotifyPending = false;
    std::unique_ptr<CFrame> pFrame = std::move(m_pPending);
    LeaveCriticalSection(&m_cs);
    return pFrame;
}

std::wstring CMjpegStream::Status() const
{
    EnterCriticalSection(&m_cs);
    std::wstring str = m_strStatus;
    LeaveCriticalSection(&m_cs);
    return str;
}

void CMjpegStream::SetViewSize(UINT cx, UINT cy)
{
    m_cxView = cx;
    m_cyView = cy;
}

CMjpegStream::CCounts CMjpegStream::Counts() const
{
    EnterCriticalSection(&m_cs);
    CCounts counts = m_counts;
    LeaveCriticalSection(&m_cs);
    return counts;
}

void CMjpegStream::NotifyLocked()
{
    if (!m_bNotifyPending && m_hWndNotify && PostMessageW(m_hWndNotify, m_uMsg, 0, 0))
        m_bNotifyPending = true;
}

void CMjpegStream::SetStatus(const std::wstring& strStatus)
{
    EnterCriticalSection(&m_cs);
    if (m_strStatus != strStatus) {
        m_strStatus = strStatus;
        // Pictures from before the change must not cover what it says.
        ++m_nStatusSerial;
        m_counts.m_nDropped += (m_pPart ? 1 : 0) + (m_pPending ? 1 : 0);
        m_pPart.reset();
        m_pPending.reset();
        NotifyLocked();
    }
    LeaveCriticalSection(&m_cs);
}

void CMjpegStream::Run()
{
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // No proxy: cameras are reached directly.
    HINTERNET hSession = WinHttpOpen(L"DorsaViewerStandIn/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (hSession) {
        WinHttpSetTimeouts(hSession, CONNECT_WAIT_MS, CONNECT_WAIT_MS, CONNECT_WAIT_MS, RECEIVE_WAIT_MS);
        // Waiting for the answer's headers has a bound of its own.
        DWORD dwWait = RECEIVE_WAIT_MS;
        WinHttpSetOption(hSession, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &dwWait, sizeof dwWait);
    }
    DWORD dwPause = FIRST_PAUSE_MS;
    m_nLastDataTick = GetTickCount64();
    while (!StopRequested()) {
        std::wstring strFailure;
        const ULONGLONG nFramesBefore = Counts().m_nReceived;
        const Outcome outcome = hSession ? Connect(hSession, &strFailure) : ENDED_FAILED;
        if (hSession == nullptr)
            strFailure = L"The stand-in has no HTTP client for camera " + m_strAddress + L".";
        if (outcome == ENDED_STOPPED || StopRequested())
            break;
        if (outcome == ENDED_QUIET)
            continue;
        // A connection that brought pictures starts the pauses afresh.
        if (Counts().m_nReceived > nFramesBefore)
            dwPause = FIRST_PAUSE_MS;
        SetStatus(strFailure + L"\nTrying again in " + std::to_wstring(dwPause / 1000) + L" s.");
        if (WaitForSingleObject(m_evStop, dwPause) != WAIT_TIMEOUT)
            break;
        dwPause = std::min(dwPause * 2, LONGEST_PAUSE_MS);
        m_nLastDataTick = GetTickCount64();
        SetStatus(L"Connecting to camera " + m_strAddress + L"...");
    }
    if (hSession)
        WinHttpCloseHandle(hSession);
    if (SUCCEEDED(hrCom))
        CoUninitialize();
}

CMjpegStream::Outcome CMjpegStream::FailureOf(DWORD dwError, bool bResponseStarted, std::wstring* pstrFailure) const
{
    if (StopRequested())
        return ENDED_STOPPED;
    switch (dwError) {
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_SOCKET_TIMED_OUT:
        if (GetTickCount64() - m_nLastDataTick < SILENCE_LIMIT_MS)
            return ENDED_QUIET;
        *pstrFailure = bResponseStarted ? L"Camera " + m_strAddress + L" sends nothing."
                                        : L"Camera " + m_strAddress + L" does not answer.";
        break;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        *pstrFailure = L"Camera " + m_strAddress + L" can't be reached or refuses the connection.";
        break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        *pstrFailure = L"The camera's address " + m_strAddress + L" can't be found.";
        break;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        *pstrFailure = L"Camera " + m_strAddress + L" does not answer in HTTP.";
        break;
    default:
        *pstrFailure = bResponseStarted ? L"The stream from camera " + m_strAddress + L" was cut off."
                                        : L"Camera " + m_strAddress + L" closed the connection (error " +
                                              std::to_wstring(dwError) + L").";
        break;
    }
    return ENDED_FAILED;
}

// One connection: request (answering one challenge for credentials), check
// the answer, then read the stream until it ends or a stop is asked for.
CMjpegStream::Outcome CMjpegStream::Connect(HINTERNET hSession, std::wstring* pstrFailure)
{
    const std::wstring& strUrl = m_target.m_strUrl;
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (strUrl.empty() || !WinHttpCrackUrl(strUrl.c_str(), static_cast<DWORD>(strUrl.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
        parts.dwHostNameLength == 0) {
        *pstrFailure = L"The plug-in's url is not an http:// address for camera " + m_strAddress + L".";
        return ENDED_FAILED;
    }
    const std::wstring strHost(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring strPath(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    strPath.append(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);
    if (strPath.empty())
        strPath = L"/";

    HINTERNET hConnect = WinHttpConnect(hSession, strHost.c_str(), parts.nPort, 0);
    if (hConnect == nullptr)
        return FailureOf(GetLastError(), false, pstrFailure);
    EnterCriticalSection(&m_cs);
    ++m_counts.m_nConnections;
    LeaveCriticalSection(&m_cs);

    Outcome outcome = ENDED_FAILED;
    std::string strAuthorization;
    for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
        HINTERNET hRequest = WinHttpOpenRequest(hConnect, L"GET", strPath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
        if (hRequest == nullptr) {
            outcome = FailureOf(GetLastError(), false, pstrFailure);
            break;
        }
        // A stream's connection is never reused: closing the request must close it.
        DWORD dwFeature = WINHTTP_DISABLE_KEEP_ALIVE;
        WinHttpSetOption(hRequest, WINHTTP_OPTION_DISABLE_FEATURE, &dwFeature, sizeof dwFeature);
        const std::wstring strHeader =
            strAuthorization.empty() ? std::wstring() : L"Authorization: " + FromAscii(strAuthorization);
        if (!WinHttpSendRequest(hRequest, strHeader.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : strHeader.c_str(),
                                strHeader.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(hRequest, nullptr)) {
            outcome = FailureOf(GetLastError(), false, pstrFailure);
            WinHttpCloseHandle(hRequest);
            break;
        }
        const DWORD dwStatus = StatusCode(hRequest);
        if (dwStatus == 401 && nAttempt == 0 && !m_target.m_strUser.empty()) {
            strAuthorization = AnswerChallenges(hRequest, ToUtf8(m_target.m_strUser), ToUtf8(m_target.m_strPassword),
                                                ToUtf8(strPath));
            WinHttpCloseHandle(hRequest);
            if (strAuthorization.empty()) {
                *pstrFailure = L"Camera " + m_strAddress + L" asks for a kind of sign-in the stand-in can't give.";
                break;
            }
            continue;
        }
        std::wstring strType;
        std::string strBoundary;
        if (dwStatus == 401) {
            *pstrFailure = m_target.m_strUser.empty()
                               ? L"Camera " + m_strAddress + L" asks for a user name and password; the plug-in has none."
                               : L"Camera " + m_strAddress + L" refused the user name or password (401).";
        } else if (dwStatus == 404) {
            *pstrFailure = L"Camera " + m_strAddress + L" has no such stream (404 Not Found).";
        } else if (dwStatus != 200) {
            *pstrFailure = L"Camera " + m_strAddress + L" answered with HTTP status " + std::to_wstring(dwStatus) + L".";
        } else if (!QueryHeader(hRequest, WINHTTP_QUERY_CONTENT_TYPE, 0, &strType) ||
                   !CMultipartParser::BoundaryOf(ToUtf8(strType), &strBoundary)) {
            *pstrFailure = L"Camera " + m_strAddress + L" does not send Motion JPEG (it sends \"" +
                           (strType.empty() ? L"no type" : strType.substr(0, 60)) + L"\").";
        } else {
            outcome = ReadStream(hRequest, strBoundary, pstrFailure);
        }
        WinHttpCloseHandle(hRequest);
        break;
    }
    WinHttpCloseHandle(hConnect);
    return outcome;
}

CMjpegStream::Outcome CMjpegStream::ReadStream(HINTERNET hRequest, const std::string& strBoundary,
                                               std::wstring* pstrFailure)
{
    CMultipartParser parser(strBoundary);
    std::vector<unsigned char> buffer(READ_CHUNK);
    const CMultipartParser::PartHandler onPart = [&](std::vector<unsigned char>& body) { OnPart(body); };
    for (;;) {
        if (StopRequested())
            return ENDED_STOPPED;
        DWORD cbAvailable = 0;
        if (!WinHttpQueryDataAvailable(hRequest, &cbAvailable))
            return FailureOf(GetLastError(), true, pstrFailure);
        if (cbAvailable == 0)
            return FailureOf(ERROR_WINHTTP_CONNECTION_ERROR, true, pstrFailure);
        DWORD cbRead = 0;
        if (!WinHttpReadData(hRequest, buffer.data(), std::min<DWORD>(cbAvailable, READ_CHUNK), &cbRead))
            return FailureOf(GetLastError(), true, pstrFailure);
        if (cbRead == 0)
            return FailureOf(ERROR_WINHTTP_CONNECTION_ERROR, true, pstrFailure);
        m_nLastDataTick = GetTickCount64();
        parser.Feed(buffer.data(), cbRead, onPart);
    }
}

// Called on the reading thread for each JPEG part: it replaces any part
// still waiting for the decoder.
void CMjpegStream::OnPart(std::vector<unsigned char>& body)
{
    std::unique_ptr<std::vector<unsigned char>> pPart(new std::vector<unsigned char>);
    pPart->swap(body);
    SYSTEMTIME stNow;
    GetLocalTime(&stNow);
    EnterCriticalSection(&m_cs);
    // Counted only while the session lasts, so its counts add up when it ends.
    if (!StopRequested()) {
        ++m_counts.m_nReceived;
        if (m_pPart)
            ++m_counts.m_nDropped;
        m_pPart = std::move(pPart);
        m_stPart = stNow;
        SetEvent(m_evPart);
    }
    LeaveCriticalSection(&m_cs);
}

// The decoding thread: the newest part each time, at the size it is shown.
void CMjpegStream::DecodeLoop()
{
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        CJpegDecoder decoder;
        const HANDLE handles[2] = { m_evStop, m_evPart };
        while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            EnterCriticalSection(&m_cs);
            std::unique_ptr<std::vector<unsigned char>> pPart = std::move(m_pPart);
            std::unique_ptr<CFrame> pFrame(new CFrame);
            pFrame->m_stReceived = m_stPart;
            const ULONG nSerial = m_nStatusSerial;
            m_bDecoding = pPart != nullptr;
            LeaveCriticalSection(&m_cs);
            if (!pPart)
                continue;
            LARGE_INTEGER nFreq, nStart, nEnd;
            QueryPerformanceFrequency(&nFreq);
            QueryPerformanceCounter(&nStart);
            const bool bDecoded = decoder.Decode(pPart->data(), pPart->size(), m_cxView, m_cyView, pFrame.get());
            QueryPerformanceCounter(&nEnd);
            EnterCriticalSection(&m_cs);
            // A stop meanwhile has counted this part as dropped already.
            if (m_bDecoding && !bDecoded) {
                ++m_counts.m_nUndecodable;
            } else if (m_bDecoding && nSerial != m_nStatusSerial) {
                ++m_counts.m_nDropped;
            } else if (m_bDecoding) {
                if (m_counts.m_decodeMs.size() < MAX_DECODE_SAMPLES)
                    m_counts.m_decodeMs.push_back(1000.0 * static_cast<double>(nEnd.QuadPart - nStart.QuadPart) /
                                                  static_cast<double>(nFreq.QuadPart));
                if (m_pPending)
                    ++m_counts.m_nDropped;
                m_pPending = std::move(pFrame);
                m_strStatus.clear();
                NotifyLocked();
            }
            m_bDecoding = false;
            LeaveCriticalSection(&m_cs);
        }
    }
    if (SUCCEEDED(hrCom))
        CoUninitialize();
}
