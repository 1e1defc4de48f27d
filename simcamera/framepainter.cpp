// The simulated camera's picture: GDI into a 24-bit DIB section, then WIC's JPEG encoder.
#include "framepainter.h"

#include <cwchar>

CFramePainter::CFramePainter(UINT cx, UINT cy, UINT nChannel)
    : m_cx(cx), m_cy(cy), m_nChannel(nChannel), m_hdc(CreateCompatibleDC(nullptr)), m_hbm(nullptr),
      m_hbmOld(nullptr), m_pBits(nullptr), m_hFont(nullptr), m_pFactory(nullptr)
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
    m_hFont = CreateFontW(-static_cast<int>(cy / 10), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(&m_pFactory));
}

CFramePainter::~CFramePainter()
{
    if (m_pFactory)
        m_pFactory->Release();
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
    if (m_pBits == nullptr || m_pFactory == nullptr)
        return std::string();
    Draw(nFrame);
    return Encode();
}

void CFramePainter::Draw(ULONG nFrame)
{
    const int cx = static_cast<int>(m_cx);
    const int cy = static_cast<int>(m_cy);
    RECT rc = { 0, 0, cx, cy };
    HBRUSH hbr = CreateSolidBrush(RGB(40, 44, 60));
    FillRect(m_hdc, &rc, hbr);
    DeleteObject(hbr);

    RECT rcMark = { 0, 0, cx / 4, cy / 4 };
    hbr = CreateSolidBrush(SIMCAM_MARK_COLOUR);
    FillRect(m_hdc, &rcMark, hbr);
    DeleteObject(hbr);

    // A bar sweeping across, so the picture visibly moves.
    const int cxBar = cx / 12 > 2 ? cx / 12 : 2;
    const int nTravel = cx - cxBar > 1 ? cx - cxBar : 1;
    int nPos = static_cast<int>((nFrame * 8) % (2 * nTravel));
    if (nPos > nTravel)
        nPos = 2 * nTravel - nPos;
    RECT rcBar = { nPos, cy / 4, nPos + cxBar, cy * 13 / 16 };
    hbr = CreateSolidBrush(RGB(220, 120, 30));
    FillRect(m_hdc, &rcBar, hbr);
    DeleteObject(hbr);

    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t szText[128];
    swprintf(szText, 128, L"Frame %lu\n%02u:%02u:%02u.%03u\nChannel %u", nFrame, st.wHour, st.wMinute,
             st.wSecond, st.wMilliseconds, m_nChannel);
    HGDIOBJ hFontOld = SelectObject(m_hdc, m_hFont);
    SetBkMode(m_hdc, TRANSPARENT);
    SetTextColor(m_hdc, RGB(250, 250, 250));
    RECT rcText = { cx / 4 + cx / 20, cy / 20, cx, cy * 13 / 16 };
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

std::string CFramePainter::Encode()
{
    std::string strJpeg;
    IStream* pStream = nullptr;
    IWICBitmapEncoder* pEncoder = nullptr;
    IWICBitmapFrameEncode* pFrame = nullptr;
    IPropertyBag2* pProps = nullptr;
    const UINT cbStride = (m_cx * 3 + 3) & ~3u;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &pStream)) &&
        SUCCEEDED(m_pFactory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &pEncoder)) &&
        SUCCEEDED(pEncoder->Initialize(pStream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(pEncoder->CreateNewFrame(&pFrame, &pProps)) && SUCCEEDED(pFrame->Initialize(pProps)) &&
        SUCCEEDED(pFrame->SetSize(m_cx, m_cy)) && SUCCEEDED(pFrame->SetPixelFormat(&format)) &&
        format == GUID_WICPixelFormat24bppBGR &&
        SUCCEEDED(pFrame->WritePixels(m_cy, cbStride, cbStride * m_cy, m_pBits)) &&
        SUCCEEDED(pFrame->Commit()) && SUCCEEDED(pEncoder->Commit())) {
        STATSTG stat = {};
        LARGE_INTEGER zero = {};
        if (SUCCEEDED(pStream->Stat(&stat, STATFLAG_NONAME)) &&
            SUCCEEDED(pStream->Seek(zero, STREAM_SEEK_SET, nullptr))) {
            strJpeg.resize(static_cast<size_t>(stat.cbSize.QuadPart));
            ULONG cbRead = 0;
            pStream->Read(&strJpeg[0], static_cast<ULONG>(strJpeg.size()), &cbRead);
            strJpeg.resize(cbRead);
        }
    }
    if (pProps)
        pProps->Release();
    if (pFrame)
        pFrame->Release();
    if (pEncoder)
        pEncoder->Release();
    if (pStream)
        pStream->Release();
    return strJpeg;
}
