// CSimCamera: a simulated network camera. It serves a moving picture as
// Motion JPEG over HTTP (multipart/x-mixed-replace) at
// http://127.0.0.1:<port>/video<channel>.mjpg, listening on 127.0.0.1 only,
// optionally behind Basic or Digest credentials, and can misbehave in the
// ways a real camera does, for tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CSimCamera
{
public:
    enum Fault
    {
        FAULT_NONE,
        FAULT_REFUSE,    // not listening: connections are refused
        FAULT_STALL,     // answers, sends one picture, then nothing
        FAULT_SILENT,    // reads the request and sends nothing at all
        FAULT_CUT,       // closes the connection in the middle of the fourth part
        FAULT_GARBAGE,   // every other part is random bytes said to be a JPEG
        FAULT_OVERSIZED, // the first part is 17 MB of filler, then pictures
    };

    struct COptions
    {
        USHORT m_nPort = 0; // 0: any free port
        UINT m_cx = 640;
        UINT m_cy = 480;
        UINT m_nFps = 25;
        UINT m_nChannels = 1;
        std::string m_strUser; // empty: no credentials asked
        std::string m_strPassword;
        bool m_bDigest = false; // Digest instead of Basic
        Fault m_fault = FAULT_NONE;
    };

    CSimCamera();
    ~CSimCamera();
    CSimCamera(const CSimCamera&) = delete;
    CSimCamera& operator=(const CSimCamera&) = delete;

    bool Start(const COptions& options);
    void Stop();
    USHORT Port() const { return m_nPort; }
    void SetFault(Fault fault);

    static bool ParseFault(const std::string& strName, Fault* pFault);

    // What it has done so far.
    ULONG Connections() const { return m_nConnections; }
    ULONG OpenConnections() const { return m_nOpen; }
    ULONG Refusals() const { return m_nRefusals; } // 401 answers
    ULONG FramesSent() const { return m_nFramesSent; }
    // QueryPerformanceCounter when frame n started to leave (recent frames only), or 0.
    LONGLONG SentAt(ULONG nFrame) const;

private:
    static const size_t SENT_RING = 4096;

    // Sockets are kept as UINT_PTR so users of this header need no Winsock.
    typedef UINT_PTR Socket;

    bool Listen();
    void AcceptLoop();
    void Serve(Socket s);
    bool Authorized(const std::string& strRequest, const std::string& strPath) const;
    void Stream(Socket s, UINT nChannel);
    bool HoldUntilClosed(Socket s);
    bool SendAll(Socket s, const char* pb, size_t cb);
    Fault CurrentFault() const { return m_fault.load(); }

    COptions m_options;
    std::string m_strNonce;
    USHORT m_nPort = 0;
    std::atomic<Socket> m_listen;
    std::atomic<Fault> m_fault;
    std::atomic<bool> m_bStop;
    HANDLE m_evWake;
    std::thread m_acceptThread;
    std::mutex m_mutex; // guards m_threads
    std::vector<std::thread> m_threads;
        std::atomic<ULONG> m_nConnections;
    std::atomic<ULONG> m_nOpen;
    std::atomic<ULONG> m_nRefusals;
    std::atomic<ULONG> m_nFramesSent;
    std::atomic<ULONG> m_nNextFrame;
    std::vector<std::atomic<LONGLONG>> m_sentAt;
};
