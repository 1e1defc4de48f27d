// Converting a decoded picture to the pixels drawn.
#include "pictureconverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

CPictureConverter::~CPictureConverter()
{
    sws_freeContext(m_pScaler);
}

bool CPictureConverter::Convert(const AVFrame* pSource, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame)
{
    if (cxFit == 0 || cyFit == 0 || pSource->width <= 0 || pSource->height <= 0 ||
        static_cast<UINT>(pSource->width) > CJpegDecoder::MAX_SIDE ||
        static_cast<UINT>(pSource->height) > CJpegDecoder::MAX_SIDE)
        return false;
    const SIZE fit = FitSize(pSource->width, pSource->height, cxFit, cyFit);
    m_pScaler = sws_getCachedContext(m_pScaler, pSource->width, pSource->height,
                                     static_cast<AVPixelFormat>(pSource->format), fit.cx, fit.cy, AV_PIX_FMT_BGR0,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (m_pScaler == nullptr)
        return false;
    pFrame->m_cx = fit.cx;
    pFrame->m_cy = fit.cy;
    pFrame->m_bits.resize(static_cast<size_t>(fit.cx) * fit.cy * 4);
    uint8_t* const planes[4] = { pFrame->m_bits.data(), nullptr, nullptr, nullptr };
    const int strides[4] = { fit.cx * 4, 0, 0, 0 };
    return sws_scale(m_pScaler, pSource->data, pSource->linesize, 0, pSource->height, planes, strides) == fit.cy;
}
