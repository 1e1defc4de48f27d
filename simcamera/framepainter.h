// CFramePainter: draws the simulated camera's moving picture and encodes it
// as JPEG with the platform's imaging component. One per thread.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <string>

// The picture's top-left quarter is this colour, so a viewer's test can find it.
const COLORREF SIMCAM_MARK_COLOUR = RGB(0, 200, 0);
// The frame number's 16 bits, highest first, as white (1) and black (0)
// blocks across the bottom sixteenth of the picture.
const int SIMCAM_CODE_BITS = 16;

class CFramePainter
{
public:
    CFramePainter(UINT cx, UINT cy, UINT nChannel);
    ~CFramePainter();
    CFramePainter(const CFramePainter&) = delete;
    CFramePainter& operator=(const CFramePainter&) = delete;

    // Frame nFrame as JPEG bytes; empty when it could not be made.
    std::string Paint(ULONG nFrame);

private:
    void Draw(ULONG nFrame);
    std::string Encode();

    UINT m_cx;
    UINT m_cy;
    UINT m_nChannel;
    HDC m_hdc;
    HBITMAP m_hbm;
    HGDIOBJ m_hbmOld;
    BYTE* m_pBits;
    HFONT m_hFont;
    IWICImagingFactory* m_pFactory;
};
