// CVideoDecoder: decodes every packet of a camera's video with FFmpeg's
// decoders (H.264 and H.265 need every picture their next ones refer to),
// on at most 2 threads, and hands each picture over with the local time its
// packet arrived; the hand-over keeps only the newest for conversion.
#pragma once

#include "streamhandover.h"

#include <windows.h>

#include <cstdint>

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;

// A picture as FFmpeg decoded it, on its way to be converted.
struct CAvPicture : CPartBody
{
    explicit CAvPicture(AVFrame* pFrame) : m_pFrame(pFrame) {}
    ~CAvPicture() override;
    AVFrame* m_pFrame;
};

class CVideoDecoder
{
public:
    static const int MAX_THREADS = 2;

    CVideoDecoder() = default;
    ~CVideoDecoder();
    CVideoDecoder(const CVideoDecoder&) = delete;
    CVideoDecoder& operator=(const CVideoDecoder&) = delete;

    // 0, or FFmpeg's error: AVERROR_DECODER_NOT_FOUND when this build has
    // no decoder for the stream's codec.
    int Open(const AVCodecParameters* pParams);
    // Decodes pPacket, which arrived at stArrived; each picture it completes
    // goes to handOver. False when the packet did not decode.
    bool Decode(const AVPacket* pPacket, const SYSTEMTIME& stArrived, CStreamHandOver& handOver);

private:
    // When recent packets arrived, by their presentation time: a decoder on
    // several threads hands a picture back a packet or two later.
    struct CArrival
    {
        int64_t m_nPts = 0;
        SYSTEMTIME m_st = {};
    };
    static const size_t ARRIVALS = 16;

    SYSTEMTIME ArrivalOf(int64_t nPts, const SYSTEMTIME& stLatest) const;

    AVCodecContext* m_pContext = nullptr;
    AVFrame* m_pFrame = nullptr;
    CArrival m_arrivals[ARRIVALS];
    size_t m_nNextArrival = 0;
};
