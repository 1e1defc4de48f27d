// CMjpegStream: one camera's Motion JPEG stream over HTTP. It runs on two
// threads of its own: the reading thread (CStreamSession: connection,
// sign-in, reading, what the picture says) and the decoding thread (the
// newest part, decoded at the size it is shown).
#pragma once

#include "camerastream.h"
#include "multiwakeup.h"

class CMjpegStream final : public CCameraStream
{
public:
    // After this many pictures in a row that don't decode, the picture says so.
    static const ULONG UNDECODABLE_IN_A_ROW = 5;

    // Starts fetching the target; each new picture or status is announced by
    // posting uMsg to hWndNotify (once until TakeFrame is called). Stop ends
    // the connection and the threads at once.
    static std::shared_ptr<CMjpegStream> Start(const CTarget& target, HWND hWndNotify, UINT uMsg);

    // "host:port" of a URL, without any user name or password in it.
    static std::wstring ShownAddress(const std::wstring& strUrl);

private:
    CMjpegStream(const CTarget& target, HWND hWndNotify, UINT uMsg);
    void WakeForStop() override { m_wakeUp.Wake(); }
    void ReadLoop();
    void DecodeLoop();

    const CTarget m_target; // set at the start, read by the reading thread
    CMultiWakeUp m_wakeUp;  // the reading thread's wait
};
