// Pictures at the sizes cameras send: the stand-in's decoder at the size
// shown, what it lets pass and what it refuses, and the simulated camera's pictures, whose
// unchanged rows are taken from an earlier picture of the same view.
#include "framepainter.h"
#include "jpegdecoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

// The frame number the camera drew as code blocks along the picture's bottom.
ULONG FrameNumberIn(const CDecodedFrame& frame)
{
    const UINT y = frame.m_cy - frame.m_cy / 32;
    ULONG nFrame = 0;
    for (int nBit = 0; nBit < SIMCAM_CODE_BITS; ++nBit) {
        const UINT x = (2 * nBit + 1) * frame.m_cx / (2 * SIMCAM_CODE_BITS);
        nFrame = nFrame << 1 | (frame.m_bits[(static_cast<size_t>(y) * frame.m_cx + x) * 4 + 1] > 128 ? 1 : 0);
    }
    return nFrame;
}

// Pixel (x, y) as 0xRRGGBB.
UINT ColourAt(const CDecodedFrame& frame, UINT x, UINT y)
{
    const BYTE* p = &frame.m_bits[(static_cast<size_t>(y) * frame.m_cx + x) * 4];
    return p[2] << 16 | p[1] << 8 | p[0];
}

bool Decode(CJpegDecoder& decoder, const std::string& strJpeg, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame)
{
    return decoder.Decode(reinterpret_cast<const BYTE*>(strJpeg.data()), strJpeg.size(), cxFit, cyFit, pFrame);
}

// A 64x64 JPEG whose every pixel is pixel (its bytes in space), set up
// further by setUp before it starts and by afterStart (markers) after.
std::string FlatJpeg(J_COLOR_SPACE space, const std::vector<unsigned char>& pixel,
                     const std::function<void(jpeg_compress_struct*)>& setUp,
                     const std::function<void(jpeg_compress_struct*)>& afterStart)
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* pbJpeg = nullptr;
    unsigned long cbJpeg = 0;
    jpeg_mem_dest(&info, &pbJpeg, &cbJpeg);
    info.image_width = info.image_height = 64;
    info.input_components = static_cast<int>(pixel.size());
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    setUp(&info);
    jpeg_start_compress(&info, TRUE);
    afterStart(&info);
    std::vector<unsigned char> row;
    for (int n = 0; n < 64; ++n)
        row.insert(row.end(), pixel.begin(), pixel.end());
    for (JSAMPROW p = row.data(); info.next_scanline < info.image_height;)
        jpeg_write_scanlines(&info, &p, 1);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string strJpeg(reinterpret_cast<const char*>(pbJpeg), cbJpeg);
    free(pbJpeg);
    return strJpeg;
}

// A grey 64x64 progressive JPEG: with bManyScans, one scan for each DC and
// for each AC coefficient of each component (192 scans, all valid), else the
// library's usual progression (about ten).
std::string ProgressiveJpeg(bool bManyScans)
{
    std::vector<jpeg_scan_info> scans;
    return FlatJpeg(
        JCS_RGB, { 0x80, 0x80, 0x80 },
        [&](jpeg_compress_struct* pInfo) {
            if (!bManyScans) {
                jpeg_simple_progression(pInfo);
                return;
            }
            for (int c = 0; c < 3; ++c)
                scans.push_back(jpeg_scan_info{ 1, { c }, 0, 0, 0, 0 });
            for (int c = 0; c < 3; ++c)
                for (int k = 1; k < 64; ++k)
                    scans.push_back(jpeg_scan_info{ 1, { c }, k, k, 0, 0 });
            pInfo->scan_info = scans.data();
            pInfo->num_scans = static_cast<int>(scans.size());
        },
        [](jpeg_compress_struct*) {});
}

// A 64x64 JPEG of mid grey: in three colours or four inks (with bInverted,
// stored as Adobe stores them, 255 for no ink), with pszMarker's text as
// an APP14 (it starts "Adobe") or APP2 marker.
std::string GreyJpeg(J_COLOR_SPACE space, bool bInverted, const char* pszMarker)
{
    // An Adobe marker decides the colours only where no JFIF marker does.
    const bool bAdobe = pszMarker && std::string(pszMarker).compare(0, 5, "Adobe") == 0;
    // Mid grey: 0x80 in each colour; in inks, none but half of the black.
    const unsigned char nNoInk = bInverted ? 255 : 0, nHalfBlack = bInverted ? 0x80 : 0x7F;
    const std::vector<unsigned char> pixel = space == JCS_CMYK
                                                 ? std::vector<unsigned char>{ nNoInk, nNoInk, nNoInk, nHalfBlack }
                                                 : std::vector<unsigned char>{ 0x80, 0x80, 0x80 };
    return FlatJpeg(
        space, pixel,
        [&](jpeg_compress_struct* pInfo) {
            pInfo->write_Adobe_marker = bInverted;
            pInfo->write_JFIF_header = !bAdobe && space != JCS_CMYK;
        },
        [&](jpeg_compress_struct* pInfo) {
            if (pszMarker == nullptr)
                return;
            const std::string strMarker(pszMarker, bAdobe ? 12 : 14);
            jpeg_write_marker(pInfo, bAdobe ? JPEG_APP0 + 14 : JPEG_APP0 + 2,
                              reinterpret_cast<const JOCTET*>(strMarker.data()),
                              static_cast<unsigned>(strMarker.size()));
        });
}

class PictureTest : public testing::Test
{
};

} // namespace

TEST_F(PictureTest, TheDecoderShowsThePictureWholeAtTheSizeShown)
{
    const ULONG nFrame = 0xA5C3;
    CFramePainter painter(1920, 1080, 1);
    const std::string strJpeg = painter.Paint(nFrame);
    ASSERT_GT(strJpeg.size(), 100000u);
    // Own size; smaller (a scale of its own, or one between two scales);
    // a square window (width decides); larger than the picture.
    static const struct { UINT m_cxFit, m_cyFit, m_cx, m_cy; } s_cases[] = {
        { 0, 0, 1920, 1080 }, { 960, 540, 960, 540 }, { 640, 480, 640, 360 }, { 200, 200, 200, 113 },
        { 2400, 2400, 2400, 1350 },
    };
    CJpegDecoder decoder;
    for (const auto& test : s_cases) {
        CDecodedFrame frame;
        ASSERT_TRUE(Decode(decoder, strJpeg, test.m_cxFit, test.m_cyFit, &frame)) << test.m_cxFit;
        EXPECT_EQ(test.m_cx, frame.m_cx);
        EXPECT_EQ(test.m_cy, frame.m_cy);
        ASSERT_EQ(static_cast<size_t>(frame.m_cx) * frame.m_cy * 4, frame.m_bits.size());
        // The mark's colour in the top-left quarter, the frame number at the bottom.
        const UINT colour = ColourAt(frame, frame.m_cx / 8, frame.m_cy / 8);
        EXPECT_NEAR(GetGValue(SIMCAM_MARK_COLOUR), (colour >> 8) & 0xFF, 40) << std::hex << colour;
        EXPECT_NEAR(GetRValue(SIMCAM_MARK_COLOUR), colour >> 16, 40) << std::hex << colour;
        EXPECT_EQ(nFrame, FrameNumberIn(frame)) << test.m_cxFit;
    }
    CDecodedFrame frame;
    EXPECT_FALSE(Decode(decoder, strJpeg.substr(0, strJpeg.size() / 2), 640, 480, &frame));
    EXPECT_FALSE(Decode(decoder, "\x89PNG\r\n\x1a\n" + std::string(100, '\0'), 0, 0, &frame));
    // A marker in the middle of the picture's data: the decoder refuses it
    // rather than showing the rest as grey.
    std::string strDamaged = strJpeg;
    strDamaged[strDamaged.size() / 2] = '\xFF';
    strDamaged[strDamaged.size() / 2 + 1] = '\xD9';
    EXPECT_FALSE(Decode(decoder, strDamaged, 640, 480, &frame));
}

// What cameras get a little wrong still leaves a whole picture, which is
// shown; a picture that lacks data is not.
TEST_F(PictureTest, WarningsThatLeaveAWholePictureAreLetPass)
{
    const std::string strGrey = GreyJpeg(JCS_RGB, false, nullptr);
    ASSERT_EQ("\xFF\xD9", strGrey.substr(strGrey.size() - 2));
    struct CCase
    {
        const char* m_pszName;
        std::string m_strJpeg;
    };
    std::string strBadJfif = strGrey;
    ASSERT_EQ("JFIF", strBadJfif.substr(6, 4));
    strBadJfif[11] = 3; // revision 3.01
    const CCase cases[] = {
        { "no end marker", strGrey.substr(0, strGrey.size() - 2) },
        { "an unknown JFIF revision", strBadJfif },
        { "an unknown Adobe transform", GreyJpeg(JCS_RGB, false, "Adobe\x00\x64\x00\x00\x00\x00\x07") },
        { "a broken colour profile", GreyJpeg(JCS_RGB, false, "ICC_PROFILE\x00\x05\x02") },
        { "four inks (CMYK)", GreyJpeg(JCS_CMYK, false, nullptr) },
        { "four inks, stored inverted (Adobe)", GreyJpeg(JCS_CMYK, true, nullptr) },
    };
    CJpegDecoder decoder;
    for (const CCase& test : cases) {
        CDecodedFrame frame;
        ASSERT_TRUE(Decode(decoder, test.m_strJpeg, 0, 0, &frame)) << test.m_pszName;
        ASSERT_EQ(64u, frame.m_cx) << test.m_pszName;
        EXPECT_NEAR(0x80, frame.m_bits[(32 * 64 + 32) * 4 + 1], 8) << test.m_pszName;
    }
    // Cut short inside its data, or by a byte: refused.
    CDecodedFrame frame;
    EXPECT_FALSE(Decode(decoder, strGrey.substr(0, strGrey.size() - 40), 0, 0, &frame));
    const std::string strCamera = CFramePainter(320, 180, 1).Paint(3);
    EXPECT_FALSE(Decode(decoder, strCamera.substr(0, strCamera.size() - 3), 0, 0, &frame));
    EXPECT_TRUE(Decode(decoder, strCamera.substr(0, strCamera.size() - 2), 0, 0, &frame));
}

TEST_F(PictureTest, CameraPicturesAreWholeJpegsEachWithItsNumber)
{
    // 180 rows: the last row of blocks is only partly filled, as at 1080.
    const UINT cx = 320, cy = 180;
    CFramePainter painter(cx, cy, 1);
    CJpegDecoder decoder; // refuses anything damaged
    for (ULONG nFrame = 0; nFrame < 40; ++nFrame) {
        CDecodedFrame frame;
        ASSERT_TRUE(Decode(decoder, painter.Paint(nFrame), 0, 0, &frame)) << nFrame;
        EXPECT_EQ(nFrame, FrameNumberIn(frame));
        if (nFrame < 30)
            continue;
        // A picture made from an earlier one's rows shows the same scene as
        // the same picture encoded whole.
        CFramePainter painterWhole(cx, cy, 1);
        CDecodedFrame frameWhole;
        ASSERT_TRUE(Decode(decoder, painterWhole.Paint(nFrame), 0, 0, &frameWhole));
        const size_t nMiddle = static_cast<size_t>(cy / 2) * cx * 4;
        EXPECT_TRUE(std::equal(frame.m_bits.begin() + nMiddle, frame.m_bits.begin() + nMiddle + cx * 4,
                               frameWhole.m_bits.begin() + nMiddle))
            << nFrame;
    }
}

// A picture of hundreds of scans would hold the decoder for seconds at a
// camera's sizes: it is refused, and an everyday progressive picture is not.
TEST_F(PictureTest, APictureOfTooManyScansIsRefused)
{
    CJpegDecoder decoder;
    CDecodedFrame frame;
    EXPECT_TRUE(Decode(decoder, ProgressiveJpeg(false), 0, 0, &frame));
    EXPECT_EQ(64u, frame.m_cx);
    EXPECT_FALSE(Decode(decoder, ProgressiveJpeg(true), 0, 0, &frame));
}
