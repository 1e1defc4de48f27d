// CMjpegStream: one camera's Motion JPEG stream, fetched over HTTP with the
// platform's HTTP client on threads of its own. The reading thread connects,
// authenticates and splits the stream into JPEG parts; the decoding thread
// decodes the newest part at the size it is shown and hands the picture to
// the control's thread. At each hand-over only the newest is kept: a part
// not yet decoded, or a picture not yet taken, is dropped for a newer one,
// never queued, so the network is read as fast as the camera sends. On any
// failure the stream says why in its status and connects again after a
// pause that grows from 1 s to 30 s.
#pragma once

#include "jpegdecoder.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CMjpegStream
{
public:
    struct CTarget
    {
        std::wstring m_strUrl;
        std::wstring m_strUser;
        std::wstring m_strPassword;
    };

    // A picture ready to show, with the local time its part arrived.
    struct CFrame : CDecodedFrame
    {
        SYSTEMTIME m_stReceived = {};
    };

    // What the thread has counted so far.
    struct CCounts
    {
        ULONGLONG m_nReceived = 0;    // JPEG parts that arrived
        ULONGLONG m_nUndecodable = 0; // parts that were no picture
        ULONGLONG m_nDropped = 0;     // pictures replaced by a newer one, or never taken
        ULONGLONG m_nConnections = 0;
        std::vector<double> m_decodeMs; // the latest decode times
    };

    // Starts fetching strTarget; each new picture or status is announced by
    // posting uMsg to hWndNotify (once until TakeFrame is called).
    static std::shared_ptr<CMjpegStream> Start(const CTarget& target, HWND hWndNotify, UINT uMsg);

    ~CMjpegStream();
    CMjpegStream(const CMjpegStream&) = delete;
    CMjpegStream& operator=(const CMjpegStream&) = delete;

    // Asks the thread to end and returns at once: it announces nothing more,
    // and closes its connection within its longest wait (half a second).
    void Stop();

    // The newest picture not yet taken, or null; re-arms the announcement.
    std::unique_ptr<CFrame> TakeFrame();

    // What the picture should say instead of showing frames; empty while
    // frames arrive. Names the camera by host and port only.
    std::wstring Status() const;

    // The size pictures are shown at; they are decoded to fit it.
    void SetViewSize(UINT cx, UINT cy);

    CCounts Counts() const;

    // "host:port" of a URL, without any user name or password in it.
    static std::wstring ShownAddress(const std::wstring& strUrl);

private:
    // How one connection ended.
    enum Outcome { ENDED_STOPPED, ENDED_QUIET, ENDED_FAILED };

    CMjpegStream(const CTarget& target, HWND hWndNotify, UINT uMsg);
    typedef void (CMjpegStream::*ThreadBody)();
    bool StartThread(const std::shared_ptr<CMjpegStream>& pSelf, ThreadBody body);
    static DWORD WINAPI ThreadProc(LPVOID pParam);
    void Run();
    void DecodeLoop();
    Outcome Connect(LPVOID hSession, std::wstring* pstrFailure);
    Outcome ReadStream(LPVOID hRequest, const std::string& strBoundary, std::wstring* pstrFailure);
    Outcome FailureOf(DWORD dwError, bool bResponseStarted, std::wstring* pstrFailure) const;
    void OnPart(std::vector<unsigned char>& body);
    void SetStatus(const std::wstring& strStatus);
    void NotifyLocked();
    bool StopRequested() const { return m_bStop.load(); }

    const CTarget m_target;
    const std::wstring m_strAddress;
    HANDLE m_evStop;
    HANDLE m_evPart; // a part waits to be decoded
    std::atomic<bool> m_bStop;
    std::atomic<UINT> m_cxView;
    std::atomic<UINT> m_cyView;
    ULONGLONG m_nLastDataTick; // the thread's own: when bytes last arrived

    mutable CRITICAL_SECTION m_cs; // guards everything below
    HWND m_hWndNotify;
    UINT m_uMsg;
    bool m_bNotifyPending;
    std::unique_ptr<std::vector<unsigned char>> m_pPart; // newest part not yet decoded
    SYSTEMTIME m_stPart = {};                            // when it arrived
    bool m_bDecoding;                                    // a part is being decoded
    ULONG m_nStatusSerial;                               // changes with each status
    std::unique_ptr<CFrame> m_pPending;
    std::wstring m_strStatus;
    CCounts m_counts;
};
