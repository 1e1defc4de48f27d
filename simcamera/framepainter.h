// CFramePainter: draws the simulated camera's moving picture and encodes it
// as JPEG with libjpeg-turbo. The picture is a textured scene (sky, a row of
// buildings, rough ground) that sways a little from side to side, as
// detailed as a real camera's: at 1920x1080 a picture is about 300 KB.
// Encoding it whole costs about 10 ms at that size, so each of the few views
// of the scene is encoded whole once; later pictures of the same view encode
// only the rows that change (frame number, time, code blocks) and take the
// other rows' data from the first. The pictures carry a restart marker after
// each row of blocks, as many cameras' do, so their rows are independent.
// One per thread.
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
    // A picture's JPEG data taken apart: everything up to its entropy-coded
    // data, then the data of each row of blocks (without its restart marker).
    struct CPieces
    {
        std::string m_strHead;
        std::vector<std::string> m_rows;
    };

    void PaintScene();
    UINT ViewOf(ULONG nFrame) const;
    void Draw(ULONG nFrame);
    bool Encode(const std::vector<BYTE*>& rows, CPieces* pPieces) const;
    static bool Split(const unsigned char* pb, size_t cb, CPieces* pPieces);

    UINT m_cx;
    UINT m_cy;
    UINT m_nChannel;
    UINT m_cbStride; // of the picture's rows
    UINT m_cxScene;  // the scene is wider than the picture: the view sways across it
    std::vector<BYTE> m_scene; // 24-bit BGR rows of m_cxScene pixels
    std::vector<bool> m_liveBlocks; // per row of blocks: whether it changes with each picture
    size_t m_nLiveBlocks;
    std::vector<CPieces> m_views; // per view, its first picture's pieces (empty until made)
    HDC m_hdc;
    HBITMAP m_hbm;
    HGDIOBJ m_hbmOld;
    BYTE* m_pBits;
    HFONT m_hFont;
};
