// An RTSP camera's stream: its two threads.
#include "rtspstream.h"

#include "pictureconverter.h"
#include "rtspaddress.h"
#include "rtspsession.h"
#include "videodecoder.h"

std::shared_ptr<CRtspStream> CRtspStream::Start(const CTarget& target, HWND hWndNotify, UINT uMsg)
{
    std::shared_ptr<CRtspStream> pStream(new CRtspStream(target, hWndNotify, uMsg));
    StartThreads(pStream, { static_cast<ThreadBody>(&CRtspStream::ConvertLoop),
                            static_cast<ThreadBody>(&CRtspStream::ReadLoop) });
    return pStream;
}

CRtspStream::CRtspStream(const CTarget& target, HWND hWndNotify, UINT uMsg)
    : CCameraStream(ShownRtspAddressOf(target.m_strUrl), hWndNotify, uMsg), m_target(target)
{
}

// The reading thread.
void CRtspStream::ReadLoop()
{
    CRtspSession session(m_target, m_handOver, m_evStop);
    session.Run();
}

// The converting thread: the newest picture each time, at the size it is
// shown; a picture not shown is not converted.
void CRtspStream::ConvertLoop()
{
    CPictureConverter converter;
    PictureLoop([&converter](const CStreamHandOver::CPart& part, UINT cx, UINT cy, CFrame* pFrame) {
        return converter.Convert(static_cast<const CAvPicture&>(*part.m_pBody).m_pFrame, cx, cy, pFrame);
    });
}
