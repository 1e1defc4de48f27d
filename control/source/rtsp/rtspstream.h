// CRtspStream: one RTSP camera's stream. It runs on two threads of its own:
// the reading thread (CRtspSession: RTSP, RTP and the decoding of every
// picture, with FFmpeg's libraries) and the converting thread (the newest
// decoded picture, converted once at the size it is shown, and only while
// the control shows it).
#pragma once

#include "camerastream.h"

class CRtspStream final : public CCameraStream
{
public:
    // Starts fetching the target; each new picture or status is announced by
    // posting uMsg to hWndNotify (once until TakeFrame is called).
    static std::shared_ptr<CRtspStream> Start(const CTarget& target, HWND hWndNotify, UINT uMsg);

private:
    CRtspStream(const CTarget& target, HWND hWndNotify, UINT uMsg);
    void ReadLoop();
    void ConvertLoop();

    const CTarget m_target; // set at the start, read by the reading thread
};
