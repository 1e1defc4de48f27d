// The simulated camera: a small HTTP server on 127.0.0.1.
#include <winsock2.h>

#include "simcamera.h"

#include "framepainter.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const char s_szBoundary[] = "simcamframe";
const size_t MAX_REQUEST = 16 * 1024;
const DWORD REQUEST_WAIT_MS = 5000;
const int POLL_MS = 50;
const size_t OVERSIZED_PART = 17 * 1024 * 1024;
const DWORD TRICKLE_BYTE_MS = 300;
const char s_szHugeLength[] = "999999999999";

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

// Random bytes said to be a picture.
std::string NoPicture(ULONG nPart)
{
    std::string str(1 + static_cast<size_t>(GetTickCount64() * 7919 + nPart * 104729) % 65536, '\0');
    for (size_t n = 0; n < str.size(); ++n)
        str[n] = static_cast<char>((n * 2654435761u + nPart) >> 13);
    return str;
}

} // namespace

CSimCamera::CSimCamera()
    : m_listen(INVALID_SOCKET), m_listenElsewhere(INVALID_SOCKET), m_fault(FAULT_NONE), m_bStop(false),
      m_evWake(CreateEventW(nullptr, FALSE, FALSE, nullptr)), m_nConnections(0), m_nOpen(0), m_nRefusals(0),
      m_nFramesSent(0), m_nElsewhereConnections(0), m_nCredentialsElsewhere(0), m_nNextFrame(0),
      m_sentAt(SENT_RING)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
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
        { "oversized", FAULT_OVERSIZED }, { "trickle", FAULT_TRICKLE }, { "redirect", FAULT_REDIRECT },
        { "huge-length", FAULT_HUGE_LENGTH }, { "undecodable", FAULT_UNDECODABLE },
        { "endless-headers", FAULT_ENDLESS_HEADERS },
    };
    for (const auto& entry : s_faults) {
        if (strName == entry.m_pszName) {
            *pFault = entry.m_fault;
            return true;
        }
    }
    return false;
}

bool CSimCamera::ParseParts(const std::string& strNames, UINT* pnParts)
{
    static const struct { const char* m_pszName; UINT m_nParts; } s_parts[] = {
        { "no-length", PARTS_NO_LENGTH }, { "lf", PARTS_LF_ONLY }, { "tight", PARTS_TIGHT },
        { "octet-stream", PARTS_OCTET_STREAM },
    };
    UINT nParts = 0;
    for (size_t nPos = 0; nPos <= strNames.size();) {
        const size_t nComma = std::min(strNames.find(',', nPos), strNames.size());
        const std::string strName = strNames.substr(nPos, nComma - nPos);
        const auto it = std::find_if(std::begin(s_parts), std::end(s_parts),
                                     [&](const auto& entry) { return strName == entry.m_pszName; });
        if (it == std::end(s_parts))
            return false;
        nParts |= it->m_nParts;
        nPos = nComma + 1;
    }
    *pnParts = nParts;
    return true;
}

bool CSimCamera::Start(const COptions& options)
{
    m_options = options;
    CCameraAuth::CSettings auth;
    auth.m_strUser = options.m_strUser;
    auth.m_strPassword = options.m_strPassword;
    auth.m_nSchemes = options.m_nSchemes;
    auth.m_bStaleFirst = options.m_bStaleFirst;
    m_pAuth.reset(new CCameraAuth(auth));
    m_fault = options.m_fault;
    m_nPort = options.m_nPort;
    m_bStop = false;
    // The port is taken even when refusing, so it stays this camera's.
    if (!Listen(&m_listen, &m_nPort))
        return false;
    if (m_fault == FAULT_REFUSE)
        closesocket(m_listen.exchange(INVALID_SOCKET));
    m_nElsewherePort = 0;
    if (m_fault == FAULT_REDIRECT && !Listen(&m_listenElsewhere, &m_nElsewherePort))
        return false;
    m_acceptThread = std::thread(&CSimCamera::AcceptLoop, this);
    return true;
}

bool CSimCamera::Listen(std::atomic<Socket>* pListen, USHORT* pnPort)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    BOOL bReuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&bReuse), sizeof bReuse);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // loopback only, never another address
    addr.sin_port = htons(*pnPort);
    int cbAddr = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &cbAddr) != 0) {
        closesocket(s);
        return false;
    }
    *pnPort = ntohs(addr.sin_port);
    *pListen = s;
    return true;
}

void CSimCamera::Stop()
{
    m_bStop = true;
    SetEvent(m_evWake);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    for (CConnection& connection : m_connections)
        connection.m_thread.join();
    m_connections.clear();
    for (std::atomic<Socket>* pListen : { &m_listen, &m_listenElsewhere }) {
        SOCKET s = pListen->exchange(INVALID_SOCKET);
        if (s != INVALID_SOCKET)
            closesocket(s);
    }
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
        JoinFinished();
        // Refusing means not listening at all; listening again takes the same port.
        if (CurrentFault() == FAULT_REFUSE && m_listen != INVALID_SOCKET)
            closesocket(m_listen.exchange(INVALID_SOCKET));
        else if (CurrentFault() != FAULT_REFUSE && m_listen == INVALID_SOCKET)
            Listen(&m_listen, &m_nPort);
        fd_set fds;
        FD_ZERO(&fds);
        for (Socket listen : { m_listen.load(), m_listenElsewhere.load() })
            if (listen != INVALID_SOCKET)
                FD_SET(listen, &fds);
        if (fds.fd_count == 0) {
            WaitForSingleObject(m_evWake, POLL_MS);
            continue;
        }
        timeval tv = { 0, POLL_MS * 1000 };
        if (select(0, &fds, nullptr, nullptr, &tv) <= 0)
            continue;
        const Socket listenElsewhere = m_listenElsewhere;
        const bool bElsewhere = listenElsewhere != INVALID_SOCKET && FD_ISSET(listenElsewhere, &fds);
        SOCKET s = accept(bElsewhere ? listenElsewhere : m_listen.load(), nullptr, nullptr);
        if (s == INVALID_SOCKET)
            continue;
        ++(bElsewhere ? m_nElsewhereConnections : m_nConnections);
        ++m_nOpen;
        CConnection connection;
        connection.m_pbDone = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<std::atomic<bool>> pbDone = connection.m_pbDone;
        connection.m_thread = std::thread([this, s, bElsewhere, pbDone] {
            Serve(s, bElsewhere);
            *pbDone = true;
        });
        m_connections.push_back(std::move(connection));
    }
}

// A finished connection's thread is joined at once, not kept until Stop.
void CSimCamera::JoinFinished()
{
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (*it->m_pbDone) {
            it->m_thread.join();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
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

// Waits nMs without sending; false when the client went or the camera stops.
bool CSimCamera::WaitWatching(Socket s, DWORD nMs)
{
    const ULONGLONG nEnd = GetTickCount64() + nMs;
    char buffer[512];
    for (ULONGLONG nNow = GetTickCount64(); !m_bStop && nNow < nEnd; nNow = GetTickCount64()) {
        const int nWait = static_cast<int>(std::min<ULONGLONG>(nEnd - nNow, POLL_MS));
        if (Readable(s, nWait) && recv(s, buffer, sizeof buffer, 0) <= 0)
            return false;
    }
    return !m_bStop;
}

// Keeps the connection open without sending until the client or the camera ends it.
bool CSimCamera::HoldUntilClosed(Socket s)
{
    while (WaitWatching(s, POLL_MS)) {
    }
    return false;
}

// Sends str one byte at a time, a pause before each.
bool CSimCamera::Trickle(Socket s, const std::string& str)
{
    for (char ch : str)
        if (!WaitWatching(s, TRICKLE_BYTE_MS) || !SendAll(s, &ch, 1))
            return false;
    return true;
}

void CSimCamera::Serve(Socket s, bool bElsewhere)
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
    const bool bMoved = !bStream && bGet && sscanf(szPath, "/moved%u.mjp%c", &nChannel, &chEnd) == 2 && chEnd == 'g';
    const std::string strAuthorization = Header(strRequest, "Authorization");
    // Whatever credentials reach the other port were sent where they don't belong.
    if (bElsewhere && !strAuthorization.empty())
        ++m_nCredentialsElsewhere;
    bool bStale = false;
    std::string strAnswer;
    if (m_options.m_nHeaderDelayMs > 0 && !WaitWatching(s, m_options.m_nHeaderDelayMs)) {
        // the client went while the camera kept it waiting
    } else if (!bGet) {
        strAnswer = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    } else if (!bElsewhere && !m_pAuth->Check(strAuthorization, szPath, &bStale)) {
        ++m_nRefusals;
        strAnswer = "HTTP/1.0 401 Unauthorized\r\n" + m_pAuth->Challenges(bStale) +
                    "Content-Type: text/plain\r\nContent-Length: 12\r\n\r\nUnauthorized";
    } else if (strcmp(szPath, "/index.html") == 0) {
        const std::string strPage = "<html><body>Simulated camera</body></html>";
        strAnswer = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                    std::to_string(strPage.size()) + "\r\n\r\n" + strPage;
    } else if (bMoved) {
        strAnswer = "HTTP/1.0 302 Found\r\nLocation: /video" + std::to_string(nChannel) +
                    ".mjpg\r\nContent-Length: 0\r\n\r\n";
    } else if (!bStream) {
        strAnswer = "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n\r\nNot Found";
    } else if (!bElsewhere && CurrentFault() == FAULT_REDIRECT) {
        strAnswer = "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(m_nElsewherePort) +
                    "/video" + std::to_string(nChannel) + ".mjpg\r\nContent-Length: 0\r\n\r\n";
    } else if (CurrentFault() == FAULT_SILENT) {
        HoldUntilClosed(s);
    } else if (CurrentFault() == FAULT_TRICKLE) {
        // Header lines without end, one byte at a time.
        std::string strLines = "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=" +
                               std::string(s_szBoundary) + "\r\n";
        while (Trickle(s, strLines))
            strLines = "X-Trickle: " + std::to_string(GetTickCount64()) + "\r\n";
    } else if (CurrentFault() == FAULT_ENDLESS_HEADERS) {
        // Header lines of 1 KB without end, until the client goes.
        const std::string strLine = "X-Endless: " + std::string(1010, 'x') + "\r\n";
        std::string strLines = "HTTP/1.0 200 OK\r\n";
        while (SendAll(s, strLines.data(), strLines.size()))
            strLines = strLine;
    } else {
        Stream(s, nChannel);
    }
    if (!strAnswer.empty())
        SendAll(s, strAnswer.data(), strAnswer.size());
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
        // Seconds from one picture to the next.
        const double dPeriod = m_options.m_nFramePeriodMs > 0 ? m_options.m_nFramePeriodMs / 1000.0
                                                               : 1.0 / std::max(1u, m_options.m_nFps);
        for (ULONG nPart = 0; bOk && !m_bStop; ++nPart) {
            const Fault fault = CurrentFault();
            std::string strBody;
            std::string strLength;
            ULONG nFrame = 0;
            bool bPicture = false;
            if (fault == FAULT_OVERSIZED && nPart == 0) {
                strBody.assign(OVERSIZED_PART, '\x55');
            } else if (fault == FAULT_UNDECODABLE || (fault == FAULT_GARBAGE && nPart % 2 == 1)) {
                strBody = NoPicture(nPart);
                if (fault == FAULT_UNDECODABLE)
                    strBody.insert(0, "\xFF\xD8"); // starts as a JPEG does: a damaged picture
            } else {
                nFrame = m_nNextFrame++;
                strBody = painter.Paint(nFrame);
                // The first picture claims a length no camera could send.
                bPicture = !(fault == FAULT_HUGE_LENGTH && nPart == 0);
                if (!bPicture)
                    strLength = s_szHugeLength;
            }
            if (strLength.empty() && !(m_options.m_nParts & PARTS_NO_LENGTH))
                strLength = std::to_string(strBody.size());
            const char* pszEnd = m_options.m_nParts & PARTS_LF_ONLY ? "\n" : "\r\n";
            const std::string strPartHead =
                std::string("--") + s_szBoundary + pszEnd + "Content-Type: " +
                (m_options.m_nParts & PARTS_OCTET_STREAM ? "application/octet-stream" : "image/jpeg") + pszEnd +
                (strLength.empty() ? std::string() : "Content-Length: " + strLength + pszEnd) + pszEnd;
            const std::string strPartEnd = m_options.m_nParts & PARTS_TIGHT ? "" : pszEnd;
            LARGE_INTEGER nSent;
            QueryPerformanceCounter(&nSent);
            m_sentAt[nFrame % SENT_RING] = nSent.QuadPart;
            // Half a part, then the connection goes (cut) or stays silent (stall).
            if ((fault == FAULT_CUT && nPart == 3) || (fault == FAULT_STALL && nPart == 1)) {
                SendAll(s, strPartHead.data(), strPartHead.size());
                SendAll(s, strBody.data(), strBody.size() / 2);
                if (fault == FAULT_STALL)
                    HoldUntilClosed(s);
                break;
            }
            bOk = SendAll(s, strPartHead.data(), strPartHead.size()) && SendAll(s, strBody.data(), strBody.size()) &&
                  SendAll(s, strPartEnd.data(), strPartEnd.size());
            if (bOk && bPicture)
                ++m_nFramesSent;
            // Keep the pace of the frame rate, whatever drawing took.
            const LONGLONG nDue = nStart.QuadPart + static_cast<LONGLONG>(static_cast<double>(nFreq.QuadPart) * dPeriod *
                                                                          static_cast<double>(nPart + 1));
            for (;;) {
                QueryPerformanceCounter(&nNow);
                if (nNow.QuadPart >= nDue || m_bStop)
                    break;
                const LONGLONG nMs = (nDue - nNow.QuadPart) * 1000 / nFreq.QuadPart;
                // Watch the socket meanwhile: a client that went is noticed at once.
                if (!WaitWatching(s, static_cast<DWORD>(std::min<LONGLONG>(std::max<LONGLONG>(nMs, 1), POLL_MS)))) {
                    bOk = false;
                    break;
                }
            }
        }
    }
    if (SUCCEEDED(hrCom))
        CoUninitialize();
}
