// The reading thread of an RTSP camera: connect, sign in, read, decode; say
// why not.
#include "rtspsession.h"

#include "retrypause.h"
#include "standinswitches.h"
#include "streamhandover.h"
#include "videodecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The texts FFmpeg's RTSP client logs for the steps it does not report
// otherwise: each request it sends, and a redirect it is about to follow.
const char SENDING_LOG[] = "Sending:";
const char REDIRECT_LOG[] = "Status %d: Redirecting to %s";
// What a redirect elsewhere leaves FFmpeg to open: nothing.
const char NO_PROTOCOL[] = "none";

INIT_ONCE s_initLog = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InstallLogOnce(PINIT_ONCE, PVOID pCallback, PVOID*)
{
    av_log_set_callback(reinterpret_cast<void (*)(void*, int, const char*, va_list)>(pCallback));
    return TRUE;
}

bool IsError(int nError, int nErrno, int nWinsock)
{
    return nError == AVERROR(nErrno) || nError == AVERROR(nWinsock);
}

} // namespace

CRtspSession::CRtspSession(const CCameraStream::CTarget& target, CStreamHandOver& handOver, HANDLE evStop)
    : m_target(target), m_handOver(handOver), m_evStop(evStop), m_words(ShownRtspAddressOf(target.m_strUrl)),
      m_bAddressValid(CRtspAddress::Parse(standin::ToUtf8(target.m_strUrl), &m_address))
{
    InitOnceExecuteOnce(&s_initLog, InstallLogOnce, reinterpret_cast<PVOID>(&CRtspSession::OnLog), nullptr);
}

void CRtspSession::Run()
{
    CRetryPause(m_handOver, m_words, m_evStop)
        .Run([this](std::wstring* pstrFailure) { return Attempt(pstrFailure) != STOPPED; });
}

bool CRtspSession::Stopped() const
{
    return WaitForSingleObject(m_evStop, 0) == WAIT_OBJECT_0;
}

void CRtspSession::Expect(Expecting expecting, DWORD nMs)
{
    m_expecting = expecting;
    m_nDeadline = GetTickCount64() + nMs;
}

// One connection: open, play until it fails or the stop, close.
CRtspSession::Outcome CRtspSession::Attempt(std::wstring* pstrFailure)
{
    if (!m_bAddressValid) {
        *pstrFailure = m_words.NotAnAddress(L"rtsp://");
        return FAILED;
    }
    m_bLate = false;
    m_nRedirectStatus = 0;
    m_strElsewhere.clear();
    AVFormatContext* pContext = nullptr;
    const int nError = Open(&pContext);
    if (nError < 0)
        return Failed(nError, L"opening the stream", pstrFailure);
    m_handOver.CountConnection();
    const Outcome outcome = Play(pContext, pstrFailure);
    // Closing sends TEARDOWN; after the stop the interrupt callback cuts it short.
    avformat_close_input(&pContext);
    return outcome;
}

int CRtspSession::Open(AVFormatContext** ppContext)
{
    AVFormatContext* pContext = avformat_alloc_context();
    if (pContext == nullptr)
        return AVERROR(ENOMEM);
    pContext->interrupt_callback.callback = &CRtspSession::OnInterrupt;
    pContext->interrupt_callback.opaque = this;
    pContext->opaque = this;
    AVDictionary* pOptions = nullptr;
    switch (m_target.m_transport) {
    case CPluginFile::TRANSPORT_TCP:
        av_dict_set(&pOptions, "rtsp_transport", "tcp", 0);
        break;
    case CPluginFile::TRANSPORT_UDP:
        av_dict_set(&pOptions, "rtsp_transport", "udp", 0);
        break;
    default:
        // Both, TCP first: the client asks for UDP only when the camera answers 461.
        av_dict_set(&pOptions, "rtsp_transport", "tcp+udp", 0);
        av_dict_set(&pOptions, "rtsp_flags", "prefer_tcp", 0);
        break;
    }
    av_dict_set(&pOptions, "allowed_media_types", "video", 0);
    const std::string strUrl =
        m_address.WithCredentials(standin::ToUtf8(m_target.m_strUser), standin::ToUtf8(m_target.m_strPassword));
    m_bOpening = true;
    Expect(EXPECT_CONNECTION, std::min(CONNECT_WAIT_MS, m_target.SilenceMs()));
    const int nError = avformat_open_input(&pContext, strUrl.c_str(), nullptr, &pOptions);
    m_bOpening = false;
    av_dict_free(&pOptions);
    *ppContext = pContext; // null when it failed
    return nError;
}

// Reads the camera's video and decodes every packet of it, until the stream
// fails or the stop.
CRtspSession::Outcome CRtspSession::Play(AVFormatContext* pContext, std::wstring* pstrFailure)
{
    const int nStream = av_find_best_stream(pContext, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (nStream < 0) {
        *pstrFailure = m_words.NoVideo();
        return FAILED;
    }
    const AVCodecParameters* pParams = pContext->streams[nStream]->codecpar;
    CVideoDecoder decoder;
    int nError = decoder.Open(pParams);
    if (nError == AVERROR_DECODER_NOT_FOUND) {
        const AVCodecDescriptor* pCodec = avcodec_descriptor_get(pParams->codec_id);
        *pstrFailure = m_words.NotPlayed(standin::FromUtf8(pCodec ? pCodec->long_name : avcodec_get_name(pParams->codec_id)));
        return FAILED;
    }
    if (nError < 0)
        return Failed(nError, L"opening the decoder", pstrFailure);
    AVPacket* pPacket = av_packet_alloc();
    if (pPacket == nullptr)
        return Failed(AVERROR(ENOMEM), L"reading the stream", pstrFailure);
    Expect(EXPECT_PACKET, m_target.SilenceMs());
    for (;;) {
        nError = av_read_frame(pContext, pPacket);
        if (nError < 0)
            break;
        if (pPacket->stream_index == nStream) {
            Expect(EXPECT_PACKET, m_target.SilenceMs());
            SYSTEMTIME stArrived;
            GetLocalTime(&stArrived);
            decoder.Decode(pPacket, stArrived, m_handOver);
        }
        av_packet_unref(pPacket);
    }
    av_packet_free(&pPacket);
    if (nError == AVERROR_EOF && !m_bLate && !Stopped()) {
        *pstrFailure = m_words.CutOff();
        return FAILED;
    }
    return Failed(nError, L"reading the stream", pstrFailure);
}

// What a failed call of FFmpeg's means, in words; STOPPED after the stop.
CRtspSession::Outcome CRtspSession::Failed(int nError, const wchar_t* pszDoing, std::wstring* pstrFailure) const
{
    if (Stopped())
        return STOPPED;
    if (m_nRedirectStatus != 0) {
        *pstrFailure = m_words.SendsElsewhere(m_nRedirectStatus, m_strElsewhere);
    } else if (m_bLate) {
        *pstrFailure = m_expecting == EXPECT_CONNECTION ? m_words.CantBeReached()
                       : m_expecting == EXPECT_ANSWER   ? m_words.DoesNotAnswer()
                                                        : m_words.SendsNothing();
    } else if (IsError(nError, ECONNREFUSED, WSAECONNREFUSED) || IsError(nError, ETIMEDOUT, WSAETIMEDOUT) ||
               IsError(nError, EHOSTUNREACH, WSAEHOSTUNREACH) || IsError(nError, ENETUNREACH, WSAENETUNREACH)) {
        *pstrFailure = m_words.CantBeReached();
    } else if (nError == AVERROR_HTTP_UNAUTHORIZED) {
        *pstrFailure = m_target.m_strUser.empty() ? m_words.NoCredentials() : m_words.Refused();
    } else if (nError == AVERROR_HTTP_NOT_FOUND) {
        *pstrFailure = m_words.NoSuchStream();
    } else if (IsError(nError, EPROTONOSUPPORT, WSAEPROTONOSUPPORT)) {
        *pstrFailure = m_words.TransportRefused();
    } else {
        char szError[AV_ERROR_MAX_STRING_SIZE] = "";
        av_strerror(nError, szError, sizeof szError);
        *pstrFailure = m_words.LibraryError(pszDoing, standin::FromUtf8(szError));
    }
    return FAILED;
}

// Called by FFmpeg while it waits: nonzero ends the wait.
int CRtspSession::OnInterrupt(void* pSession)
{
    CRtspSession* pThis = static_cast<CRtspSession*>(pSession);
    if (pThis->Stopped() || pThis->m_nRedirectStatus != 0)
        return 1;
    if (!pThis->m_bLate && GetTickCount64() >= pThis->m_nDeadline)
        pThis->m_bLate = true;
    return pThis->m_bLate ? 1 : 0;
}

// Called by FFmpeg for each line it logs, from any thread: the lines of a
// session's own client tell it when a request went out and when the camera
// redirects. Nothing is written anywhere.
void CRtspSession::OnLog(void* pClass, int, const char* pszFormat, va_list args)
{
    if (pClass == nullptr || pszFormat == nullptr || *static_cast<const AVClass**>(pClass) != avformat_get_class())
        return;
    AVFormatContext* pContext = static_cast<AVFormatContext*>(pClass);
    if (pContext->interrupt_callback.callback != &CRtspSession::OnInterrupt || pContext->opaque == nullptr)
        return;
    CRtspSession* pThis = static_cast<CRtspSession*>(pContext->opaque);
    if (std::strncmp(pszFormat, SENDING_LOG, sizeof SENDING_LOG - 1) == 0) {
        pThis->OnRequestSent();
    } else if (std::strncmp(pszFormat, REDIRECT_LOG, sizeof REDIRECT_LOG - 1) == 0) {
        va_list argsCopy;
        va_copy(argsCopy, args);
        const int nStatus = va_arg(argsCopy, int);
        const char* pszLocation = va_arg(argsCopy, const char*);
        va_end(argsCopy);
        pThis->OnRedirect(nStatus, pszLocation, pContext);
    }
}

// A request went out, so the connection stands: its answer has its own deadline.
void CRtspSession::OnRequestSent()
{
    if (m_bOpening)
        Expect(EXPECT_ANSWER, ANSWER_WAIT_MS);
}

// FFmpeg is about to follow a redirect, with the credentials of the first
// address. Within the camera it may; anywhere else it opens nothing, so no
// connection is made there and no credentials go there.
void CRtspSession::OnRedirect(int nStatus, const char* pszLocation, AVFormatContext* pContext)
{
    CRtspAddress target;
    const bool bParsed = pszLocation != nullptr && CRtspAddress::Parse(pszLocation, &target);
    if (bParsed && target.SameOrigin(m_address))
        return;
    m_nRedirectStatus = nStatus;
    m_strElsewhere = bParsed ? target.ShownAddress() : L"(no address)";
    av_opt_set(pContext, "protocol_whitelist", NO_PROTOCOL, 0);
}
