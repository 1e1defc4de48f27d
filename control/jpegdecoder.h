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
    // Pictures larger than this on either side are refused, not decoded.
    static const UINT MAX_SIDE = 8192;

    CJpegDecoder();
    ~CJpegDecoder();
    CJpegDecoder(const CJpegDecoder&) = delete;
    CJpegDecoder& operator=(const CJpegDecoder&) = delete;

    // Decodes pb and scales it to fit cxFit x cyFit with its aspect ratio
    // kept (0 x 0: its own size). False when it is not a picture.
    bool Decode(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame);

private:
    IWICImagingFactory* m_pFactory;
};

// The largest size of cx x cy that fits cxFit x cyFit with the same aspect.
SIZE FitSize(UINT cx, UINT cy, UINT cxFit, UINT cyFit);
