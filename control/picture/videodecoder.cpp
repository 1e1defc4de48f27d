// Decoding a camera's video.
#include "videodecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

CAvPicture::~CAvPicture()
{
    av_frame_free(&m_pFrame);
}

CVideoDecoder::~CVideoDecoder()
{
    av_frame_free(&m_pFrame);
    avcodec_free_context(&m_pContext);
}

int CVideoDecoder::Open(const AVCodecParameters* pParams)
{
    const AVCodec* pCodec = avcodec_find_decoder(pParams->codec_id);
    if (pCodec == nullptr)
        return AVERROR_DECODER_NOT_FOUND;
    m_pContext = avcodec_alloc_context3(pCodec);
    m_pFrame = av_frame_alloc();
    if (m_pContext == nullptr || m_pFrame == nullptr)
        return AVERROR(ENOMEM);
    int nError = avcodec_parameters_to_context(m_pContext, pParams);
    if (nError < 0)
        return nError;
    m_pContext->thread_count = MAX_THREADS;
    return avcodec_open2(m_pContext, pCodec, nullptr);
}

bool CVideoDecoder::Decode(const AVPacket* pPacket, const SYSTEMTIME& stArrived, CStreamHandOver& handOver)
{
    m_arrivals[m_nNextArrival].m_nPts = pPacket->pts;
    m_arrivals[m_nNextArrival].m_st = stArrived;
    m_nNextArrival = (m_nNextArrival + 1) % ARRIVALS;
    const bool bDecoded = avcodec_send_packet(m_pContext, pPacket) >= 0;
    while (avcodec_receive_frame(m_pContext, m_pFrame) >= 0) {
        AVFrame* pPicture = av_frame_alloc();
        if (pPicture == nullptr) {
            av_frame_unref(m_pFrame);
            continue;
        }
        av_frame_move_ref(pPicture, m_pFrame);
        const SYSTEMTIME stPicture = ArrivalOf(pPicture->pts, stArrived);
        handOver.OfferPart(std::unique_ptr<CPartBody>(new CAvPicture(pPicture)), stPicture);
    }
    return bDecoded;
}

SYSTEMTIME CVideoDecoder::ArrivalOf(int64_t nPts, const SYSTEMTIME& stLatest) const
{
    if (nPts != AV_NOPTS_VALUE)
        for (const CArrival& arrival : m_arrivals)
            if (arrival.m_nPts == nPts)
                return arrival.m_st;
    return stLatest;
}
