// Decoding with the platform's imaging component (WIC).
#include "jpegdecoder.h"

#include <algorithm>

namespace {

template <class T> void ReleaseAndClear(T*& p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

} // namespace

SIZE FitSize(UINT cx, UINT cy, UINT cxFit, UINT cyFit)
{
    SIZE size = { static_cast<LONG>(cx), static_cast<LONG>(cy) };
    if (cx == 0 || cy == 0 || cxFit == 0 || cyFit == 0)
        return size;
    // Whichever side limits the scale decides it; the other follows.
    if (static_cast<ULONGLONG>(cxFit) * cy <= static_cast<ULONGLONG>(cyFit) * cx) {
        size.cx = static_cast<LONG>(cxFit);
        size.cy = static_cast<LONG>((static_cast<ULONGLONG>(cy) * cxFit + cx / 2) / cx);
    } else {
        size.cy = static_cast<LONG>(cyFit);
        size.cx = static_cast<LONG>((static_cast<ULONGLONG>(cx) * cyFit + cy / 2) / cy);
    }
    if (size.cx < 1)
        size.cx = 1;
    if (size.cy < 1)
        size.cy = 1;
    return size;
}

CJpegDecoder::CJpegDecoder() : m_pFactory(nullptr)
{
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(&m_pFactory));
}

CJpegDecoder::~CJpegDecoder()
{
    ReleaseAndClear(m_pFactory);
}

bool CJpegDecoder::Decode(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame)
{
    if (m_pFactory == nullptr || pb == nullptr || cb < 4 || cb > MAXDWORD)
        return false;
    // Only JPEG: the imaging component would take other formats too.
    if (pb[0] != 0xFF || pb[1] != 0xD8)
        return false;
    IWICStream* pStream = nullptr;
    IWICBitmapDecoder* pDecoder = nullptr;
    IWICBitmapFrameDecode* pSource = nullptr;
    IWICFormatConverter* pConverter = nullptr;
    bool bOk = false;
    UINT cx = 0, cy = 0;
    WICPixelFormatGUID format = {};
    if (SUCCEEDED(m_pFactory->CreateStream(&pStream)) &&
        SUCCEEDED(pStream->InitializeFromMemory(const_cast<BYTE*>(pb), static_cast<DWORD>(cb))) &&
        SUCCEEDED(m_pFactory->CreateDecoderFromStream(pStream, nullptr, WICDecodeMetadataCacheOnDemand,
                                                      &pDecoder)) &&
        SUCCEEDED(pDecoder->GetFrame(0, &pSource)) && SUCCEEDED(pSource->GetSize(&cx, &cy)) &&
        SUCCEEDED(pSource->GetPixelFormat(&format)) && cx > 0 && cy > 0 && cx <= MAX_SIDE && cy <= MAX_SIDE &&
        static_cast<ULONGLONG>(cx) * cy <= MAX_PIXELS) {
        // Colour JPEGs come as 24-bit BGR already; anything else is converted.
        IWICBitmapSource* pPixels = pSource;
        if (format != GUID_WICPixelFormat24bppBGR) {
            pPixels = nullptr;
            if (SUCCEEDED(m_pFactory->CreateFormatConverter(&pConverter)) &&
                SUCCEEDED(pConverter->Initialize(pSource, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                                 nullptr, 0.0, WICBitmapPaletteTypeCustom)))
                pPixels = pConverter;
        }
        const UINT cbStride = (cx * 3 + 3) & ~3u;
        m_source.resize(static_cast<size_t>(cbStride) * cy);
        if (pPixels && SUCCEEDED(pPixels->CopyPixels(nullptr, cbStride, static_cast<UINT>(m_source.size()),
                                                      m_source.data()))) {
            const SIZE size = FitSize(cx, cy, cxFit, cyFit);
            ScaleInto(cx, cy, cbStride, static_cast<UINT>(size.cx), static_cast<UINT>(size.cy), pFrame);
            bOk = true;
        }
    }
    ReleaseAndClear(pConverter);
    ReleaseAndClear(pSource);
    ReleaseAndClear(pDecoder);
    ReleaseAndClear(pStream);
    return bOk;
}

// Bilinear scaling of the 24-bit source into 32-bit BGRX, in one pass: the
// imaging component's own scaler and converter cost twice the decoding here.
void CJpegDecoder::ScaleInto(UINT cxSource, UINT cySource, UINT cbStride, UINT cx, UINT cy, CDecodedFrame* pFrame)
{
    pFrame->m_cx = cx;
    pFrame->m_cy = cy;
    pFrame->m_bits.resize(static_cast<size_t>(cx) * cy * 4);
    if (cx == cxSource && cy == cySource) {
        BYTE* pOut = pFrame->m_bits.data();
        for (UINT y = 0; y < cy; ++y) {
            const BYTE* pIn = m_source.data() + static_cast<size_t>(y) * cbStride;
            for (UINT x = 0; x < cx; ++x, pIn += 3, pOut += 4) {
                pOut[0] = pIn[0];
                pOut[1] = pIn[1];
                pOut[2] = pIn[2];
                pOut[3] = 0;
            }
        }
        return;
    }
    // Source positions in 16.16 fixed point, pixel centres aligned.
    std::vector<UINT> xLeft(cx), xWeight(cx);
    for (UINT x = 0; x < cx; ++x) {
        const LONGLONG nPos = std::max<LONGLONG>(
            0, ((2LL * x + 1) * cxSource * 65536 / cx - 65536) / 2);
        xLeft[x] = std::min<UINT>(static_cast<UINT>(nPos >> 16), cxSource - 1);
        xWeight[x] = xLeft[x] + 1 < cxSource ? static_cast<UINT>(nPos & 0xFFFF) >> 8 : 0;
    }
    BYTE* pOut = pFrame->m_bits.data();
    for (UINT y = 0; y < cy; ++y) {
        const LONGLONG nPos = std::max<LONGLONG>(0, ((2LL * y + 1) * cySource * 65536 / cy - 65536) / 2);
        const UINT yTop = std::min<UINT>(static_cast<UINT>(nPos >> 16), cySource - 1);
        const UINT wy = yTop + 1 < cySource ? static_cast<UINT>(nPos & 0xFFFF) >> 8 : 0;
        const BYTE* pRow0 = m_source.data() + static_cast<size_t>(yTop) * cbStride;
        const BYTE* pRow1 = wy ? pRow0 + cbStride : pRow0;
        for (UINT x = 0; x < cx; ++x, pOut += 4) {
            const BYTE* p0 = pRow0 + xLeft[x] * 3;
            const BYTE* p1 = pRow1 + xLeft[x] * 3;
            const UINT wx = xWeight[x];
            const UINT nStep = wx ? 3 : 0;
            for (int c = 0; c < 3; ++c) {
                const UINT nTop = p0[c] * (256 - wx) + p0[c + nStep] * wx;
                const UINT nBottom = p1[c] * (256 - wx) + p1[c + nStep] * wx;
                pOut[c] = static_cast<BYTE>((nTop * (256 - wy) + nBottom * wy + 32768) >> 16);
            }
            pOut[3] = 0;
        }
    }
}
