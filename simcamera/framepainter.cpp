// The simulated camera's picture: a textured scene painted once, a view of
// it with GDI's text on top in a 24-bit DIB section, then libjpeg-turbo's
// encoder, for the whole picture or only its rows that change.
#include "framepainter.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include <jpeglib.h>

namespace {

// The view sways across the scene and back, one view per picture.
const UINT VIEWS = 16;
// Pixel rows per row of blocks: the encoder's default sampling halves the
// colour both ways, so its blocks are 16 pixels high.
const UINT BLOCK_ROWS = 16;
// JPEG markers that end a row of blocks: RST0 to RST7, then EOI.
const unsigned char MARKER_RST0 = 0xD0;
const unsigned char MARKER_RST7 = 0xD7;
const unsigned char MARKER_EOI = 0xD9;
const unsigned char MARKER_SOS = 0xDA;

// A repeatable pseudo-random number for a point of the scene.
UINT Hash(UINT x, UINT y, UINT nSeed)
{
    UINT h = x * 374761393u + y * 668265263u + nSeed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

// Smooth noise from 0 to 255 whose features are about nCell pixels apart.
int SmoothNoise(UINT x, UINT y, UINT nCell, UINT nSeed)
{
    const UINT gx = x / nCell, gy = y / nCell;
    const int fx = static_cast<int>((x % nCell) * 256 / nCell), fy = static_cast<int>((y % nCell) * 256 / nCell);
    const int n00 = Hash(gx, gy, nSeed) & 255, n10 = Hash(gx + 1, gy, nSeed) & 255;
    const int n01 = Hash(gx, gy + 1, nSeed) & 255, n11 = Hash(gx + 1, gy + 1, nSeed) & 255;
    const int nTop = n00 * (256 - fx) + n10 * fx;
    const int nBottom = n01 * (256 - fx) + n11 * fx;
    return (nTop * (256 - fy) + nBottom * fy) >> 16;
}

BYTE Clamp(int n)
{
    return static_cast<BYTE>(n < 0 ? 0 : n > 255 ? 255 : n);
}

// The encoder's errors (only running out of memory, with our settings) end
// the picture by a long jump instead of ending the process.
struct CEncoderErrors
{
    jpeg_error_mgr m_mgr; // first, so the library's pointer is ours too
    jmp_buf m_jump;
};

void OnEncoderError(j_common_ptr pInfo)
{
    longjmp(reinterpret_cast<CEncoderErrors*>(pInfo->err)->m_jump, 1);
}

} // namespace

CFramePainter::CFramePainter(UINT cx, UINT cy, UINT nChannel)
    : m_cx(cx), m_cy(cy), m_nChannel(nChannel), m_cbStride((cx * 3 + 3) & ~3u),
      m_cxScene(cx + (VIEWS - 1) * std::max(1u, cx / 480)), m_nLiveBlocks(0), m_views(VIEWS),
      m_hdc(CreateCompatibleDC(nullptr)),
      m_hbm(nullptr), m_hbmOld(nullptr), m_pBits(nullptr), m_hFont(nullptr)
{
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = static_cast<LONG>(cx);
    bmi.bmiHeader.biHeight = -static_cast<LONG>(cy); // top-down, as the encoder takes rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pvBits = nullptr;
    m_hbm = CreateDIBSection(m_hdc, &bmi, DIB_RGB_COLORS, &pvBits, nullptr, 0);
    m_pBits = static_cast<BYTE*>(pvBits);
    if (m_hbm)
        m_hbmOld = SelectObject(m_hdc, m_hbm);
    // The first line of text fits the width of a 4:3 picture too.
    m_hFont = CreateFontW(-static_cast<int>(std::min(cy / 12, cx / 22)), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                          L"Tahoma");
    if (m_pBits == nullptr)
        return;
    PaintScene();
    // The rows that change: the first line of text (frame number and time,
    // with its shadow) and the code blocks, each widened to whole rows of blocks.
    HGDIOBJ hFontOld = SelectObject(m_hdc, m_hFont);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(m_hdc, &metrics);
    SelectObject(m_hdc, hFontOld);
    const UINT yText = cy / 20;
    const UINT yTextEnd = yText + static_cast<UINT>(metrics.tmHeight) + cy / 300 + 1;
    const UINT yCode = cy - std::max(1u, cy / 16);
    for (UINT y = 0; y < cy; y += BLOCK_ROWS) {
        const UINT yEnd = std::min(cy, y + BLOCK_ROWS);
        m_liveBlocks.push_back((y < yTextEnd && yEnd > yText) || yEnd > yCode);
    }
    m_nLiveBlocks = static_cast<size_t>(std::count(m_liveBlocks.begin(), m_liveBlocks.end(), true));
}

CFramePainter::~CFramePainter()
{
    if (m_hFont)
        DeleteObject(m_hFont);
    if (m_hbmOld)
        SelectObject(m_hdc, m_hbmOld);
    if (m_hbm)
        DeleteObject(m_hbm);
    if (m_hdc)
        DeleteDC(m_hdc);
}

std::string CFramePainter::Paint(ULONG nFrame)
{
    if (m_pBits == nullptr)
        return std::string();
    Draw(nFrame);
    CPieces& view = m_views[ViewOf(nFrame)];
    CPieces live;
    std::vector<BYTE*> rows;
    for (UINT y = 0; y < m_cy; ++y)
        if (view.m_rows.empty() || m_liveBlocks[y / BLOCK_ROWS])
            rows.push_back(m_pBits + static_cast<size_t>(y) * m_cbStride);
    if (view.m_rows.empty()) {
        // The view's first picture: encoded whole, and kept.
        if (!Encode(rows, &view) || view.m_rows.size() != m_liveBlocks.size()) {
            view = CPieces();
            return std::string();
        }
    } else if (!Encode(rows, &live) || live.m_rows.size() != m_nLiveBlocks) {
        return std::string();
    }
    // The view's rows, with this picture's rows where they change, each
    // followed by its restart marker (numbered 0 to 7 in turn), then the end.
    std::string strJpeg = view.m_strHead;
    size_t nLive = 0;
    for (size_t nRow = 0; nRow < m_liveBlocks.size(); ++nRow) {
        const bool bLive = !live.m_rows.empty() && m_liveBlocks[nRow];
        strJpeg += bLive ? live.m_rows[nLive++] : view.m_rows[nRow];
        strJpeg += '\xFF';
        strJpeg += static_cast<char>(nRow + 1 < m_liveBlocks.size() ? MARKER_RST0 + nRow % 8 : MARKER_EOI);
    }
    return strJpeg;
}

UINT CFramePainter::ViewOf(ULONG nFrame) const
{
    const UINT nStep = static_cast<UINT>(nFrame % (2 * (VIEWS - 1)));
    return nStep < VIEWS ? nStep : 2 * (VIEWS - 1) - nStep;
}

// The scene, once: sky with clouds, a row of buildings with lit and dark
// windows, and rough ground, in proportion to the picture's height so every
// size looks alike. Its fine grain is what makes the pictures as large as a
// real camera's.
void CFramePainter::PaintScene()
{
    const UINT cy = m_cy;
    const UINT nUnit = std::max(1u, cy / 54);
    const UINT yHorizon = cy * 11 / 20;
    m_scene.resize(static_cast<size_t>(m_cxScene) * 3 * cy);
    // The skyline: each column's roof and building.
    std::vector<UINT> roof(m_cxScene), building(m_cxScene);
    for (UINT x = 0, nBuilding = 0; x < m_cxScene; ++nBuilding) {
        const UINT cxBuilding = (6 + Hash(nBuilding, 0, 1) % 10) * nUnit;
        const UINT cyBuilding = (cy / 8) + Hash(nBuilding, 0, 2) % (cy / 4 + 1);
        for (UINT n = 0; n < cxBuilding && x < m_cxScene; ++n, ++x) {
            roof[x] = yHorizon > cyBuilding ? yHorizon - cyBuilding : 0;
            building[x] = nBuilding;
        }
    }
    BYTE* p = m_scene.data();
    for (UINT y = 0; y < cy; ++y) {
        for (UINT x = 0; x < m_cxScene; ++x, p += 3) {
            const int nGrain = static_cast<int>(Hash(x, y, 3) & 31) - 16;
            int r, g, b;
            if (y < roof[x]) {
                // Sky: lighter towards the horizon, with soft clouds.
                const int nCloud = std::max(0, SmoothNoise(x, y, 12 * nUnit, 4) - 120);
                r = 90 + static_cast<int>(y * 80 / cy) + nCloud;
                g = 130 + static_cast<int>(y * 70 / cy) + nCloud;
                b = 200 + static_cast<int>(y * 30 / cy) + nCloud / 2;
                r += nGrain / 8;
                g += nGrain / 8;
                b += nGrain / 8;
            } else if (y < yHorizon) {
                // A building: its own colour, windows two units apart, some lit.
                const UINT nBuilding = building[x];
                const int nShade = static_cast<int>(Hash(nBuilding, 0, 5) % 90);
                r = 70 + nShade;
                g = 65 + nShade * 3 / 4;
                b = 60 + nShade / 2;
                const UINT wx = (x / nUnit) % 2, wy = ((y - roof[x]) / nUnit) % 3;
                if (wx == 1 && wy == 1) {
                    const bool bLit = Hash(x / nUnit, y / nUnit, 6) % 3 == 0;
                    r = bLit ? 235 : 35;
                    g = bLit ? 210 : 40;
                    b = bLit ? 140 : 55;
                }
                r += nGrain / 2;
                g += nGrain / 2;
                b += nGrain / 2;
            } else {
                // Ground: grass and gravel, coarse patches and a fine grain.
                const int nPatch = SmoothNoise(x, y, 3 * nUnit, 7) - 128;
                const int nFine = SmoothNoise(x, y, 2, 8) - 128;
                r = 95 + nPatch / 3 + nFine / 3;
                g = 105 + nPatch / 4 + nFine / 3;
                b = 60 + nPatch / 5 + nFine / 4;
                r += nGrain;
                g += nGrain;
                b += nGrain;
            }
            p[0] = Clamp(b);
            p[1] = Clamp(g);
            p[2] = Clamp(r);
        }
    }
}

void CFramePainter::Draw(ULONG nFrame)
{
    const int cx = static_cast<int>(m_cx);
    const int cy = static_cast<int>(m_cy);
    const UINT nPan = ViewOf(nFrame) * ((m_cxScene - m_cx) / (VIEWS - 1));
    for (UINT y = 0; y < m_cy; ++y)
        memcpy(m_pBits + static_cast<size_t>(y) * m_cbStride,
               m_scene.data() + (static_cast<size_t>(y) * m_cxScene + nPan) * 3, static_cast<size_t>(m_cx) * 3);

    RECT rcMark = { 0, 0, cx / 4, cy / 4 };
    HBRUSH hbr = CreateSolidBrush(SIMCAM_MARK_COLOUR);
    FillRect(m_hdc, &rcMark, hbr);
    DeleteObject(hbr);

    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t szText[128];
    swprintf(szText, 128, L"Frame %lu  %02u:%02u:%02u.%03u\nChannel %u", nFrame, st.wHour, st.wMinute,
             st.wSecond, st.wMilliseconds, m_nChannel);
    HGDIOBJ hFontOld = SelectObject(m_hdc, m_hFont);
    SetBkMode(m_hdc, TRANSPARENT);
    // A dark shadow keeps the text readable on any part of the scene.
    RECT rcText = { cx / 4 + cx / 20, cy / 20, cx, cy * 13 / 16 };
    const int nShadow = std::max(1, cy / 300);
    RECT rcShadow = rcText;
    OffsetRect(&rcShadow, nShadow, nShadow);
    SetTextColor(m_hdc, RGB(0, 0, 0));
    DrawTextW(m_hdc, szText, -1, &rcShadow, DT_LEFT | DT_TOP | DT_NOPREFIX);
    SetTextColor(m_hdc, RGB(250, 250, 250));
    DrawTextW(m_hdc, szText, -1, &rcText, DT_LEFT | DT_TOP | DT_NOPREFIX);
    SelectObject(m_hdc, hFontOld);

    const int cyCode = cy / 16 > 1 ? cy / 16 : 1;
    for (int nBit = 0; nBit < SIMCAM_CODE_BITS; ++nBit) {
        RECT rcBit = { nBit * cx / SIMCAM_CODE_BITS, cy - cyCode, (nBit + 1) * cx / SIMCAM_CODE_BITS, cy };
        const bool bOne = (nFrame >> (SIMCAM_CODE_BITS - 1 - nBit)) & 1;
        FillRect(m_hdc, &rcBit, static_cast<HBRUSH>(GetStockObject(bOne ? WHITE_BRUSH : BLACK_BRUSH)));
    }
    GdiFlush();
}

// Encodes the given pixel rows as one picture, a restart marker after each
// row of blocks, and takes it apart.
bool CFramePainter::Encode(const std::vector<BYTE*>& rows, CPieces* pPieces) const
{
    jpeg_compress_struct info;
    CEncoderErrors errors;
    info.err = jpeg_std_error(&errors.m_mgr);
    errors.m_mgr.error_exit = OnEncoderError;
    unsigned char* pbJpeg = nullptr;
    unsigned long cbJpeg = 0;
    bool bEncoded = false;
    // Nothing with a destructor is made between here and a long jump back.
    if (setjmp(errors.m_jump) == 0) {
        jpeg_create_compress(&info);
        jpeg_mem_dest(&info, &pbJpeg, &cbJpeg);
        info.image_width = m_cx;
        info.image_height = static_cast<JDIMENSION>(rows.size());
        info.input_components = 3;
        info.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, JPEG_QUALITY, TRUE);
        info.restart_in_rows = 1;
        jpeg_start_compress(&info, TRUE);
        jpeg_write_scanlines(&info, const_cast<JSAMPARRAY>(rows.data()), static_cast<JDIMENSION>(rows.size()));
        jpeg_finish_compress(&info);
        bEncoded = true;
    }
    jpeg_destroy_compress(&info);
    const bool bSplit = bEncoded && Split(pbJpeg, cbJpeg, pPieces);
    free(pbJpeg);
    return bSplit;
}

bool CFramePainter::Split(const unsigned char* pb, size_t cb, CPieces* pPieces)
{
    // The markers up to and including the start of scan, each with its length.
    size_t nPos = 2;
    for (;;) {
        if (nPos + 4 > cb || pb[nPos] != 0xFF)
            return false;
        const unsigned char chMarker = pb[nPos + 1];
        nPos += 2 + (static_cast<size_t>(pb[nPos + 2]) << 8 | pb[nPos + 3]);
        if (chMarker == MARKER_SOS)
            break;
    }
    if (nPos > cb)
        return false;
    pPieces->m_strHead.assign(reinterpret_cast<const char*>(pb), nPos);
    pPieces->m_rows.clear();
    // In the entropy-coded data a 0xFF byte is followed by 0 or by a marker.
    for (size_t nStart = nPos; nPos + 1 < cb; ++nPos) {
        if (pb[nPos] != 0xFF || pb[nPos + 1] == 0)
            continue;
        const unsigned char chMarker = pb[nPos + 1];
        if ((chMarker < MARKER_RST0 || chMarker > MARKER_RST7) && chMarker != MARKER_EOI)
            return false;
        pPieces->m_rows.emplace_back(reinterpret_cast<const char*>(pb) + nStart, nPos - nStart);
        if (chMarker == MARKER_EOI)
            return true;
        nStart = nPos + 2;
        ++nPos;
    }
    return false;
}
