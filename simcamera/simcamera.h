// CSimCamera: a simulated network camera. It serves a moving picture as
// Motion JPEG over HTTP (multipart/x-mixed-replace) at
// http://127.0.0.1:<port>/video<channel>.mjpg, listening on 127.0.0.1 only,
// optionally behind Basic or Digest credentials, and can misbehave in the
// ways a real camera does, for tests. /moved<channel>.mjpg redirects to the
// stream on the same port.
#pragma once

#include "cameraauth.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CSimCamera
{
public:
    enum Fault
    {
        FAULT_NONE,
        FAULT_REFUSE,      // not listening: connections are refused
        FAULT_STALL,       // one picture, then half of the next, then nothing
        FAULT_SILENT,      // reads the request and sends nothing at all
        FAULT_CUT,         // closes the connection in the middle of the fourth part
        FAULT_GARBAGE,     // every other part is random bytes said to be a JPEG
        FAULT_OVERSIZED,   // the first part is 17 MB of filler, then pictures
        FAULT_TRICKLE,     // the answer's header lines one byte every 300 ms, without end
        FAULT_REDIRECT,    // the stream is elsewhere: a 302 to another port, which records credentials
        FAULT_HUGE_LENGTH, // the first part claims 999999999999 bytes, then pictures
        FAULT_UNDECODABLE, // every part is random bytes after a JPEG's first marker
        FAULT_ENDLESS_HEADERS, // header lines without end, as fast as they go
    };

    // How the parts are written, as cameras write them (any together).
    enum Parts
    {
        PARTS_NO_LENGTH = 1,    // no Content-Length: a part ends at the next delimiter
        PARTS_LF_ONLY = 2,      // the parts' lines end in LF alone
        PARTS_TIGHT = 4,        // no line break between a picture and the next delimiter
        PARTS_OCTET_STREAM = 8, // typed application/octet-stream, not image/jpeg
    };

    struct COptions
    {
        USHORT m_nPort = 0; // 0: any free port
        UINT m_cx = 640;
        UINT m_cy = 480;
        UINT m_nFps = 25;
        UINT m_nFramePeriodMs = 0; // for rates below one a second; 0: 1000 / m_nFps
        UINT m_nChannels = 1;
        DWORD m_nHeaderDelayMs = 0; // the answer's first byte after this long
        std::string m_strUser; // empty: no credentials asked
        std::string m_strPassword;
        UINT m_nSchemes = CCameraAuth::SCHEME_BASIC;
        bool m_bStaleFirst = false; // each first Digest nonce is called stale when used
        Fault m_fault = FAULT_NONE;
        UINT m_nParts = 0; // Parts
    };

    CSimCamera();
    ~CSimCamera();
    CSimCamera(const CSimCamera&) = delete;
    CSimCamera& operator=(const CSimCamera&) = delete;

    bool Start(const COptions& options);
    void Stop();
    USHORT Port() const { return m_nPort; }
    // Where FAULT_REDIRECT sends the stream.
    USHORT ElsewherePort() const { return m_nElsewherePort; }
    void SetFault(Fault fault);

    static bool ParseFault(const std::string& strName, Fault* pFault);
    // "no-length,lf,tight,octet-stream" (any of them) as Parts.
    static bool ParseParts(const std::string& strNames, UINT* pnParts);

    // What it has done so far.
    ULONG Connections() const { return m_nConnections; }
    ULONG OpenConnections() const { return m_nOpen; }
    ULONG Refusals() const { return m_nRefusals; } // 401 answers
    ULONG FramesSent() const { return m_nFramesSent; }
    ULONG ElsewhereConnections() const { return m_nElsewhereConnections; }
    ULONG CredentialsElsewhere() const { return m_nCredentialsElsewhere; } // requests there with an Authorization
    std::string LastScheme() const { return m_pAuth ? m_pAuth->LastScheme() : std::string(); }
    // QueryPerformanceCounter when frame n started to leave (recent frames only), or 0.
    LONGLONG SentAt(ULONG nFrame) const;

private:
    static const size_t SENT_RING = 4096;

    // Sockets are kept as UINT_PTR so users of this header need no Winsock.
    typedef UINT_PTR Socket;

    // A connection's thread; it sets its flag when done, so it can be joined.
    struct CConnection
    {
        std::thread m_thread;
        std::shared_ptr<std::atomic<bool>> m_pbDone;
    };

    bool Listen(std::atomic<Socket>* pListen, USHORT* pnPort);
    void AcceptLoop();
    void JoinFinished();
    void Serve(Socket s, bool bElsewhere);
    void Stream(Socket s, UINT nChannel);
    bool Trickle(Socket s, const std::string& str);
    bool HoldUntilClosed(Socket s);
    bool WaitWatching(Socket s, DWORD nMs);
    bool SendAll(Socket s, const char* pb, size_t cb);
    Fault CurrentFault() const { return m_fault.load(); }

    COptions m_options;
    std::unique_ptr<CCameraAuth> m_pAuth;
    USHORT m_nPort = 0;
    USHORT m_nElsewherePort = 0;
    std::atomic<Socket> m_listen;
    std::atomic<Socket> m_listenElsewhere;
    std::atomic<Fault> m_fault;
    std::atomic<bool> m_bStop;
    HANDLE m_evWake;
    std::thread m_acceptThread;
    std::vector<CConnection> m_connections; // the accepting thread's own, then Stop's
    std::atomic<ULONG> m_nConnections;
    std::atomic<ULONG> m_nOpen;
    std::atomic<ULONG> m_nRefusals;
    std::atomic<ULONG> m_nFramesSent;
    std::atomic<ULONG> m_nElsewhereConnections;
    std::atomic<ULONG> m_nCredentialsElsewhere;
    std::atomic<ULONG> m_nNextFrame;
    std::vector<std::atomic<LONGLONG>> m_sentAt;
};
