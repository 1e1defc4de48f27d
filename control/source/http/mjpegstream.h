// CMjpegStream: one camera's Motion JPEG stream, as the control's thread
// sees it. It runs on two threads of its own: the reading thread
// (CStreamSession: connection, sign-in, reading, what the picture says) and
// the decoding thread (the newest part, decoded at the size it is shown);
// they and the control's thread meet only in the hand-over
// (CStreamHandOver). Both threads hold the stream and a reference on this
// DLL, so Stop and the control's release never wait for them.
#pragma once

#include "streamhandover.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

class CMjpegStream
{
public:
    struct CTarget
    {
        std::wstring m_strUrl;
        std::wstring m_strUser;
        std::wstring m_strPassword;
        DWORD m_nSilenceMs = 0; // 0: the default
    };

    typedef CStreamHandOver::CFrame CFrame;
    typedef CStreamHandOver::CCounts CCounts;

    // After this many pictures in a row that don't decode, the picture says so.
    static const ULONG UNDECODABLE_IN_A_ROW = 5;

    // Starts fetching the target; each new picture or status is announced by
    // posting uMsg to hWndNotify (once until TakeFrame is called).
    static std::shared_ptr<CMjpegStream> Start(const CTarget& target, HWND hWndNotify, UINT uMsg);

    ~CMjpegStream();
    CMjpegStream(const CMjpegStream&) = delete;
    CMjpegStream& operator=(const CMjpegStream&) = delete;

    // Asks the threads to end and returns at once: nothing is announced
    // after it. The connection and the threads go within the silence limit
    // (at once where the HTTP client can end a pending call).
    void Stop();

    // The newest picture not yet taken, or null; re-arms the announcement.
    std::unique_ptr<CFrame> TakeFrame() { return m_handOver.TakeFrame(); }

    // What the picture should say instead of showing frames; empty while
    // frames arrive. Names the camera by host and port only.
    std::wstring Status() const { return m_handOver.Status(); }

    // Whether the control shows this stream, and at what size: pictures are
    // decoded to fit it, and not at all for a stream not shown or a window
    // with no area (such a picture is handed over undecoded, without pixels).
    void SetView(bool bShown, UINT cx, UINT cy);

    CCounts Counts() const { return m_handOver.Counts(); }

    // "host:port" of a URL, without any user name or password in it.
    static std::wstring ShownAddress(const std::wstring& strUrl);

private:
    CMjpegStream(const CTarget& target, HWND hWndNotify, UINT uMsg);
    typedef void (CMjpegStream::*ThreadBody)();
    bool StartThread(const std::shared_ptr<CMjpegStream>& pSelf, ThreadBody body);
    static DWORD WINAPI ThreadProc(LPVOID pParam);
    void ReadLoop();
    void DecodeLoop();

    const CTarget m_target;          // set at the start, read by the reading thread
    const std::wstring m_strAddress; // the camera as its picture names it
    HANDLE m_evStop;                 // manual-reset: set by Stop
    std::atomic<bool> m_bShown;      // set by the control's thread, read by the decoding thread
    std::atomic<UINT> m_cxView;
    std::atomic<UINT> m_cyView;
    CStreamHandOver m_handOver;      // locks for itself
};
