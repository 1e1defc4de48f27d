// A camera's stream: its two threads, started and stopped.
#include "mjpegstream.h"

#include "cameraurl.h"
#include "standinswitches.h"
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

// The reading thread. Out of memory ends the session, not the host: what
// it held is given back, and the picture says why it ended.
void CMjpegStream::ReadLoop()
{
    try {
        CStreamSession::CSettings settings;
        settings.m_strUrl = m_target.m_strUrl;
        settings.m_strUser = standin::ToUtf8(m_target.m_strUser);
        settings.m_strPassword = standin::ToUtf8(m_target.m_strPassword);
        if (m_target.m_nSilenceMs > 0)
            settings.m_nSilenceMs = m_target.m_nSilenceMs;
        CStreamSession session(settings, m_handOver, m_evStop, m_wakeUp);
        session.Run();
        return;
    } catch (const std::bad_alloc&) {
    }
    try {
        m_handOver.SetStatus(CStreamWords(m_strAddress).OutOfMemory());
    } catch (const std::bad_alloc&) {
    }
}

// The decoding thread: the newest part each time, at the size it is shown;
// none for a stream no one sees. A few parts in a row that are no picture
// make the picture say so.
void CMjpegStream::DecodeLoop()
{
    CJpegDecoder decoder;
    ULONG nUndecodable = 0;
    const HANDLE handles[2] = { m_evStop, m_handOver.PartEvent() };
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        CStreamHandOver::CPart part;
        if (!m_handOver.TakePart(&part))
            continue;
        if (!m_bShown) {
            m_handOver.NotDecoded();
            continue;
        }
        std::unique_ptr<CFrame> pFrame(new CFrame);
        pFrame->m_stReceived = part.m_stReceived;
        const UINT cxView = m_cxView, cyView = m_cyView;
        if (cxView == 0 || cyView == 0) {
            // It came, but there is nowhere to draw it.
            m_handOver.Decoded(std::move(pFrame), part.m_nStatusSerial, 0.0);
            continue;
        }
        LARGE_INTEGER nFreq, nStart, nEnd;
        QueryPerformanceFrequency(&nFreq);
        QueryPerformanceCounter(&nStart);
        const std::vector<unsigned char>& bytes = static_cast<const CJpegPart&>(*part.m_pBody).m_bytes;
        const bool bDecoded = decoder.Decode(bytes.data(), bytes.size(), cxView, cyView, pFrame.get());
        QueryPerformanceCounter(&nEnd);
        if (!bDecoded)
            pFrame.reset();
        m_handOver.Decoded(std::move(pFrame), part.m_nStatusSerial,
                           1000.0 * static_cast<double>(nEnd.QuadPart - nStart.QuadPart) /
                               static_cast<double>(nFreq.QuadPart));
        nUndecodable = bDecoded ? 0 : nUndecodable + 1;
        if (nUndecodable == UNDECODABLE_IN_A_ROW)
            m_handOver.SetStatus(CStreamWords(m_strAddress).Undecodable(
                CJpegDecoder::LooksLikeJpeg(bytes.data(), bytes.size())));
    }
}
