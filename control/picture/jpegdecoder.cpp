// Decoding with libjpeg-turbo.
#include "jpegdecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// The library's scales, in eighths of the picture's size, smallest first:
// those it has SIMD code for. 3/8 (between 1/4 and 1/2) is slower than 4/8.
const int SCALES[] = { 1, 2, 4, 8 };
const int SCALE_DENOMINATOR = 8;

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

// A warning that still leaves a whole picture is let pass: stray bytes
// between markers, a missing end marker (the data runs out after the last
// row; a picture cut short says so with another warning), an unknown JFIF
// revision or Adobe transform, a damaged colour profile. Any other means
// missing or damaged data: the picture is refused rather than shown with
// grey or broken blocks.
void OnLibraryMessage(j_common_ptr pInfo, int nLevel)
{
    if (nLevel >= 0)
        return;
    switch (pInfo->err->msg_code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_JPEG_EOF:
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
        return;
    default:
        OnLibraryError(pInfo);
    }
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

// The BGR of a 32-bit pixel, as 0x00RRGGBB.
UINT PixelAt(const BYTE* p)
{
    UINT n;
    memcpy(&n, p, sizeof n);
    return n & 0xFFFFFF;
}

// a and b mixed with b's weight w of 256, two channels per multiplication.
UINT Mix(UINT a, UINT b, UINT w)
{
    const UINT nRedBlue = (((a & 0xFF00FF) * (256 - w) + (b & 0xFF00FF) * w) >> 8) & 0xFF00FF;
    const UINT nGreen = (((a & 0x00FF00) * (256 - w) + (b & 0x00FF00) * w) >> 8) & 0x00FF00;
    return nRedBlue | nGreen;
}

// Bilinear scaling of cxSource x cySource 32-bit pixels into cx x cy, pixel
// centres aligned.
void ScaleRows(const BYTE* pSource, UINT cxSource, UINT cySource, UINT cx, UINT cy, BYTE* pOut)
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
        const BYTE* pRow0 = pSource + static_cast<size_t>(yTop) * cxSource * 4;
        const BYTE* pRow1 = wy ? pRow0 + static_cast<size_t>(cxSource) * 4 : pRow0;
        for (UINT x = 0; x < cx; ++x) {
            const UINT nLeft = xLeft[x] * 4;
            const UINT nRight = xWeight[x] ? nLeft + 4 : nLeft;
            const UINT nTop = Mix(PixelAt(pRow0 + nLeft), PixelAt(pRow0 + nRight), xWeight[x]);
            const UINT nBottom = Mix(PixelAt(pRow1 + nLeft), PixelAt(pRow1 + nRight), xWeight[x]);
            const UINT nPixel = Mix(nTop, nBottom, wy);
            memcpy(pOut, &nPixel, sizeof nPixel);
            pOut += sizeof nPixel;
        }
    }
}

// CMYK rows as BGRX, in place. Adobe's CMYK pictures store their inks
// inverted (255: no ink).
void CmykToBgrx(BYTE* p, size_t nPixels, bool bInverted)
{
    for (; nPixels > 0; --nPixels, p += 4) {
        UINT c = p[0], m = p[1], y = p[2], k = p[3];
        if (!bInverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        p[0] = static_cast<BYTE>(y * k / 255);
        p[1] = static_cast<BYTE>(m * k / 255);
        p[2] = static_cast<BYTE>(c * k / 255);
        p[3] = 0;
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

bool CJpegDecoder::LooksLikeJpeg(const BYTE* pb, size_t cb)
{
    return pb != nullptr && cb >= 4 && pb[0] == 0xFF && pb[1] == 0xD8;
}

bool CJpegDecoder::Decode(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame)
{
    if (!LooksLikeJpeg(pb, cb) || cb > MAXDWORD)
        return false;
    jpeg_decompress_struct info;
    CLibraryErrors errors;
    info.err = jpeg_std_error(&errors.m_mgr);
    errors.m_mgr.error_exit = OnLibraryError;
    errors.m_mgr.emit_message = OnLibraryMessage;
    errors.m_mgr.output_message = OnLibraryOutput;
    jpeg_progress_mgr progress = {};
    progress.progress_monitor = OnLibraryProgress;
    bool bDecoded = false;
    // Nothing with a destructor lives between here and a long jump back.
    if (setjmp(errors.m_jump) == 0) {
        jpeg_create_decompress(&info);
        info.progress = &progress;
        bDecoded = Read(&info, pb, cb, cxFit, cyFit, pFrame);
    }
    jpeg_destroy_decompress(&info);
    return bDecoded;
}

bool CJpegDecoder::Read(jpeg_decompress_struct* pInfo, const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit,
                        CDecodedFrame* pFrame)
{
    jpeg_mem_src(pInfo, pb, static_cast<unsigned long>(cb));
    if (jpeg_read_header(pInfo, TRUE) != JPEG_HEADER_OK || !WithinLimits(pInfo->image_width, pInfo->image_height))
        return false;
    // The library makes 32-bit pixels of every colour space but CMYK, which
    // comes as four inks and is turned into BGRX here.
    const bool bCmyk = pInfo->jpeg_color_space == JCS_CMYK || pInfo->jpeg_color_space == JCS_YCCK;
    pInfo->out_color_space = bCmyk ? JCS_CMYK : JCS_EXT_BGRX;
    const SIZE fit = FitSize(pInfo->image_width, pInfo->image_height, cxFit, cyFit);
    // The smallest scale that still covers the size shown: the library then
    // skips most of the work for the pixels it leaves out.
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
            return false;
    }
    const bool bInverted = pInfo->saw_Adobe_marker;
    jpeg_finish_decompress(pInfo);
    if (bCmyk)
        CmykToBgrx(rows.data(), static_cast<size_t>(cx) * cy, bInverted);
    if (bShownSize) {
        pFrame->m_cx = cx;
        pFrame->m_cy = cy;
    } else {
        ScaleInto(cx, cy, static_cast<UINT>(fit.cx), static_cast<UINT>(fit.cy), pFrame);
    }
    return true;
}

// Bilinear scaling of the picture in m_source into the picture shown.
void CJpegDecoder::ScaleInto(UINT cxSource, UINT cySource, UINT cx, UINT cy, CDecodedFrame* pFrame) const
{
    pFrame->m_cx = cx;
    pFrame->m_cy = cy;
    pFrame->m_bits.resize(static_cast<size_t>(cx) * cy * 4);
    ScaleRows(m_source.data(), cxSource, cySource, cx, cy, pFrame->m_bits.data());
}
