// The simulated camera: a small HTTP server on 127.0.0.1.
#include <winsock2.h>

#include "simcamera.h"

#include "framepainter.h"
#include "httpauth.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char s_szBoundary[] = "simcamframe";
const char s_szRealm[] = "SimCamera";
const size_t MAX_REQUEST = 16 * 1024;
const DWORD REQUEST_WAIT_MS = 5000;
const int POLL_MS = 50;
const size_t OVERSIZED_PART = 17 * 1024 * 1024;

// Whether s has something to read (or was closed) within nMs.
bool Readable(SOCKET s, int nMs)
{
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(s, &fds);
    timeval tv = { nMs / 1000, (nMs % 1000) * 1000 };
    return select(0, &fds, nullptr, nullptr, &tv) > 0;
}

std::string Header(const std::string& strRequest, const char* pszName)
{
    const std::string strKey = std::string("\r\n") + pszName + ":";
    for (size_t nPos = 0; (nPos = strRequest.find("\r\n", nPos)) != std::string::npos; nPos += 2) {
        if (_strnicmp(strRequest.c_str() + nPos, strKey.c_str(), strKey.size()) != 0)
            continue;
        size_t nStart = strRequest.find_first_not_of(' ', nPos + strKey.size());
        size_t nEnd = strRequest.find("\r\n", nPos + 2);
        if (nStart == std::string::npos || nEnd == std::string::npos || nStart > nEnd)
            return std::string();
        return strRequest.substr(nStart, nEnd - nStart);
    }
    return std::string();
}

} // namespace

CSimCamera::CSimCamera()
    : m_listen(INVALID_SOCKET), m_fault(FAULT_NONE), m_bStop(false), m_evWake(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_nConnections(0), m_nOpen(0), m_nRefusals(0), m_nFramesSent(0), m_nNextFrame(0), m_sentAt(SENT_RING)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    char szNonce[40];
    snprintf(szNonce, sizeof szNonce, "%08lx%08llx", GetCurrentProcessId(), GetTickCount64());
    m_strNonce = szNonce;
}

CSimCamera::~CSimCamera()
{
    Stop();
    CloseHandle(m_evWake);
    WSACleanup();
}

bool CSimCamera::ParseFault(const std::string& strName, Fault* pFault)
{
    static const struct { const char* m_pszName; Fault m_fault; } s_faults[] = {
        { "none", FAULT_NONE },   { "refuse", FAULT_REFUSE },   { "stall", FAULT_STALL },
        { "silent", FAULT_SILENT }, { "cut", FAULT_CUT },       { "garbage", FAULT_GARBAGE },
        { "oversized", FAULT_OVERSIZED },
    };
    for (const auto& entry : s_faults) {
        if (strName == entry.m_pszName) {
            *pFault = entry.m_fault;
            return true;
        }
    }
    return false;
}

bool CSimCamera::Start(const COptions& options)
{
    m_options = options;
    m_fault = options.m_fault;
    m_nPort = options.m_nPort;
    m_bStop = false;
    // The port is taken even when refusing, so it stays this camera's.
    if (!Listen())
        return false;
    if (m_fault == FAULT_REFUSE) {
        closesocket(m_listen.exchange(INVALID_SOCKET));
    }
    m_acceptThread = std::thread(&CSimCamera::AcceptLoop, this);
    return true;
}

bool CSimCamera::Listen()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    BOOL bReuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&bReuse), sizeof bReuse);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // loopback only, never another address
    addr.sin_port = htons(m_nPort);
    int cbAddr = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &cbAddr) != 0) {
        closesocket(s);
        return false;
    }
    m_nPort = ntohs(addr.sin_port);
    m_listen = s;
    return true;
}

void CSimCamera::Stop()
{
    m_bStop = true;
    SetEvent(m_evWake);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    for (std::thread& thread : threads)
        thread.join();
    SOCKET s = m_listen.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET)
        closesocket(s);
}

void CSimCamera::SetFault(Fault fault)
{
    m_fault = fault;
    SetEvent(m_evWake);
}

LONGLONG CSimCamera::SentAt(ULONG nFrame) const
{
    return m_nNextFrame - nFrame <= SENT_RING ? m_sentAt[nFrame % SENT_RING].load() : 0;
}

void CSimCamera::AcceptLoop()
{
    while (!m_bStop) {
        // Refusing means not listening at all; listening again takes the same port.
        if (CurrentFault() == FAULT_REFUSE && m_listen != INVALID_SOCKET)
            closesocket(m_listen.exchange(INVALID_SOCKET));
        else if (CurrentFault() != FAULT_REFUSE && m_listen == INVALID_SOCKET)
            Listen();
        if (m_listen == INVALID_SOCKET) {
            WaitForSingleObject(m_evWake, POLL_MS);
            continue;
        }
        if (!Readable(m_listen, POLL_MS))
            continue;
        SOCKET s = accept(m_listen, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            continue;
        ++m_nConnections;
        ++m_nOpen;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.emplace_back(&CSimCamera::Serve, this, s);
    }
}

bool CSimCamera::SendAll(Socket s, const char* pb, size_t cb)
{
    while (cb > 0 && !m_bStop) {
        int nSent = send(s, pb, static_cast<int>(cb > 65536 ? 65536 : cb), 0);
        if (nSent <= 0)
            return false;
        pb += nSent;
        cb -= static_cast<size_t>(nSent);
    }
    return cb == 0;
}

// Keeps the connection open without sending until the client or the camera ends it.
bool CSimCamera::HoldUntilClosed(Socket s)
{
    char buffer[512];
    while (!m_bStop) {
        if (Readable(s, POLL_MS) && recv(s, buffer, sizeof buffer, 0) <= 0)
            return false;
    }
    return false;
}

bool CSimCamera::Authorized(const std::string& strRequest, const std::string& strPath) const
{
    if (m_options.m_strUser.empty())
        return true;
    const std::string strAuth = Header(strRequest, "Authorization");
    if (!m_options.m_bDigest)
        return strAuth == httpauth::BasicAuthorization(m_options.m_strUser, m_options.m_strPassword);
    if (_strnicmp(strAuth.c_str(), "Digest ", 7) != 0)
        return false;
    const std::string strParams = strAuth.substr(7);
    const std::string strQop = httpauth::ChallengeParam(strParams, "qop");
    const std::string strExpected = httpauth::DigestResponse(
        m_options.m_strUser, s_szRealm, m_options.m_strPassword, "GET", strPath,
        m_strNonce, httpauth::ChallengeParam(strParams, "nc"), httpauth::ChallengeParam(strParams, "cnonce"), strQop);
    return httpauth::ChallengeParam(strParams, "username") == m_options.m_strUser &&
           httpauth::ChallengeParam(strParams, "nonce") == m_strNonce &&
           httpauth::ChallengeParam(strParams, "uri") == strPath && strQop == "auth" &&
           httpauth::ChallengeParam(strParams, "response") == strExpected;
}

void CSimCamera::Serve(Socket s)
{
    // The request: up to its blank line, bounded in size and time.
    std::string strRequest;
    const ULONGLONG nDeadline = GetTickCount64() + REQUEST_WAIT_MS;
    char buffer[2048];
    while (strRequest.find("\r\n\r\n") == std::string::npos && strRequest.size() < MAX_REQUEST &&
           GetTickCount64() < nDeadline && !m_bStop) {
        if (!Readable(s, POLL_MS))
            continue;
        int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        strRequest.append(buffer, static_cast<size_t>(n));
    }
    char szPath[1024] = "";
    unsigned nChannel = 0;
    char chEnd = 0;
    const bool bGet = sscanf(strRequest.c_str(), "GET %1023s", szPath) == 1;
    const bool bStream = bGet && sscanf(szPath, "/video%u.mjp%c", &nChannel, &chEnd) == 2 && chEnd == 'g' &&
                         nChannel >= 1 && nChannel <= m_options.m_nChannels;
    std::string strAnswer;
    if (!bGet) {
        strAnswer = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    } else if (!Authorized(strRequest, szPath)) {
        ++m_nRefusals;
        const std::string strChallenge =
            m_options.m_bDigest ? std::string("Digest realm=\"") + s_szRealm + "\", nonce=\"" + m_strNonce +
                                      "\", qop=\"auth\", opaque=\"5ccc069c\""
                                : std::string("Basic realm=\"") + s_szRealm + "\"";
        strAnswer = "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: " + strChallenge +
                    "\r\nContent-Type: text/plain\r\nContent-Length: 12\r\n\r\nUnauthorized";
    } else if (strcmp(szPath, "/index.html") == 0) {
        const std::string strPage = "<html><body>Simulated camera</body></html>";
        strAnswer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                    std::to_string(strPage.size()) + "\r\n\r\n" + strPage;
    } else if (!bStream) {
        strAnswer = "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n\r\nNot Found";
    }
    if (!strAnswer.empty()) {
        SendAll(s, strAnswer.data(), strAnswer.size());
    } else if (CurrentFault() == FAULT_SILENT) {
        HoldUntilClosed(s);
    } else {
        Stream(s, nChannel);
    }
    shutdown(s, SD_BOTH);
    closesocket(s);
    --m_nOpen;
}

void CSimCamera::Stream(Socket s, UINT nChannel)
{
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        CFramePainter painter(m_options.m_cx, m_options.m_cy, nChannel);
        const std::string strHead = std::string("HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=") +
                                    s_szBoundary + "\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
        bool bOk = SendAll(s, strHead.data(), strHead.size());
        LARGE_INTEGER nFreq, nStart, nNow;
        QueryPerformanceFrequency(&nFreq);
        QueryPerformanceCounter(&nStart);
        const UINT nFps = m_options.m_nFps > 0 ? m_options.m_nFps : 1;
        for (ULONG nPart = 0; bOk && !m_bStop; ++nPart) {
            const Fault fault = CurrentFault();
            if (fault == FAULT_STALL && nPart > 0) {
                HoldUntilClosed(s);
                break;
            }
            std::string strBody;
            ULONG nFrame = 0;
            if (fault == FAULT_OVERSIZED && nPart == 0) {
                strBody.assign(OVERSIZED_PART, '\x55');
            } else if (fault == FAULT_GARBAGE && nPart % 2 == 1) {
                strBody.resize(1 + static_cast<size_t>(GetTickCount64() * 7919 + nPart * 104729) % 65536);
                for (size_t n = 0; n < strBody.size(); ++n)
                    strBody[n] = static_cast<char>((n * 2654435761u + nPart) >> 13);
            } else {
                nFrame = m_nNextFrame++;
                strBody = painter.Paint(nFrame);
            }
            const std::string strPartHead = std::string("--") + s_szBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                            std::to_string(strBody.size()) + "\r\n\r\n";
            LARGE_INTEGER nSent;
            QueryPerformanceCounter(&nSent);
            m_sentAt[nFrame % SENT_RING] = nSent.QuadPart;
            if (fault == FAULT_CUT && nPart == 3) {
                // Half a part, then the connection goes.
                SendAll(s, strPartHead.data(), strPartHead.size());
                SendAll(s, strBody.data(), strBody.size() / 2);
                break;
            }
            bOk = SendAll(s, strPartHead.data(), strPartHead.size()) && SendAll(s, strBody.data(), strBody.size()) &&
                  SendAll(s, "\r\n", 2);
            if (bOk)
                ++m_nFramesSent;
            // Keep the pace of the frame rate, whatever drawing took.
            const LONGLONG nDue = nStart.QuadPart + nFreq.QuadPart * static_cast<LONGLONG>(nPart + 1) / nFps;
            for (;;) {
                QueryPerformanceCounter(&nNow);
                if (nNow.QuadPart >= nDue || m_bStop)
                    break;
                const LONGLONG nMs = (nDue - nNow.QuadPart) * 1000 / nFreq.QuadPart;
                // Watch the socket meanwhile: a client that went is noticed at once.
                if (Readable(s, static_cast<int>(nMs > 0 ? nMs : 1))) {
                    char buffer[256];
                    if (recv(s, buffer, sizeof buffer, 0) <= 0) {
                        bOk = false;
                        break;
                    }
                }
            }
        }
    }
    if (SUCCEEDED(hrCom))
        CoUninitialize();
}
