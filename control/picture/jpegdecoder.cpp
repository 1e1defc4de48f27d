// Decoding with libjpeg-turbo or the platform's imaging component (WIC).
#include "jpegdecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// The platform's scaled decode of a frame. mingw-w64's wincodec.h does not
// declare it; the layout and identifier are the platform's.
MIDL_INTERFACE("3B16811B-6A43-4EC9-B713-3D5A0C13B940")
ISourceTransform : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* prc, UINT cx, UINT cy, WICPixelFormatGUID* pFormat,
                                                 WICBitmapTransformOptions transform, UINT cbStride, UINT cbBuffer,
                                                 BYTE* pbBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* pcx, UINT* pcy) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* pbSupported) = 0;
};
const IID IID_ISourceTransform = { 0x3B16811B, 0x6A43, 0x4EC9, { 0xB7, 0x13, 0x3D, 0x5A, 0x0C, 0x13, 0xB9, 0x40 } };

// The library's scales, in eighths of the picture's size, smallest first:
// those it has SIMD code for. 3/8 (between 1/4 and 1/2) is slower than 4/8.
const int SCALES[] = { 1, 2, 4, 8 };
const int SCALE_DENOMINATOR = 8;

template <class T> void ReleaseAndClear(T*& p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

bool WithinLimits(UINT cx, UINT cy)
{
    return cx > 0 && cy > 0 && cx <= CJpegDecoder::MAX_SIDE && cy <= CJpegDecoder::MAX_SIDE &&
           static_cast<ULONGLONG>(cx) * cy <= CJpegDecoder::MAX_PIXELS;
}

// The library reports errors by calling back; this leaves the decode by a
// long jump, as the library expects, instead of ending the process.
struct CLibraryErrors
{
    jpeg_error_mgr m_mgr; // first, so the library's pointer is ours too
    jmp_buf m_jump;
};

void OnLibraryError(j_common_ptr pInfo)
{
    longjmp(reinterpret_cast<CLibraryErrors*>(pInfo->err)->m_jump, 1);
}

// A warning means missing or damaged data: the picture is refused rather than
// shown with grey or broken blocks. Stray bytes between markers are harmless.
void OnLibraryMessage(j_common_ptr pInfo, int nLevel)
{
    if (nLevel < 0 && pInfo->err->msg_code != JWRN_EXTRANEOUS_DATA)
        OnLibraryError(pInfo);
}

void OnLibraryOutput(j_common_ptr) {}

// A progressive picture is read scan by scan over all of its pixels: one
// with hundreds of scans would hold the decoder for seconds. Everyday
// progressive pictures have about ten.
const int MAX_SCANS = 64;

void OnLibraryProgress(j_common_ptr pInfo)
{
    if (pInfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(pInfo)->input_scan_number > MAX_SCANS)
        OnLibraryError(pInfo);
}

// The BGR of a pixel of cbPixel bytes, as 0x00RRGGBB.
template <UINT cbPixel> UINT PixelAt(const BYTE* p)
{
    if constexpr (cbPixel == 4) {
        UINT n;
        memcpy(&n, p, sizeof n);
        return n & 0xFFFFFF;
    } else {
        return p[0] | p[1] << 8 | p[2] << 16;
    }
}

// a and b mixed with b's weight w of 256, two channels per multiplication.
UINT Mix(UINT a, UINT b, UINT w)
{
    const UINT nRedBlue = (((a & 0xFF00FF) * (256 - w) + (b & 0xFF00FF) * w) >> 8) & 0xFF00FF;
    const UINT nGreen = (((a & 0x00FF00) * (256 - w) + (b & 0x00FF00) * w) >> 8) & 0x00FF00;
    return nRedBlue | nGreen;
}

// Bilinear scaling of cxSource x cySource pixels of cbPixel bytes into cx x cy
// 32-bit pixels, pixel centres aligned.
template <UINT cbPixel>
void ScaleRows(const BYTE* pSource, UINT cxSource, UINT cySource, UINT cbStride, UINT cx, UINT cy, BYTE* pOut)
{
    // Source positions in 16.16 fixed point; weights in 256ths.
    std::vector<UINT> xLeft(cx), xWeight(cx);
    for (UINT x = 0; x < cx; ++x) {
        const LONGLONG nPos = std::max<LONGLONG>(0, ((2LL * x + 1) * cxSource * 65536 / cx - 65536) / 2);
        xLeft[x] = std::min<UINT>(static_cast<UINT>(nPos >> 16), cxSource - 1);
        xWeight[x] = xLeft[x] + 1 < cxSource ? static_cast<UINT>(nPos & 0xFFFF) >> 8 : 0;
    }
    for (UINT y = 0; y < cy; ++y) {
        const LONGLONG nPos = std::max<LONGLONG>(0, ((2LL * y + 1) * cySource * 65536 / cy - 65536) / 2);
        const UINT yTop = std::min<UINT>(static_cast<UINT>(nPos >> 16), cySource - 1);
        const UINT wy = yTop + 1 < cySource ? static_cast<UINT>(nPos & 0xFFFF) >> 8 : 0;
        const BYTE* pRow0 = pSource + static_cast<size_t>(yTop) * cbStride;
        const BYTE* pRow1 = wy ? pRow0 + cbStride : pRow0;
        for (UINT x = 0; x < cx; ++x) {
            const UINT nLeft = xLeft[x] * cbPixel;
            const UINT nRight = xWeight[x] ? nLeft + cbPixel : nLeft;
            const UINT nTop = Mix(PixelAt<cbPixel>(pRow0 + nLeft), PixelAt<cbPixel>(pRow0 + nRight), xWeight[x]);
            const UINT nBottom = Mix(PixelAt<cbPixel>(pRow1 + nLeft), PixelAt<cbPixel>(pRow1 + nRight), xWeight[x]);
            const UINT nPixel = Mix(nTop, nBottom, wy);
            memcpy(pOut, &nPixel, sizeof nPixel);
            pOut += sizeof nPixel;
        }
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

CJpegDecoder::CJpegDecoder(Engine engine) : m_engine(engine), m_pFactory(nullptr)
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
    if (pb == nullptr || cb < 4 || cb > MAXDWORD)
        return false;
    // Only JPEG: the imaging component would take other formats too.
    if (pb[0] != 0xFF || pb[1] != 0xD8)
        return false;
    if (m_engine == ENGINE_CHOOSE) {
        switch (DecodeWithPlatform(pb, cb, cxFit, cyFit, true, pFrame)) {
        case DECODED:
            m_engine = ENGINE_PLATFORM;
            return true;
        case NOT_MINE:
            m_engine = ENGINE_LIBRARY;
            break;
        case REFUSED: // not even readable: ask again with the next picture
            return DecodeWithLibrary(pb, cb, cxFit, cyFit, pFrame) == DECODED;
        }
    }
    if (m_engine == ENGINE_PLATFORM)
        return DecodeWithPlatform(pb, cb, cxFit, cyFit, false, pFrame) == DECODED;
    switch (DecodeWithLibrary(pb, cb, cxFit, cyFit, pFrame)) {
    case DECODED:
        return true;
    case NOT_MINE:
        return DecodeWithPlatform(pb, cb, cxFit, cyFit, false, pFrame) == DECODED;
    default:
        return false;
    }
}

// NOT_MINE for a CMYK picture, which the library can't turn into BGRX.
CJpegDecoder::Result CJpegDecoder::DecodeWithLibrary(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit,
                                                     CDecodedFrame* pFrame)
{
    jpeg_decompress_struct info;
    CLibraryErrors errors;
    info.err = jpeg_std_error(&errors.m_mgr);
    errors.m_mgr.error_exit = OnLibraryError;
    errors.m_mgr.emit_message = OnLibraryMessage;
    errors.m_mgr.output_message = OnLibraryOutput;
    jpeg_progress_mgr progress = {};
    progress.progress_monitor = OnLibraryProgress;
    Result result = REFUSED;
    // Nothing with a destructor lives between here and a long jump back.
    if (setjmp(errors.m_jump) == 0) {
        jpeg_create_decompress(&info);
        info.progress = &progress;
        result = ReadWithLibrary(&info, pb, cb, cxFit, cyFit, pFrame);
    }
    jpeg_destroy_decompress(&info);
    return result;
}

CJpegDecoder::Result CJpegDecoder::ReadWithLibrary(jpeg_decompress_struct* pInfo, const BYTE* pb, size_t cb,
                                                   UINT cxFit, UINT cyFit, CDecodedFrame* pFrame)
{
    jpeg_mem_src(pInfo, pb, static_cast<unsigned long>(cb));
    if (jpeg_read_header(pInfo, TRUE) != JPEG_HEADER_OK || !WithinLimits(pInfo->image_width, pInfo->image_height))
        return REFUSED;
    if (pInfo->jpeg_color_space == JCS_CMYK || pInfo->jpeg_color_space == JCS_YCCK)
        return NOT_MINE;
    const SIZE fit = FitSize(pInfo->image_width, pInfo->image_height, cxFit, cyFit);
    // The smallest scale that still covers the size shown: the library then
    // skips most of the work for the pixels it leaves out.
    pInfo->out_color_space = JCS_EXT_BGRX;
    pInfo->scale_denom = SCALE_DENOMINATOR;
    for (int nScale : SCALES) {
        pInfo->scale_num = nScale;
        jpeg_calc_output_dimensions(pInfo);
        if (pInfo->output_width >= static_cast<UINT>(fit.cx) && pInfo->output_height >= static_cast<UINT>(fit.cy))
            break;
    }
    jpeg_start_decompress(pInfo);
    const UINT cx = pInfo->output_width;
    const UINT cy = pInfo->output_height;
    const UINT cbStride = cx * 4;
    // At the size shown the rows go straight into the picture.
    const bool bShownSize = cx == static_cast<UINT>(fit.cx) && cy == static_cast<UINT>(fit.cy);
    std::vector<BYTE>& rows = bShownSize ? pFrame->m_bits : m_source;
    rows.resize(static_cast<size_t>(cbStride) * cy);
    while (pInfo->output_scanline < cy) {
        JSAMPROW row = rows.data() + static_cast<size_t>(pInfo->output_scanline) * cbStride;
        if (jpeg_read_scanlines(pInfo, &row, 1) != 1)
            return REFUSED;
    }
    jpeg_finish_decompress(pInfo);
    if (bShownSize) {
        pFrame->m_cx = cx;
        pFrame->m_cy = cy;
    } else {
        ScaleInto(cx, cy, cbStride, 4, static_cast<UINT>(fit.cx), static_cast<UINT>(fit.cy), pFrame);
    }
    return DECODED;
}

// With bOnlyScaled, NOT_MINE when the platform can't decode at a smaller size.
CJpegDecoder::Result CJpegDecoder::DecodeWithPlatform(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit,
                                                      bool bOnlyScaled, CDecodedFrame* pFrame)
{
    if (m_pFactory == nullptr)
        return bOnlyScaled ? NOT_MINE : REFUSED;
    IWICStream* pStream = nullptr;
    IWICBitmapDecoder* pDecoder = nullptr;
    IWICBitmapFrameDecode* pSource = nullptr;
    ISourceTransform* pTransform = nullptr;
    IWICFormatConverter* pConverter = nullptr;
    Result result = REFUSED;
    UINT cx = 0, cy = 0;
    WICPixelFormatGUID format = {};
    if (SUCCEEDED(m_pFactory->CreateStream(&pStream)) &&
        SUCCEEDED(pStream->InitializeFromMemory(const_cast<BYTE*>(pb), static_cast<DWORD>(cb))) &&
        SUCCEEDED(m_pFactory->CreateDecoderFromStream(pStream, nullptr, WICDecodeMetadataCacheOnDemand,
                                                      &pDecoder)) &&
        SUCCEEDED(pDecoder->GetFrame(0, &pSource)) && SUCCEEDED(pSource->GetSize(&cx, &cy)) &&
        SUCCEEDED(pSource->GetPixelFormat(&format)) && WithinLimits(cx, cy)) {
        const SIZE fit = FitSize(cx, cy, cxFit, cyFit);
        UINT cxDecoded = cx, cyDecoded = cy, cbPixel = 3;
        WICPixelFormatGUID formatDecoded = GUID_WICPixelFormat32bppBGR;
        if (SUCCEEDED(pSource->QueryInterface(IID_ISourceTransform, reinterpret_cast<void**>(&pTransform)))) {
            // The closest size the decoder makes itself, in 32-bit BGR if it can.
            cxDecoded = static_cast<UINT>(fit.cx);
            cyDecoded = static_cast<UINT>(fit.cy);
            if (FAILED(pTransform->GetClosestSize(&cxDecoded, &cyDecoded)) ||
                FAILED(pTransform->GetClosestPixelFormat(&formatDecoded)) || !WithinLimits(cxDecoded, cyDecoded) ||
                (formatDecoded != GUID_WICPixelFormat32bppBGR && formatDecoded != GUID_WICPixelFormat24bppBGR))
                ReleaseAndClear(pTransform);
            cbPixel = formatDecoded == GUID_WICPixelFormat32bppBGR ? 4 : 3;
        }
        if (pTransform) {
            const UINT cbStride = (cxDecoded * cbPixel + 3) & ~3u;
            // At the size shown, in 32 bits, the rows go straight into the picture.
            const bool bShownSize =
                cxDecoded == static_cast<UINT>(fit.cx) && cyDecoded == static_cast<UINT>(fit.cy) && cbPixel == 4;
            std::vector<BYTE>& rows = bShownSize ? pFrame->m_bits : m_source;
            rows.resize(static_cast<size_t>(cbStride) * cyDecoded);
            if (SUCCEEDED(pTransform->CopyPixels(nullptr, cxDecoded, cyDecoded, &formatDecoded,
                                                 WICBitmapTransformRotate0, cbStride,
                                                 static_cast<UINT>(rows.size()), rows.data()))) {
                if (bShownSize) {
                    pFrame->m_cx = cxDecoded;
                    pFrame->m_cy = cyDecoded;
                } else {
                    ScaleInto(cxDecoded, cyDecoded, cbStride, cbPixel, static_cast<UINT>(fit.cx),
                              static_cast<UINT>(fit.cy), pFrame);
                }
                result = DECODED;
            }
        } else if (bOnlyScaled) {
            result = NOT_MINE;
        } else {
            // The whole picture, as 24-bit BGR (colour JPEGs come so already).
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
                ScaleInto(cx, cy, cbStride, 3, static_cast<UINT>(fit.cx), static_cast<UINT>(fit.cy), pFrame);
                result = DECODED;
            }
        }
    }
    ReleaseAndClear(pConverter);
    ReleaseAndClear(pTransform);
    ReleaseAndClear(pSource);
    ReleaseAndClear(pDecoder);
    ReleaseAndClear(pStream);
    return result;
}

// Bilinear scaling of the picture in m_source (24- or 32-bit) into 32-bit
// BGRX, in one pass: the imaging component's own scaler and converter cost
// twice the decoding under Wine.
void CJpegDecoder::ScaleInto(UINT cxSource, UINT cySource, UINT cbStride, UINT cbPixel, UINT cx, UINT cy,
                             CDecodedFrame* pFrame) const
{
    pFrame->m_cx = cx;
    pFrame->m_cy = cy;
    pFrame->m_bits.resize(static_cast<size_t>(cx) * cy * 4);
    if (cbPixel == 4)
        ScaleRows<4>(m_source.data(), cxSource, cySource, cbStride, cx, cy, pFrame->m_bits.data());
    else
        ScaleRows<3>(m_source.data(), cxSource, cySource, cbStride, cx, cy, pFrame->m_bits.data());
}
