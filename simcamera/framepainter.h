// CFramePainter: draws the simulated camera's moving picture and encodes it
// as JPEG with libjpeg-turbo. The picture is a textured scene (sky, a row of
// buildings, rough ground) that pans slowly, as detailed as a real camera's:
// at 1920x1080 a picture is about 300 KB. One per thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The picture's top-left quarter is this colour, so a viewer's test can find it.
const COLORREF SIMCAM_MARK_COLOUR = RGB(0, 200, 0);
// The frame number's 16 bits, highest first, as white (1) and black (0)
// blocks across the bottom sixteenth of the picture.
const int SIMCAM_CODE_BITS = 16;

class CFramePainter
{
public:
    // JPEG quality (libjpeg's scale, 1-100): what cameras and the platform's encoder use by default.
    static const int JPEG_QUALITY = 75;

    CFramePainter(UINT cx, UINT cy, UINT nChannel);
    ~CFramePainter();
    CFramePainter(const CFramePainter&) = delete;
    CFramePainter& operator=(const CFramePainter&) = delete;

    // Frame nFrame as JPEG bytes; empty when it could not be made.
    std::string Paint(ULONG nFrame);

private:
    void PaintScene();
    void Draw(ULONG nFrame);
    std::string Encode();

    UINT m_cx;
    UINT m_cy;
    UINT m_nChannel;
    UINT m_cbStride; // of the picture's rows
    UINT m_cxScene;  // the scene is wider than the picture: it pans
    std::vector<BYTE> m_scene; // 24-bit BGR rows of m_cxScene pixels
    HDC m_hdc;
    HBITMAP m_hbm;
    HGDIOBJ m_hbmOld;
    BYTE* m_pBits;
    HFONT m_hFont;
};
