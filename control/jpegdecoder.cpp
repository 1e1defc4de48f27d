// Decoding with the platform's imaging component (WIC).
#include "jpegdecoder.h"

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
    IWICBitmapScaler* pScaler = nullptr;
    IWICFormatConverter* pConverter = nullptr;
    bool bOk = false;
    UINT cx = 0, cy = 0;
    if (SUCCEEDED(m_pFactory->CreateStream(&pStream)) &&
        SUCCEEDED(pStream->InitializeFromMemory(const_cast<BYTE*>(pb), static_cast<DWORD>(cb))) &&
        SUCCEEDED(m_pFactory->CreateDecoderFromStream(pStream, nullptr, WICDecodeMetadataCacheOnDemand,
                                                      &pDecoder)) &&
        SUCCEEDED(pDecoder->GetFrame(0, &pSource)) && SUCCEEDED(pSource->GetSize(&cx, &cy)) &&
        cx > 0 && cy > 0 && cx <= MAX_SIDE && cy <= MAX_SIDE) {
        const SIZE size = FitSize(cx, cy, cxFit, cyFit);
        IWICBitmapSource* pScaled = pSource;
        if ((static_cast<UINT>(size.cx) != cx || static_cast<UINT>(size.cy) != cy) &&
            SUCCEEDED(m_pFactory->CreateBitmapScaler(&pScaler)) &&
            SUCCEEDED(pScaler->Initialize(pSource, size.cx, size.cy, WICBitmapInterpolationModeLinear)))
            pScaled = pScaler;
        UINT cxOut = 0, cyOut = 0;
        if (SUCCEEDED(m_pFactory->CreateFormatConverter(&pConverter)) &&
            SUCCEEDED(pConverter->Initialize(pScaled, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone,
                                             nullptr, 0.0, WICBitmapPaletteTypeCustom)) &&
            SUCCEEDED(pConverter->GetSize(&cxOut, &cyOut))) {
            const UINT cbStride = cxOut * 4;
            pFrame->m_bits.resize(static_cast<size_t>(cbStride) * cyOut);
            if (SUCCEEDED(pConverter->CopyPixels(nullptr, cbStride, static_cast<UINT>(pFrame->m_bits.size()),
                                                 pFrame->m_bits.data()))) {
                pFrame->m_cx = cxOut;
                pFrame->m_cy = cyOut;
                bOk = true;
            }
        }
    }
    ReleaseAndClear(pConverter);
    ReleaseAndClear(pScaler);
    ReleaseAndClear(pSource);
    ReleaseAndClear(pDecoder);
    ReleaseAndClear(pStream);
    return bOk;
}
