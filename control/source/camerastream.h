// CCameraStream: one camera's stream as the control's thread sees it,
// whatever its protocol. The stream's threads and the control's thread meet
// only in the hand-over (CStreamHandOver). Each thread holds the stream and
// a reference on this DLL, so Stop and the control's release never wait for
// them. A thread that runs out of memory ends the stream, never the host,
// and the picture says so.
#pragma once

#include "pluginfile.h"
#include "streamhandover.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class CCameraStream
{
public:
    typedef CStreamHandOver::CFrame CFrame;
    typedef CStreamHandOver::CCounts CCounts;

    // The camera, as the plug-in names it.
    struct CTarget
    {
        std::wstring m_strUrl;
        std::wstring m_strUser;
        std::wstring m_strPassword;
        DWORD m_nSilenceMs = 0; // 0: the default
        CPluginFile::Transport m_transport = CPluginFile::TRANSPORT_AUTO; // RTSP only

        static const DWORD DEFAULT_SILENCE_MS = 10000;
        // How long the camera may send nothing before its stream is said to stall.
        DWORD SilenceMs() const { return m_nSilenceMs > 0 ? m_nSilenceMs : DEFAULT_SILENCE_MS; }
    };

    virtual ~CCameraStream();
    CCameraStream(const CCameraStream&) = delete;
    CCameraStream& operator=(const CCameraStream&) = delete;

    // Asks the threads to end and returns at once: nothing is announced
    // after it.
    void Stop();

    // The newest picture not yet taken, or null; re-arms the announcement.
    std::unique_ptr<CFrame> TakeFrame() { return m_handOver.TakeFrame(); }

    // What the picture should say instead of showing frames; empty while
    // frames arrive. Names the camera by host and port only.
    std::wstring Status() const { return m_handOver.Status(); }

    CCounts Counts() const { return m_handOver.Counts(); }

    // Whether the control shows this stream, and at what size: pictures are
    // made to fit it, and not at all for a stream not shown; for a window
    // with no area (a minimised host) each is handed over without pixels.
    void SetView(bool bShown, UINT cx, UINT cy);

protected:
    // strAddress: the camera as its picture names it (host and port).
    CCameraStream(const std::wstring& strAddress, HWND hWndNotify, UINT uMsg);

    // Called by Stop once the stop event is set: wakes a thread that waits
    // for the stop somewhere the event can't reach.
    virtual void WakeForStop() {}

    // Makes the picture from a part at the given size into the frame; false
    // when it can't.
    typedef std::function<bool(const CStreamHandOver::CPart&, UINT, UINT, CFrame*)> MakePicture;
    // The picture thread: the newest part each time, made at the size it is
    // shown; none for a stream no one sees, no pixels for a window with no
    // area. Returns when the stream stops.
    void PictureLoop(const MakePicture& make);

    typedef void (CCameraStream::*ThreadBody)();
    // Runs body on each thread; when one can't start, says so and stops.
    static void StartThreads(const std::shared_ptr<CCameraStream>& pSelf, std::initializer_list<ThreadBody> bodies);

    const std::wstring m_strAddress;
    const HANDLE m_evStop;       // manual-reset: set by Stop
    std::atomic<UINT> m_cxView;  // set by the control's thread, read by the stream's threads
    std::atomic<UINT> m_cyView;
    std::atomic<bool> m_bShown;
    CStreamHandOver m_handOver;  // locks for itself

private:
    bool StartThread(const std::shared_ptr<CCameraStream>& pSelf, ThreadBody body);
    // A thread ran out of memory: the picture says so and the stream ends.
    void EndOutOfMemory();
    static DWORD WINAPI ThreadProc(LPVOID pParam);
};
