// The stand-in's handling of what a camera sends, without a network: the
// multipart parser (whole, in pieces, and fed thousands of random, truncated
// and damaged inputs), the JPEG decoder on bad input and the plug-in file.
#include "cameraurl.h"
#include "framepainter.h"
#include "jpegdecoder.h"
#include "multipartparser.h"
#include "pluginfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes BytesOf(const std::string& str)
{
    return Bytes(str.begin(), str.end());
}

// A stream of parts with the given boundary, each with or without its length.
std::string StreamOf(const std::vector<std::string>& bodies, const std::string& strDelimiter, bool bWithLength)
{
    std::string str = "\r\n";
    for (const std::string& strBody : bodies) {
        str += strDelimiter + "\r\nContent-Type: image/jpeg\r\n";
        if (bWithLength)
            str += "Content-Length: " + std::to_string(strBody.size()) + "\r\n";
        str += "\r\n" + strBody + "\r\n";
    }
    return str + strDelimiter + "--\r\n";
}

// Feeds str in pieces of the given sizes (cycled) and returns the parts.
std::vector<Bytes> Parse(CMultipartParser& parser, const std::string& str, const std::vector<size_t>& pieces)
{
    std::vector<Bytes> parts;
    const CMultipartParser::PartHandler onPart = [&](Bytes& body) { parts.push_back(body); };
    size_t nPos = 0;
    for (size_t n = 0; nPos < str.size(); ++n) {
        const size_t cb = std::min(pieces[n % pieces.size()], str.size() - nPos);
        parser.Feed(reinterpret_cast<const unsigned char*>(str.data()) + nPos, cb, onPart);
        nPos += cb;
    }
    return parts;
}

// Bodies that tempt a careless parser: near-boundaries, line ends, dashes.
const std::vector<std::string> s_bodies = {
    std::string("\xFF\xD8 first\r\n--notit\r\n--simcam\r\n\xFF\xD9", 27),
    "second\n-\n--\n",
    "",
    std::string(70000, 'x') + "\r\n-- simcamframe",
    "lines that only start with the boundary\r\n--simcamframe-2\r\n--simcamframe x\r\n--simcamframe--more",
};

class ParserTest : public ::testing::TestWithParam<bool>
{
};

} // namespace

TEST_P(ParserTest, EveryPartArrivesWholeHoweverTheBytesAreSplit)
{
    const std::string str = StreamOf(s_bodies, "--simcamframe", GetParam());
    const std::vector<std::vector<size_t>> splits = { { str.size() }, { 1 }, { 2, 3, 5, 7, 4096 }, { 65536 } };
    for (const std::vector<size_t>& pieces : splits) {
        CMultipartParser parser("simcamframe");
        const std::vector<Bytes> parts = Parse(parser, str, pieces);
        ASSERT_EQ(s_bodies.size(), parts.size()) << pieces[0];
        for (size_t n = 0; n < parts.size(); ++n)
            EXPECT_EQ(BytesOf(s_bodies[n]), parts[n]) << "part " << n << ", pieces from " << pieces[0];
        EXPECT_EQ(0u, parser.PartsMalformed());
    }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutLength, ParserTest, ::testing::Bool());

TEST(MultipartParser, BoundaryComesFromTheContentType)
{
    std::string strBoundary;
    EXPECT_TRUE(CMultipartParser::BoundaryOf("multipart/x-mixed-replace; boundary=myframe", &strBoundary));
    EXPECT_EQ("myframe", strBoundary);
    EXPECT_TRUE(CMultipartParser::BoundaryOf("Multipart/X-Mixed-Replace;Boundary=\"my frame\"; x=1", &strBoundary));
    EXPECT_EQ("my frame", strBoundary);
    EXPECT_TRUE(CMultipartParser::BoundaryOf("multipart/x-mixed-replace; boundary=--ipcam", &strBoundary));
    EXPECT_EQ("--ipcam", strBoundary);
    // Parameters are parsed as such: a name only ending in "boundary", or the
    // word inside another parameter's quoted value, is not the boundary.
    EXPECT_TRUE(CMultipartParser::BoundaryOf(
        "multipart/x-mixed-replace; xboundary=no; note=\"a;boundary=no\\\"\"; boundary=yes", &strBoundary));
    EXPECT_EQ("yes", strBoundary);
    EXPECT_FALSE(CMultipartParser::BoundaryOf("multipart/x-mixed-replace; myboundary=no", &strBoundary));
    EXPECT_FALSE(CMultipartParser::BoundaryOf("text/html", &strBoundary));
    EXPECT_FALSE(CMultipartParser::BoundaryOf("multipart/x-mixed-replace", &strBoundary));
    EXPECT_FALSE(CMultipartParser::BoundaryOf("multipart/x-mixed-replace; boundary=--", &strBoundary));
    EXPECT_FALSE(CMultipartParser::BoundaryOf("multipart/x-mixed-replace; boundary=\"open", &strBoundary));
    EXPECT_FALSE(CMultipartParser::BoundaryOf("multipart/x-mixed-replace; boundary=" + std::string(71, 'b'),
                                              &strBoundary));
}

TEST(MultipartParser, DashesRepeatedInTheBoundaryAreTolerated)
{
    // Declared "--ipcam", delimited by "--ipcam" (or by the proper "----ipcam").
    for (const char* pszDelimiter : { "--ipcam", "----ipcam" }) {
        CMultipartParser parser("--ipcam");
        const std::vector<Bytes> parts = Parse(parser, StreamOf({ "one", "two" }, pszDelimiter, false), { 3 });
        ASSERT_EQ(2u, parts.size()) << pszDelimiter;
        EXPECT_EQ(BytesOf("two"), parts[1]);
    }
}

// What cameras send that a strict reading would lose: each case gives every
// picture, whole, however the bytes are split.
TEST(MultipartParser, TakesWhatCamerasSend)
{
    const std::string strA("\xFF\xD8 picture A \xFF\xD9", 14);
    const std::string strB("\xFF\xD8 picture B, longer \xFF\xD9", 22);
    struct CCase
    {
        const char* m_pszName;
        std::string m_strBoundary;
        std::string m_strStream;
    };
    const std::string strBoundary70(70, 'z');
    const std::vector<CCase> cases = {
        { "a delimiter inside a header block starts afresh", "b",
          "--b\r\nContent-Length: 3\r\n--b\r\nContent-Type: image/jpeg\r\n\r\n" + strA + "\r\n--b\r\n\r\n" + strB +
              "\r\n--b--\r\n" },
        { "no line break before the delimiter and no length", "b",
          "--b\r\nContent-Type: image/jpeg\r\n\r\n" + strA + "--b\r\nContent-Type: image/jpeg\r\n\r\n" + strB + "--b\r\n" },
        { "blanks after the delimiter", "frame",
          "--frame" + std::string(120, ' ') + "\r\n\r\n" + strA + "\r\n--frame" + std::string(120, ' ') + "\r\n\r\n" + strB +
              "\r\n--frame" + std::string(120, ' ') + "\r\n" },
        { "a length a few bytes too long", "frame",
          "--frame\r\nContent-Length: " + std::to_string(strA.size() + 5) + "\r\n\r\n" + strA + "\r\n--frame\r\n" +
              "Content-Length: " + std::to_string(strB.size() + 5) + "\r\n\r\n" + strB + "\r\n--frame\r\n" +
              "Content-Length: " + std::to_string(strA.size() + 5) + "\r\n\r\n" + strA + "\r\n--frame\r\n" },
        { "parts typed as something else", "b",
          "--b\r\nContent-Type: image/x-jpeg\r\n\r\n" + strA + "\r\n--b\r\nContent-Type: application/octet-stream\r\n" +
              "Content-Length: " + std::to_string(strB.size()) + "\r\n\r\n" + strB + "\r\n--b--\r\n" },
        { "line feeds only", "b", "--b\nContent-Type: image/jpeg\n\n" + strA + "\n--b\n\n" + strB + "\n--b--\n" },
        { "a 70-character boundary written with its dashes", "--" + strBoundary70,
          "--" + strBoundary70 + "\r\n\r\n" + strA + "\r\n--" + strBoundary70 + "\r\n\r\n" + strB + "\r\n--" +
              strBoundary70 + "--\r\n" },
    };
    for (const CCase& test : cases) {
        SCOPED_TRACE(test.m_pszName);
        std::string strBoundary;
        ASSERT_TRUE(CMultipartParser::BoundaryOf("multipart/x-mixed-replace; boundary=" + test.m_strBoundary,
                                                 &strBoundary));
        for (const std::vector<size_t>& pieces : std::vector<std::vector<size_t>>{ { 4096 }, { 1 }, { 3, 50, 7 } }) [&] {
            CMultipartParser parser(strBoundary);
            const std::vector<Bytes> parts = Parse(parser, test.m_strStream, pieces);
            ASSERT_LE(2u, parts.size()) << "pieces of " << pieces[0];
            // A length too long leaves the start of the delimiter on a
            // picture, after its end, where it does no harm.
            for (size_t n = 0; n < parts.size(); ++n) {
                const std::string& strExpected = n % 2 ? strB : strA;
                ASSERT_LE(strExpected.size(), parts[n].size()) << "part " << n << ", pieces of " << pieces[0];
                EXPECT_EQ(BytesOf(strExpected), Bytes(parts[n].begin(), parts[n].begin() + strExpected.size()))
                    << "part " << n << ", pieces of " << pieces[0];
                EXPECT_GE(strExpected.size() + 5, parts[n].size()) << "part " << n;
            }
            EXPECT_EQ(test.m_strStream.find("Content-Length: " + std::to_string(strA.size() + 5)) != std::string::npos
                          ? 3u
                          : 2u,
                      parts.size()) << "pieces of " << pieces[0];
        }();
    }
}

TEST(MultipartParser, OversizedPartsAreSkippedAsTheyPassNotBuffered)
{
    const std::string strBig(CMultipartParser::MAX_PART + 1, 'o');
    for (bool bWithLength : { true, false }) {
        CMultipartParser parser("b");
        const std::string str = StreamOf({ "before", strBig, "after" }, "--b", bWithLength);
        std::vector<Bytes> parts;
        size_t nMostHeld = 0;
        const size_t cbChunk = 65536;
        for (size_t nPos = 0; nPos < str.size(); nPos += cbChunk) {
            parser.Feed(reinterpret_cast<const unsigned char*>(str.data()) + nPos, std::min(cbChunk, str.size() - nPos),
                        [&](Bytes& body) { parts.push_back(body); });
            nMostHeld = std::max(nMostHeld, parser.BufferedBytes());
        }
        ASSERT_EQ(2u, parts.size()) << bWithLength;
        EXPECT_EQ(BytesOf("after"), parts[1]);
        EXPECT_EQ(1u, parser.PartsSkipped());
        if (bWithLength)
            EXPECT_LT(nMostHeld, 1024u); // a stated size is skipped without holding any of it
        else
            EXPECT_LE(nMostHeld, CMultipartParser::MAX_PART + cbChunk);
    }
    // A stated length beyond the bound is not believed: the part ends at the
    // next delimiter, and the stream goes on.
    CMultipartParser parser("b");
    const std::string str = "--b\r\nContent-Length: 999999999999\r\n\r\nshort\r\n--b\r\n\r\nnext\r\n--b--\r\n";
    const std::vector<Bytes> parts = Parse(parser, str, { 7 });
    ASSERT_EQ(1u, parts.size());
    EXPECT_EQ(BytesOf("next"), parts[0]);
    EXPECT_EQ(1u, parser.PartsSkipped());
}

TEST(MultipartParser, PartsWithMalformedHeadersAreDroppedWhateverTheTypeSays)
{
    std::string str = "--b\r\nContent-Type: text/plain\r\n\r\nnot a picture\r\n";
    str += "--b\r\nX-Long: " + std::string(CMultipartParser::MAX_LINE, 'h') + "\r\n\r\nlost\r\n";
    str += "--b\r\n";
    for (size_t n = 0; n <= CMultipartParser::MAX_HEADERS; ++n)
        str += "X-Header: " + std::to_string(n) + "\r\n";
    str += "\r\nlost too\r\n--b\r\nContent-Length: 12345678901234567890\r\n\r\nno length\r\n";
    str += "--b\r\nContent-Type: image/jpeg\r\nContent-Length: 4\r\n\r\nkept\r\n--b--\r\n";
    CMultipartParser parser("b");
    const std::vector<Bytes> parts = Parse(parser, str, { 100 });
    ASSERT_EQ(3u, parts.size());
    EXPECT_EQ(BytesOf("not a picture"), parts[0]); // the decoder knows a picture by its bytes
    EXPECT_EQ(BytesOf("no length"), parts[1]);     // a length that is no number is ignored
    EXPECT_EQ(BytesOf("kept"), parts[2]);
    EXPECT_EQ(0u, parser.PartsSkipped());
    EXPECT_EQ(2u, parser.PartsMalformed());
}

TEST(MultipartParser, RandomTruncatedAndDamagedInputsNeverCrashOrGrow)
{
    std::string strJpeg;
    {
        CFramePainter painter(160, 120, 1);
        strJpeg = painter.Paint(7);
    }
    ASSERT_GT(strJpeg.size(), 100u);
    const std::string strValid = StreamOf({ strJpeg, strJpeg, "tail" }, "--simcamframe", true) +
                                 StreamOf({ strJpeg, "x" }, "--simcamframe", false);
    static const char* const s_fragments[] = { "--simcamframe\r\n", "\r\n", "Content-Length: ", "999999999\r\n",
                                               "Content-Type: image/jpeg\r\n", "\n--", "-", "\xFF\xD8\xFF" };
    std::mt19937 random(20261207);
    CJpegDecoder decoder;
    size_t nParts = 0, nDecoded = 0;
    for (int nRound = 0; nRound < 4000; ++nRound) {
        std::string str;
        switch (nRound % 4) {
        case 0: // random bytes
            str.resize(random() % 5000);
            for (char& ch : str)
                ch = static_cast<char>(random());
            break;
        case 1: // random bytes and pieces of the real thing
            for (int n = random() % 200; n > 0; --n)
                str += random() % 3 ? std::string(s_fragments[random() % 8]) : std::string(1, static_cast<char>(random()));
            break;
        case 2: // a valid stream cut short
            str = strValid.substr(0, random() % strValid.size());
            break;
        default: // a valid stream with bytes changed
            str = strValid;
            for (int n = 1 + random() % 20; n > 0; --n)
                str[random() % str.size()] = static_cast<char>(random());
            break;
        }
        CMultipartParser parser("simcamframe");
        size_t nPos = 0;
        while (nPos < str.size()) {
            const size_t cb = std::min<size_t>(1 + random() % 3000, str.size() - nPos);
            parser.Feed(reinterpret_cast<const unsigned char*>(str.data()) + nPos, cb, [&](Bytes& body) {
                ++nParts;
                // Only some parts are decoded: each decoder call costs a little.
                CDecodedFrame frame;
                if (nParts % 8 == 0 && decoder.Decode(body.data(), body.size(), 80, 60, &frame)) {
                    ++nDecoded;
                    EXPECT_EQ(frame.m_bits.size(), static_cast<size_t>(frame.m_cx) * frame.m_cy * 4);
                }
            });
            nPos += cb;
            ASSERT_LE(parser.BufferedBytes(), CMultipartParser::MAX_LINE + 3000 + strValid.size()) << nRound;
        }
    }
    EXPECT_GT(nParts, 1000u); // the damaged streams still gave parts
    EXPECT_GT(nDecoded, 0u);
}

TEST(JpegDecoder, DecodesToFitAndRefusesWhatIsNoJpeg)
{
    std::string strJpeg;
    {
        CFramePainter painter(320, 180, 1);
        strJpeg = painter.Paint(1);
    }
    CJpegDecoder decoder;
    CDecodedFrame frame;
    const BYTE* pb = reinterpret_cast<const BYTE*>(strJpeg.data());
    ASSERT_TRUE(decoder.Decode(pb, strJpeg.size(), 0, 0, &frame));
    EXPECT_EQ(320u, frame.m_cx);
    EXPECT_EQ(180u, frame.m_cy);
    ASSERT_TRUE(decoder.Decode(pb, strJpeg.size(), 200, 200, &frame)); // width decides
    EXPECT_EQ(200u, frame.m_cx);
    EXPECT_EQ(113u, frame.m_cy);
    EXPECT_EQ(frame.m_bits.size(), 200u * 113u * 4u);
    // The mark colour survives decoding: pixel (10, 10) is BGRX.
    EXPECT_NEAR(GetGValue(SIMCAM_MARK_COLOUR), frame.m_bits[(10 * 200 + 10) * 4 + 1], 40);

    const std::string strPng = "\x89PNG\r\n\x1a\n" + std::string(100, '\0');
    EXPECT_FALSE(decoder.Decode(reinterpret_cast<const BYTE*>(strPng.data()), strPng.size(), 0, 0, &frame));
    EXPECT_FALSE(decoder.Decode(pb, strJpeg.size() / 3, 0, 0, &frame)); // cut short
    EXPECT_FALSE(decoder.Decode(pb, 3, 0, 0, &frame));
}

TEST(JpegDecoder, FitKeepsTheAspect)
{
    EXPECT_EQ(320, FitSize(1280, 720, 320, 240).cx);
    EXPECT_EQ(180, FitSize(1280, 720, 320, 240).cy);
    EXPECT_EQ(240, FitSize(480, 640, 320, 240).cy);
    EXPECT_EQ(180, FitSize(480, 640, 320, 240).cx);
    EXPECT_EQ(1, FitSize(4000, 1, 10, 10).cy);
}

// ---- The plug-in file

TEST(PluginFile, ReadsKeysSkipsCommentsAndFillsTheTemplate)
{
    const CPluginFile plugin = CPluginFile::Parse(
        "\xEF\xBB\xBF# a camera\r\n  url = http://{ip}:{port}/video{channel}.mjpg?c={channel}\r\n"
        "\r\nuser=Jos\xC3\xA9\r\npassword=p#ss=word \r\nunknown=ignored\nnot a pair\n");
    EXPECT_TRUE(plugin.IsPresent());
    EXPECT_EQ(L"", plugin.Problem());
    EXPECT_EQ(L"http://10.1.2.3:8080/video2.mjpg?c=2", plugin.UrlFor(L"10.1.2.3", L"8080", L"2"));
    EXPECT_EQ(L"Jos\x00E9", plugin.User());
    EXPECT_EQ(L"p#ss=word", plugin.Password());
}

TEST(PluginFile, WithoutAUrlItSaysSo)
{
    const CPluginFile plugin = CPluginFile::Parse("# url=http://{ip}/\nuser=x\n");
    EXPECT_TRUE(plugin.IsPresent());
    EXPECT_NE(std::wstring::npos, plugin.Problem().find(L"no url= line"));
    EXPECT_FALSE(CPluginFile::Load(L"C:\\no\\such\\folder").IsPresent());
}

TEST(PluginFile, RtspPluginWinsAndSaysItsTransport)
{
    wchar_t szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    const std::wstring strFolder = std::wstring(szTemp) + L"plugin-test-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(strFolder.c_str(), nullptr));
    const auto write = [&](const wchar_t* pszName, const std::string& strText) {
        HANDLE hFile = CreateFileW((strFolder + L"\\" + pszName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD cb = 0;
        WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size()), &cb, nullptr);
        CloseHandle(hFile);
    };
    write(L"mjpeg-http.plugin", "url=http://{ip}/video.mjpg\n");
    EXPECT_EQ(CPluginFile::MJPEG_HTTP, CPluginFile::Load(strFolder).GetKind());
    write(L"rtsp.plugin", "url=rtsp://{ip}:{port}/h264\ntransport=udp\n");
    const CPluginFile plugin = CPluginFile::Load(strFolder);
    EXPECT_EQ(CPluginFile::RTSP, plugin.GetKind());
    EXPECT_EQ(CPluginFile::TRANSPORT_UDP, plugin.GetTransport());
    EXPECT_EQ(L"", plugin.Problem());
    DeleteFileW((strFolder + L"\\rtsp.plugin").c_str());
    DeleteFileW((strFolder + L"\\mjpeg-http.plugin").c_str());
    RemoveDirectoryW(strFolder.c_str());

    EXPECT_EQ(CPluginFile::TRANSPORT_AUTO, CPluginFile::Parse("url=rtsp://{ip}/\n", CPluginFile::RTSP).GetTransport());
    EXPECT_EQ(CPluginFile::TRANSPORT_TCP,
              CPluginFile::Parse("url=rtsp://{ip}/\ntransport=tcp\n", CPluginFile::RTSP).GetTransport());
    const CPluginFile wrong = CPluginFile::Parse("url=rtsp://{ip}/\ntransport=http\n", CPluginFile::RTSP);
    EXPECT_EQ(L"The plug-in file rtsp.plugin's transport= is not auto, tcp or udp.", wrong.Problem());
}

TEST(PluginFile, AddressAndPortGoIntoTheUrlAsPlainDecimalsAndSilenceIsSeconds)
{
    // Leading zeros would make the HTTP client read the address as octal (8.1.1.1).
    const CPluginFile plugin = CPluginFile::Parse("url=http://{ip}:{port}/video{channel}.mjpg\nsilence=25\n");
    EXPECT_EQ(L"http://10.1.1.1:80/video02.mjpg", plugin.UrlFor(L"010.001.001.001", L"0080", L"02"));
    EXPECT_EQ(L"http://10.0.0.100:8080/video1.mjpg", plugin.UrlFor(L"10.000.0.100", L"8080", L"1"));
    EXPECT_EQ(25000u, plugin.SilenceMs());
    EXPECT_EQ(0u, CPluginFile::Parse("url=http://{ip}/\n").SilenceMs());
    for (const char* pszSilence : { "0", "601", "ten", "", "-5" })
        EXPECT_NE(std::wstring::npos,
                  CPluginFile::Parse(std::string("url=http://{ip}/\nsilence=") + pszSilence).Problem().find(L"silence="))
            << pszSilence;
}

// ---- Where the stream is

TEST(CameraUrl, TheTargetIsSentEncodedAndRedirectsResolveAgainstIt)
{
    CCameraUrl url;
    ASSERT_TRUE(CCameraUrl::Parse(L"http://user:pw@127.0.0.1:8080/a b/\x00FC.mjpg?c=1&d=%41#frag", &url));
    EXPECT_EQ(L"/a%20b/%C3%BC.mjpg?c=1&d=%41", url.Target());
    EXPECT_EQ(L"127.0.0.1:8080", url.ShownAddress());
    EXPECT_FALSE(CCameraUrl::Parse(L"ftp://127.0.0.1/x", &url));
    EXPECT_EQ(L"(no address)", ShownAddressOf(L"not a url"));

    ASSERT_TRUE(CCameraUrl::Parse(L"http://Cam.example:8080/streams/video1.mjpg", &url));
    struct CCase
    {
        const wchar_t* m_pszLocation;
        const wchar_t* m_pszTarget; // null: not resolvable
        bool m_bSameCamera;
    };
    const CCase cases[] = {
        { L"/other/video1.mjpg", L"/other/video1.mjpg", true },
        { L"video2.mjpg?x=1", L"/streams/video2.mjpg?x=1", true },
        { L"http://cam.EXAMPLE:8080/x", L"/x", true },
        { L"https://cam.example:8080/x", L"/x", false },
        { L"http://cam.example/x", L"/x", false },
        { L"//other.example:8080/x", L"/x", false },
        { L"http://127.0.0.1:8081/x", L"/x", false },
        { L"ftp://cam.example/x", nullptr, false },
        { L"", nullptr, false },
    };
    for (const CCase& test : cases) {
        CCameraUrl next;
        ASSERT_EQ(test.m_pszTarget != nullptr, url.Resolve(test.m_pszLocation, &next)) << test.m_pszLocation;
        if (test.m_pszTarget) {
            EXPECT_EQ(test.m_pszTarget, next.Target()) << test.m_pszLocation;
            EXPECT_EQ(test.m_bSameCamera, url.SameOrigin(next)) << test.m_pszLocation;
        }
    }
}
