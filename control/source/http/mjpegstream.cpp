// A camera's stream: its two threads, started and stopped.
#include "mjpegstream.h"

#include "cameraurl.h"
#include "streamsession.h"
#include "streamwords.h"

std::wstring CMjpegStream::ShownAddress(const std::wstring& strUrl)
{
    return ShownAddressOf(strUrl);
}

std::shared_ptr<CMjpegStream> CMjpegStream::Start(const CTarget& target, HWND hWndNotify, UINT uMsg)
{
    std::shared_ptr<CMjpegStream> pStream(new CMjpegStream(target, hWndNotify, uMsg));
    StartThreads(pStream, { static_cast<ThreadBody>(&CMjpegStream::DecodeLoop),
                            static_cast<ThreadBody>(&CMjpegStream::ReadLoop) });
    return pStream;
}

CMjpegStream::CMjpegStream(const CTarget& target, HWND hWndNotify, UINT uMsg)
    : CCameraStream(ShownAddress(target.m_strUrl), hWndNotify, uMsg), m_target(target)
{
}

// The reading thread.
void CMjpegStream::ReadLoop()
{
    CStreamSession session(m_target, m_handOver, m_evStop, m_wakeUp);
    session.Run();
}

// The decoding thread: the newest part each time, at the size it is shown;
// none for a stream no one sees. A few parts in a row that are no picture
// make the picture say so.
void CMjpegStream::DecodeLoop()
{
    CJpegDecoder decoder;
    ULONG nUndecodable = 0;
    PictureLoop([&](const CStreamHandOver::CPart& part, UINT cx, UINT cy, CFrame* pFrame) {
        const std::vector<unsigned char>& bytes = static_cast<const CJpegPart&>(*part.m_pBody).m_bytes;
        const bool bDecoded = decoder.Decode(bytes.data(), bytes.size(), cx, cy, pFrame);
        nUndecodable = bDecoded ? 0 : nUndecodable + 1;
        if (nUndecodable == UNDECODABLE_IN_A_ROW)
            m_handOver.SetStatus(CStreamWords(m_strAddress).Undecodable(
                CJpegDecoder::LooksLikeJpeg(bytes.data(), bytes.size())));
        return bDecoded;
    });
}
