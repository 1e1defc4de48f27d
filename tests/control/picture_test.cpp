// Pictures at the sizes cameras send: the stand-in's decoder at the size
// shown, with either decoder, and the simulated camera's pictures, whose
// unchanged rows are taken from an earlier picture of the same view.
#include "framepainter.h"
#include "jpegdecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
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

class PictureTest : public testing::Test
{
protected:
    void SetUp() override { m_hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override
    {
        if (SUCCEEDED(m_hrCom))
            CoUninitialize();
    }

    HRESULT m_hrCom = E_FAIL;
};

} // namespace

TEST_F(PictureTest, EitherDecoderShowsThePictureWholeAtTheSizeShown)
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
    for (CJpegDecoder::Engine engine :
         { CJpegDecoder::ENGINE_LIBRARY, CJpegDecoder::ENGINE_PLATFORM, CJpegDecoder::ENGINE_CHOOSE }) {
        CJpegDecoder decoder(engine);
        for (const auto& test : s_cases) {
            CDecodedFrame frame;
            ASSERT_TRUE(Decode(decoder, strJpeg, test.m_cxFit, test.m_cyFit, &frame)) << engine << " " << test.m_cxFit;
            EXPECT_EQ(test.m_cx, frame.m_cx) << engine;
            EXPECT_EQ(test.m_cy, frame.m_cy) << engine;
            ASSERT_EQ(static_cast<size_t>(frame.m_cx) * frame.m_cy * 4, frame.m_bits.size());
            // The mark's colour in the top-left quarter, the frame number at the bottom.
            const UINT colour = ColourAt(frame, frame.m_cx / 8, frame.m_cy / 8);
            EXPECT_NEAR(GetGValue(SIMCAM_MARK_COLOUR), (colour >> 8) & 0xFF, 40) << std::hex << colour;
            EXPECT_NEAR(GetRValue(SIMCAM_MARK_COLOUR), colour >> 16, 40) << std::hex << colour;
            EXPECT_EQ(nFrame, FrameNumberIn(frame)) << engine << " " << test.m_cxFit;
        }
        CDecodedFrame frame;
        EXPECT_FALSE(Decode(decoder, strJpeg.substr(0, strJpeg.size() / 2), 640, 480, &frame)) << engine;
        EXPECT_FALSE(Decode(decoder, "\x89PNG\r\n\x1a\n" + std::string(100, '\0'), 0, 0, &frame)) << engine;
        if (engine == CJpegDecoder::ENGINE_PLATFORM)
            continue;
        // A marker in the middle of the picture's data: the library refuses
        // it rather than showing the rest as grey.
        std::string strDamaged = strJpeg;
        strDamaged[strDamaged.size() / 2] = '\xFF';
        strDamaged[strDamaged.size() / 2 + 1] = '\xD9';
        EXPECT_FALSE(Decode(decoder, strDamaged, 640, 480, &frame)) << engine;
    }
}

TEST_F(PictureTest, CameraPicturesAreWholeJpegsEachWithItsNumber)
{
    // 180 rows: the last row of blocks is only partly filled, as at 1080.
    const UINT cx = 320, cy = 180;
    CFramePainter painter(cx, cy, 1);
    CJpegDecoder decoder(CJpegDecoder::ENGINE_LIBRARY); // refuses anything damaged
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
