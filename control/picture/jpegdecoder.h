// CJpegDecoder: turns one JPEG into 32-bit pixels at the size they are shown.
// libjpeg-turbo decodes, on Windows as under Wine, at the smallest of its
// DCT scales that still covers the size shown, straight into 32-bit pixels.
// One per thread that decodes.
#pragma once

#include <windows.h>

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

    CJpegDecoder() = default;
    CJpegDecoder(const CJpegDecoder&) = delete;
    CJpegDecoder& operator=(const CJpegDecoder&) = delete;

    // True when the bytes start as a JPEG does (FF D8), whatever the part
    // that brought them was said to be.
    static bool LooksLikeJpeg(const BYTE* pb, size_t cb);

    // Decodes pb and scales it to fit cxFit x cyFit with its aspect ratio
    // kept (0 x 0: its own size). False when it is not a whole picture.
    bool Decode(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame);

private:
    bool Read(struct jpeg_decompress_struct* pInfo, const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit,
              CDecodedFrame* pFrame);
    void ScaleInto(UINT cxSource, UINT cySource, UINT cx, UINT cy, CDecodedFrame* pFrame) const;

    std::vector<BYTE> m_source; // a picture decoded at another size than shown, kept for the next one
};

// The largest size of cx x cy that fits cxFit x cyFit with the same aspect.
SIZE FitSize(UINT cx, UINT cy, UINT cxFit, UINT cyFit);
