// CJpegDecoder: turns one JPEG into 32-bit pixels at the size they are shown,
// with the platform's imaging component. One per thread that decodes.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <vector>

// A decoded picture: top-down rows of 32-bit BGRX pixels, no padding.
struct CDecodedFrame
{
    UINT m_cx = 0;
    UINT m_cy = 0;
    std::vector<BYTE> m_bits;
};

class CJpegDecoder
{
public:
    // Pictures larger than this (a side, or in all) are refused, not decoded.
    static const UINT MAX_SIDE = 8192;
    static const ULONGLONG MAX_PIXELS = 16 * 1024 * 1024;

    CJpegDecoder();
    ~CJpegDecoder();
    CJpegDecoder(const CJpegDecoder&) = delete;
    CJpegDecoder& operator=(const CJpegDecoder&) = delete;

    // Decodes pb and scales it to fit cxFit x cyFit with its aspect ratio
    // kept (0 x 0: its own size). False when it is not a picture.
    bool Decode(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame);

private:
    void ScaleInto(UINT cxSource, UINT cySource, UINT cbStride, UINT cx, UINT cy, CDecodedFrame* pFrame);

    IWICImagingFactory* m_pFactory;
    std::vector<BYTE> m_source; // the decoded picture, kept for the next one
};

// The largest size of cx x cy that fits cxFit x cyFit with the same aspect.
SIZE FitSize(UINT cx, UINT cy, UINT cxFit, UINT cyFit);
