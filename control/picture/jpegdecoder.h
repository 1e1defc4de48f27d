// CJpegDecoder: turns one JPEG into 32-bit pixels at the size they are shown.
// Where the platform's imaging component (WIC) can decode at a smaller size
// itself, it decodes; elsewhere libjpeg-turbo does, at the smallest of its
// DCT scales that still covers the size shown, straight into 32-bit pixels.
// One per thread that decodes.
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

    enum Engine
    {
        ENGINE_CHOOSE,   // the platform's if it decodes at a smaller size itself, else the library
        ENGINE_PLATFORM, // WIC
        ENGINE_LIBRARY,  // libjpeg-turbo (and WIC for CMYK pictures, which it can't turn into BGRX)
    };

    explicit CJpegDecoder(Engine engine = ENGINE_CHOOSE);
    ~CJpegDecoder();
    CJpegDecoder(const CJpegDecoder&) = delete;
    CJpegDecoder& operator=(const CJpegDecoder&) = delete;

    // Decodes pb and scales it to fit cxFit x cyFit with its aspect ratio
    // kept (0 x 0: its own size). False when it is not a picture.
    bool Decode(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame);

    // ENGINE_CHOOSE until a picture has shown which one decodes.
    Engine EngineInUse() const { return m_engine; }

private:
    enum Result { DECODED, REFUSED, NOT_MINE };

    Result DecodeWithLibrary(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame);
    Result ReadWithLibrary(struct jpeg_decompress_struct* pInfo, const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit,
                           CDecodedFrame* pFrame);
    Result DecodeWithPlatform(const BYTE* pb, size_t cb, UINT cxFit, UINT cyFit, bool bOnlyScaled,
                              CDecodedFrame* pFrame);
    void ScaleInto(UINT cxSource, UINT cySource, UINT cbStride, UINT cbPixel, UINT cx, UINT cy,
                   CDecodedFrame* pFrame) const;

    Engine m_engine;
    IWICImagingFactory* m_pFactory;
    std::vector<BYTE> m_source; // a picture decoded at another size than shown, kept for the next one
};

// The largest size of cx x cy that fits cxFit x cyFit with the same aspect.
SIZE FitSize(UINT cx, UINT cy, UINT cxFit, UINT cyFit);
