// The stand-in against the simulated camera on 127.0.0.1: pictures drawn in
// the control's window, one TimeStamp per picture, slow cameras, sign-in,
// redirects, every way a camera fails, and stopping in every phase.
#include "streamtestsupport.h"

#include "framepainter.h"
#include "olehostsite.h"
#include "rtspcameraprocess.h"
#include "simcamera.h"
#include "viewerctlids.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>

namespace {

using namespace streamtest;

struct CCameraSetup
{
    CSimCamera::Fault m_fault = CSimCamera::FAULT_NONE;
    UINT m_nFramePeriodMs = 100; // ten a second: enough, and light on a busy machine
    std::string m_strUser;
    std::string m_strPassword;
    UINT m_nSchemes = CCameraAuth::SCHEME_BASIC;
    bool m_bStaleFirst = false;
    DWORD m_nHeaderDelayMs = 0;
    UINT m_nParts = 0; // CSimCamera::Parts
};

class StreamTest : public CameraTest
{
protected:
    void TearDown() override
    {
        CameraTest::TearDown();
        m_camera.Stop();
    }

    // The plug-in in the test's folder, pointing at the camera's port.
    void WritePlugin(const std::string& strPath = "/video{channel}.mjpg", const std::string& strUser = "",
                     const std::string& strPassword = "", const std::string& strMore = "")
    {
        std::string strText = "# camera on this machine\r\nurl=http://{ip}:{port}" + strPath + "\r\n" + strMore;
        if (!strUser.empty())
            strText += "user=" + strUser + "\r\npassword=" + strPassword + "\r\n";
        WriteTestFile(L"mjpeg-http.plugin", strText);
    }

    // Starts camera on a free port of 127.0.0.1, at 10 pictures a second unless set otherwise.
    static void StartCamera(CSimCamera& camera, const CCameraSetup& setup)
    {
        CSimCamera::COptions options;
        options.m_nFramePeriodMs = setup.m_nFramePeriodMs;
        options.m_fault = setup.m_fault;
        options.m_strUser = setup.m_strUser;
        options.m_strPassword = setup.m_strPassword;
        options.m_nSchemes = setup.m_nSchemes;
        options.m_bStaleFirst = setup.m_bStaleFirst;
        options.m_nHeaderDelayMs = setup.m_nHeaderDelayMs;
        options.m_nParts = setup.m_nParts;
        ASSERT_TRUE(camera.Start(options));
    }
    static void StartCamera(CSimCamera& camera, CSimCamera::Fault fault = CSimCamera::FAULT_NONE)
    {
        CCameraSetup setup;
        setup.m_fault = fault;
        StartCamera(camera, setup);
    }
    void StartCamera(CSimCamera::Fault fault = CSimCamera::FAULT_NONE) { StartCamera(m_camera, fault); }

    // The simulated camera over HTTPS, through front, in the plug-in.
    void StartHttpsCamera(CTlsFrontProcess& front)
    {
        if (!CTlsFrontProcess::Available())
            GTEST_SKIP() << "no python3 and openssl here for the HTTPS camera";
        StartCamera();
        ASSERT_TRUE(front.Start("--camera-port " + std::to_string(m_camera.Port())));
        WriteTestFile(L"mjpeg-http.plugin", "url=https://{ip}:{port}/video{channel}.mjpg\r\nuser=cam\r\npassword=pw\r\n");
    }

    std::wstring Connect(USHORT nPort = 0) { return m_control.Connect(m_folder.Path(), nPort ? nPort : m_camera.Port()); }

    static std::string AddressOf(const CSimCamera& camera) { return "127.0.0.1:" + std::to_string(camera.Port()); }
    std::string CameraAddress() const { return AddressOf(m_camera); }

    CSimCamera m_camera;
};

// ---- Pictures and events

TEST_F(StreamTest, PicturesAreDrawnAndEachRaisesOneTimeStamp)
{
    StartCamera();
    WritePlugin();
    // A session played first plays on, but the window shows the one played last.
    const std::wstring strHidden = Connect();
    const std::wstring strSession = Connect();
    ASSERT_TRUE(WaitForEvents(12)) << m_control.m_sink.m_events.size() << " events";

    // The camera's top-left quarter is its mark colour; 640x480 fits 320x240 exactly.
    HDC hdc = GetDC(m_control.m_hwndControl);
    const COLORREF colour = GetPixel(hdc, 40, 30);
    ReleaseDC(m_control.m_hwndControl, hdc);
    EXPECT_LT(abs(GetRValue(colour) - GetRValue(SIMCAM_MARK_COLOUR)), 40) << std::hex << colour;
    EXPECT_LT(abs(GetGValue(colour) - GetGValue(SIMCAM_MARK_COLOUR)), 40) << std::hex << colour;
    EXPECT_LT(abs(GetBValue(colour) - GetBValue(SIMCAM_MARK_COLOUR)), 40) << std::hex << colour;

    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
    const std::vector<CRecordingSink::CEvent>& events = m_control.m_sink.m_events;
    const std::wregex timeStamp(L"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");
    for (size_t n = 0; n < events.size(); ++n) {
        EXPECT_EQ(strSession, events[n].m_strSession);
        EXPECT_TRUE(std::regex_match(events[n].m_strTimeStamp, timeStamp)) << n;
        if (n > 0) { // the text sorts as the time does (pictures that came in one read share theirs)
            EXPECT_LE(events[n - 1].m_strTimeStamp, events[n].m_strTimeStamp) << n;
        }
    }
    // One event per picture shown, and the journal counts the same.
    const std::string strSessionA(strSession.begin(), strSession.end());
    const CFrameCounts counts = ParseFrames(JournalLine("Frames: "));
    EXPECT_EQ(events.size(), counts.m_nShown);
    EXPECT_EQ(0u, counts.m_nUndecodable);
    EXPECT_EQ("Events raised: " + std::to_string(counts.m_nShown) + " for session " + strSessionA,
              JournalLine("Events raised: "));

    // Stopped: no more events, though the camera goes on.
    const size_t nEvents = events.size();
    PumpFor(300);
    EXPECT_EQ(nEvents, events.size());

    // The hidden session's pictures were never drawn: none counts as shown.
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strHidden).m_nValue);
    const std::vector<std::string> frames = JournalLines("Frames: ");
    ASSERT_EQ(2u, frames.size());
    const CFrameCounts hidden = ParseFrames(frames[1]);
    EXPECT_GT(hidden.m_nReceived, 0u) << frames[1];
    EXPECT_EQ(0u, hidden.m_nShown) << frames[1];
}

// Pictures no one sees cost no decoding: a window with no area (its host
// minimised) still announces each picture, and a session the window does
// not show announces none; once the host is restored, pictures are drawn.
TEST_F(StreamTest, PicturesNoOneSeesAreNotDecoded)
{
    StartCamera();
    WritePlugin();
    ShowWindow(m_control.m_hwndParent, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(m_control.m_hwndParent));
    const std::wstring strMinimised = Connect();
    ASSERT_TRUE(WaitForEvents(5)) << m_control.m_sink.m_events.size() << " events";
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strMinimised).m_nValue);
    const CFrameCounts minimised = ParseFrames(JournalLine("Frames: "));
    EXPECT_EQ(m_control.m_sink.m_events.size(), minimised.m_nShown);
    EXPECT_EQ("Frame times: decode median - p99 -", JournalLine("Frame times: ").substr(0, 34));

    ShowWindow(m_control.m_hwndParent, SW_SHOWNOACTIVATE);
    m_control.m_sink.m_events.clear();
    const std::wstring strHidden = Connect();
    const std::wstring strSession = Connect();
    ASSERT_TRUE(WaitForEvents(5)) << m_control.m_sink.m_events.size() << " events";
    for (const CRecordingSink::CEvent& event : m_control.m_sink.m_events)
        EXPECT_EQ(strSession, event.m_strSession);
    HDC hdc = GetDC(m_control.m_hwndControl);
    const COLORREF colour = GetPixel(hdc, 40, 30);
    ReleaseDC(m_control.m_hwndControl, hdc);
    EXPECT_LT(abs(GetGValue(colour) - GetGValue(SIMCAM_MARK_COLOUR)), 40) << std::hex << colour;
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strHidden).m_nValue);
    ExpectSecondStoppedDrewNothing();
}

// Cameras that write their parts in their own way play as any other: no
// length, LF-only lines, no line break before the delimiter, another type.
TEST_F(StreamTest, PartsAsCamerasWriteThemPlay)
{
    const UINT cases[] = {
        CSimCamera::PARTS_NO_LENGTH | CSimCamera::PARTS_TIGHT,
        CSimCamera::PARTS_LF_ONLY,
        CSimCamera::PARTS_OCTET_STREAM,
        CSimCamera::PARTS_NO_LENGTH | CSimCamera::PARTS_LF_ONLY | CSimCamera::PARTS_TIGHT |
            CSimCamera::PARTS_OCTET_STREAM,
    };
    for (UINT nParts : cases) {
        m_control.m_sink.m_events.clear();
        CSimCamera camera;
        CCameraSetup setup;
        setup.m_nParts = nParts;
        StartCamera(camera, setup);
        WritePlugin();
        const std::wstring strSession = m_control.Connect(m_folder.Path(), camera.Port());
        EXPECT_TRUE(WaitForEvents(5)) << nParts << ": " << JournalLine("Picture says: ");
        ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
        EXPECT_EQ(1u, camera.Connections()) << nParts;
        camera.Stop();
    }
    for (const std::string& strLine : JournalLines("Frames: "))
        EXPECT_EQ(0u, ParseFrames(strLine).m_nUndecodable) << strLine;
}

TEST_F(StreamTest, PicturesWaitForPlayForwardAndAreNotQueued)
{
    StartCamera();
    WritePlugin();
    EXPECT_EQ(0, CallMethod(m_control.m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(m_folder.Path().c_str()) }).m_nValue);
    const std::wstring strPort = std::to_wstring(m_camera.Port());
    const std::wstring strSession = StartStream(m_control.m_pDisp, L"127.0.0.1", strPort.c_str(), L"1").m_strValue;
    ASSERT_FALSE(strSession.empty());
    // Pictures come while the session does not play: none is shown.
    const ULONG nSent = m_camera.FramesSent();
    ASSERT_TRUE(PollUntil([&] { return m_camera.FramesSent() >= nSent + 5; }, kEventWaitMs));
    EXPECT_TRUE(m_control.m_sink.m_events.empty());
    // A busy thread: many pictures arrive while it does not look (counted,
    // not timed: an emulated PC makes them slowly).
    const ULONG nBusy = m_camera.FramesSent();
    for (const ULONGLONG nEnd = GetTickCount64() + kEventWaitMs; m_camera.FramesSent() < nBusy + 15 && GetTickCount64() < nEnd;)
        Sleep(20);
    ASSERT_EQ(0, PlayForward(m_control.m_pDisp, strSession, 1.0f).m_nValue);
    ASSERT_TRUE(WaitForEvents(3));
    // The pictures that came meanwhile were dropped, not kept for later.
    EXPECT_LT(m_control.m_sink.m_events.size(), 8u);
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
    const CFrameCounts counts = ParseFrames(JournalLine("Frames: "));
    EXPECT_GE(counts.m_nDropped, 10u);
    EXPECT_EQ(counts.m_nReceived, counts.m_nShown + counts.m_nDropped);
}

TEST_F(StreamTest, WithoutAPluginTheSimulatedPictureStays)
{
    StartCamera();
    const std::wstring strSession = Connect();
    ASSERT_TRUE(WaitForEvents(1, 3000));
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
    EXPECT_EQ(0u, m_camera.Connections());
    EXPECT_EQ("", JournalLine("Frames: "));
}

TEST_F(StreamTest, SlowCamerasPlayEveryPictureOverOneConnection)
{
    // One picture a second and one every five seconds, side by side, each
    // in a control of its own, for 20 seconds.
    const UINT periods[2] = { 1000, 5000 };
    CSimCamera cameras[2];
    CHostedControl slower;
    slower.Create(460);
    CHostedControl* controls[2] = { &m_control, &slower };
    WritePlugin();
    for (int n = 0; n < 2; ++n) {
        CCameraSetup setup;
        setup.m_nFramePeriodMs = periods[n];
        StartCamera(cameras[n], setup);
        controls[n]->Connect(m_folder.Path(), cameras[n].Port());
    }
    ASSERT_TRUE(PumpUntil([&] { return !controls[0]->m_sink.m_events.empty() && !controls[1]->m_sink.m_events.empty(); },
                          20000));
    ULONG nSentBefore[2], nShownBefore[2];
    for (int n = 0; n < 2; ++n) {
        nSentBefore[n] = cameras[n].FramesSent();
        nShownBefore[n] = static_cast<ULONG>(controls[n]->m_sink.m_events.size());
    }
    PumpFor(20000);
    for (int n = 0; n < 2; ++n) {
        const ULONG nSent = cameras[n].FramesSent() - nSentBefore[n];
        const ULONG nShown = static_cast<ULONG>(controls[n]->m_sink.m_events.size()) - nShownBefore[n];
        EXPECT_GE(nSent, 20000 / periods[n] - 1) << periods[n];
        // The last picture may still be on its way.
        EXPECT_GE(nShown + 1, nSent) << "a picture every " << periods[n] << " ms";
        EXPECT_EQ(1u, cameras[n].Connections()) << "a picture every " << periods[n] << " ms";
    }
    slower.Destroy();
}

TEST_F(StreamTest, ACameraThatAnswersAfterThreeSecondsPlays)
{
    CCameraSetup setup;
    setup.m_nHeaderDelayMs = 3000;
    StartCamera(m_camera, setup);
    WritePlugin();
    Connect();
    EXPECT_TRUE(WaitForEvents(3, 20000));
    EXPECT_EQ(1u, m_camera.Connections());
}

// ---- Credentials

TEST_F(StreamTest, CredentialsAnswerTheStrongestSchemeAndAStaleNonceOnceMore)
{
    struct CCase
    {
        UINT m_nSchemes;
        bool m_bStaleFirst;
        const char* m_pszScheme; // used to sign in
        ULONG m_nRefusals;       // 401 answers before the stream
    };
    const UINT ALL = CCameraAuth::SCHEME_BASIC | CCameraAuth::SCHEME_DIGEST_MD5 | CCameraAuth::SCHEME_DIGEST_SHA256;
    const CCase cases[] = {
        { CCameraAuth::SCHEME_BASIC, false, "Basic", 1 },
        { CCameraAuth::SCHEME_BASIC | CCameraAuth::SCHEME_DIGEST_MD5, false, "Digest MD5", 1 },
        { ALL, false, "Digest SHA-256", 1 },
        { CCameraAuth::SCHEME_DIGEST_MD5, true, "Digest MD5", 2 }, // asked, answered, stale, answered again
        { CCameraAuth::SCHEME_DIGEST_RFC2069, false, "Digest without qop", 1 },
    };
    for (const CCase& test : cases) {
        m_control.m_sink.m_events.clear();
        CSimCamera camera;
        CCameraSetup setup;
        setup.m_strUser = "vi\xC3\xA9wer"; // UTF-8, sent as it is (not encoded twice)
        setup.m_strPassword = "s3cret:\"pass\"";
        setup.m_nSchemes = test.m_nSchemes;
        setup.m_bStaleFirst = test.m_bStaleFirst;
        StartCamera(camera, setup);
        WritePlugin("/video{channel}.mjpg", setup.m_strUser, setup.m_strPassword);
        const std::wstring strSession = m_control.Connect(m_folder.Path(), camera.Port());
        EXPECT_TRUE(WaitForEvents(3)) << test.m_pszScheme << ": " << JournalLine("Picture says: ");
        EXPECT_EQ(test.m_pszScheme, camera.LastScheme());
        EXPECT_EQ(test.m_nRefusals, camera.Refusals()) << test.m_pszScheme;
        ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
        camera.Stop();
    }
    EXPECT_TRUE(JournalLines("Picture says: Camera").empty()) << JournalLine("Picture says: Camera");
}

TEST_F(StreamTest, WrongPasswordIsRefusedAndNeverShown)
{
    for (UINT nSchemes : { CCameraAuth::SCHEME_BASIC, CCameraAuth::SCHEME_DIGEST_SHA256 }) {
        CSimCamera camera;
        CCameraSetup setup;
        setup.m_strUser = "viewer";
        setup.m_strPassword = "right";
        setup.m_nSchemes = nSchemes;
        StartCamera(camera, setup);
        WritePlugin("/video{channel}.mjpg", "viewer", "Wr0ngPassw0rd");
        const std::wstring strSession = m_control.Connect(m_folder.Path(), camera.Port());
        EXPECT_TRUE(WaitForPictureSaying("Camera " + AddressOf(camera) + " refused the user name or password (401)."))
            << nSchemes;
        EXPECT_TRUE(m_control.m_sink.m_events.empty());
        EXPECT_GE(camera.Refusals(), 2u); // asked, answered, refused
        ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
        for (const std::string& strLine : Journal())
            EXPECT_FALSE(Contains(strLine, "Wr0ngPassw0rd")) << strLine;
        camera.Stop();
    }
}

TEST_F(StreamTest, NoCredentialsForACameraThatAsks)
{
    CCameraSetup setup;
    setup.m_strUser = "viewer";
    setup.m_strPassword = "right";
    StartCamera(m_camera, setup);
    WritePlugin();
    Connect();
    EXPECT_TRUE(WaitForPictureSaying("asks for a user name and password; the plug-in has none."));
}

TEST_F(StreamTest, RedirectsAreFollowedOnlyWithinTheCamera)
{
    // Within the camera: followed, and the credentials go along.
    CCameraSetup setup;
    setup.m_strUser = "cam";
    setup.m_strPassword = "s3cret";
    StartCamera(m_camera, setup);
    WritePlugin("/moved{channel}.mjpg", "cam", "s3cret");
    const std::wstring strSession = Connect();
    EXPECT_TRUE(WaitForEvents(3));
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);

    // Elsewhere (another port): not followed, said, and no credentials go there.
    CSimCamera camera;
    setup.m_fault = CSimCamera::FAULT_REDIRECT;
    StartCamera(camera, setup);
    WritePlugin("/video{channel}.mjpg", "cam", "s3cret");
    m_control.Connect(m_folder.Path(), camera.Port());
    EXPECT_TRUE(WaitForPictureSaying("Camera " + AddressOf(camera) + " sends the stream elsewhere (302): 127.0.0.1:" +
                                     std::to_string(camera.ElsewherePort()) + ". Trying again in 1 s."));
    EXPECT_EQ(0u, camera.ElsewhereConnections());
    EXPECT_EQ(0u, camera.CredentialsElsewhere());
    for (const std::string& strLine : JournalLines("Picture says: "))
        EXPECT_FALSE(Contains(strLine, "/video")) << strLine; // host and port only
}

// A certificate added to the machine's trusted roots while it lives.
class CTrustedRoot
{
public:
    explicit CTrustedRoot(const std::wstring& strDerFile)
    {
        std::ifstream in(strDerFile.c_str(), std::ios::binary);
        const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        HCERTSTORE hRoot = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
        if (hRoot && !der.empty())
            CertAddEncodedCertificateToStore(hRoot, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                             CERT_STORE_ADD_REPLACE_EXISTING, &m_pAdded);
        if (hRoot)
            CertCloseStore(hRoot, 0);
    }
    ~CTrustedRoot()
    {
        if (m_pAdded)
            CertDeleteCertificateFromStore(m_pAdded);
    }
    CTrustedRoot(const CTrustedRoot&) = delete;
    CTrustedRoot& operator=(const CTrustedRoot&) = delete;

    // Added, and chains now end in it as in a trusted root (Wine's roots are
    // the Linux host's, and a root added at run time is not trusted).
    bool Trusted() const
    {
        PCCERT_CHAIN_CONTEXT pChain = nullptr;
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof para;
        if (!m_pAdded || !CertGetCertificateChain(nullptr, m_pAdded, nullptr, nullptr, &para, 0, nullptr, &pChain))
            return false;
        const bool bTrusted = (pChain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_UNTRUSTED_ROOT) == 0;
        CertFreeCertificateChain(pChain);
        return bTrusted;
    }

private:
    PCCERT_CONTEXT m_pAdded = nullptr;
};

// Over HTTPS a camera whose certificate is not trusted is sent nothing, not
// even the request line, and its picture says why.
TEST_F(StreamTest, AnHttpsCameraWithAnUntrustedCertificateIsSentNothing)
{
    CTlsFrontProcess front;
    StartHttpsCamera(front);
    if (IsSkipped() || HasFatalFailure())
        return;
    const std::wstring strSession = Connect(front.Port());
    EXPECT_TRUE(WaitForPictureSaying("Camera 127.0.0.1:" + std::to_string(front.Port()) +
                                     " shows a certificate the stand-in does not trust (error 0x800B0109)."))
        << ::testing::PrintToString(JournalLines("Picture says: "));
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
    EXPECT_TRUE(ReadLines(front.RecordFile()).empty());
    EXPECT_EQ(0u, m_camera.Connections());
}

// Once its certificate is trusted, the camera plays over HTTPS. Wine trusts
// only its Linux host's roots, so there this is not checked.
TEST_F(StreamTest, AnHttpsCameraWithATrustedCertificatePlays)
{
    CTlsFrontProcess front;
    StartHttpsCamera(front);
    if (IsSkipped() || HasFatalFailure())
        return;
    CTrustedRoot trusted(front.CertificateFile());
    if (!trusted.Trusted())
        GTEST_SKIP() << "a root added at run time is not trusted here";
    const std::wstring strSession = Connect(front.Port());
    ASSERT_TRUE(WaitForEvents(3)) << ::testing::PrintToString(JournalLines("Picture says: "));
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
    const std::vector<std::string> requests = ReadLines(front.RecordFile());
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ("request GET /video0.mjpg HTTP/1.1", requests[0]);
}

// ---- Failures are shown, and the stand-in tries again

TEST_F(StreamTest, RefusedConnectionIsRetriedWithGrowingPauses)
{
    // A port nobody listens on.
    StartCamera(CSimCamera::FAULT_REFUSE);
    const std::wstring strSession = Connect();
    WritePlugin();
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue); // started before the plug-in existed
    Connect();
    const std::string strRefused = "Camera " + CameraAddress() + " can't be reached or refuses the connection.";
    EXPECT_TRUE(WaitForPictureSaying(strRefused + " Trying again in 1 s."));
    EXPECT_TRUE(WaitForPictureSaying(strRefused + " Trying again in 2 s."));
    EXPECT_TRUE(WaitForPictureSaying(strRefused + " Trying again in 4 s."));
    // A pause counts down its seconds, so a waiting stream doesn't look stuck.
    EXPECT_TRUE(WaitForPictureSaying(strRefused + " Trying again in 3 s."));
    // Once the camera listens again, the pictures come.
    m_camera.SetFault(CSimCamera::FAULT_NONE);
    EXPECT_TRUE(WaitForEvents(2, 20000));
}

TEST_F(StreamTest, NotFoundAndNotMjpegAreSaidInPlainWords)
{
    StartCamera();
    WritePlugin("/video9.mjpg");
    std::wstring strSession = Connect();
    EXPECT_TRUE(WaitForPictureSaying("Camera " + CameraAddress() + " has no such stream (404 Not Found)."));
    ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);

    WritePlugin("/index.html");
    strSession = Connect();
    EXPECT_TRUE(WaitForPictureSaying("Camera " + CameraAddress() + " does not send Motion JPEG (it sends \"text/html\")."));
    EXPECT_TRUE(m_control.m_sink.m_events.empty());
}

TEST_F(StreamTest, CutStreamIsSaidAndReconnected)
{
    StartCamera(CSimCamera::FAULT_CUT);
    WritePlugin();
    Connect();
    EXPECT_TRUE(WaitForPictureSaying("The stream from camera " + CameraAddress() + " was cut off."));
    EXPECT_TRUE(WaitForEvents(4)); // three pictures each connection
    EXPECT_GE(m_camera.Connections(), 2u);
}

TEST_F(StreamTest, GarbageOversizedAndHugeLengthPartsAreSkipped)
{
    for (CSimCamera::Fault fault :
         { CSimCamera::FAULT_GARBAGE, CSimCamera::FAULT_OVERSIZED, CSimCamera::FAULT_HUGE_LENGTH }) {
        m_control.m_sink.m_events.clear();
        CSimCamera camera;
        StartCamera(camera, fault);
        WritePlugin();
        const std::wstring strSession = m_control.Connect(m_folder.Path(), camera.Port());
        EXPECT_TRUE(WaitForEvents(5)) << fault;
        ASSERT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
        EXPECT_EQ(1u, camera.Connections()) << fault; // nothing made it reconnect
        camera.Stop();
    }
    // The part too large to show was said until pictures came.
    EXPECT_FALSE(JournalLines("Picture says: Camera 127.0.0.1:").empty());
    EXPECT_TRUE(WaitForPictureSaying(" sends parts that can't be shown (over 16 MB, or with broken header lines)."));
    const std::vector<std::string> frames = JournalLines("Frames: ");
    ASSERT_EQ(3u, frames.size());
    const CFrameCounts counts = ParseFrames(frames[0]);
    EXPECT_GE(counts.m_nUndecodable, 2u) << frames[0]; // the random parts did not decode
    EXPECT_EQ(counts.m_nReceived, counts.m_nShown + counts.m_nDropped + counts.m_nUndecodable);
}

TEST_F(StreamTest, EndlessHeaderLinesAreCutShortAndCostLittleMemory)
{
    StartCamera(CSimCamera::FAULT_ENDLESS_HEADERS);
    WritePlugin();
    const SIZE_T cbBefore = PrivateBytes();
    Connect();
    EXPECT_TRUE(WaitForPictureSaying("Camera " + CameraAddress() + " does not answer in HTTP."));
    // Cut at the bound each time, not kept until the answer limit.
    EXPECT_TRUE(PollUntil([&] { return m_camera.Connections() >= 3; }, 30000));
    const SIZE_T cbAfter = PrivateBytes();
    EXPECT_LT(cbAfter, cbBefore + 32 * 1048576) << cbBefore / 1048576 << " MB before, " << cbAfter / 1048576 << " MB after";
}

TEST_F(StreamTest, UndecodablePicturesSilenceAndAStallAreSaid)
{
    // Three cameras at once, each on a session of its own (all play; the
    // picture's words are journalled whichever session the window shows).
    CSimCamera undecodable, silent, stalled;
    StartCamera(undecodable, CSimCamera::FAULT_UNDECODABLE);
    StartCamera(silent, CSimCamera::FAULT_SILENT);
    StartCamera(stalled, CSimCamera::FAULT_STALL);
    WritePlugin("/video{channel}.mjpg", "", "", "silence=2\r\n");
    const std::wstring strUndecodable = m_control.Connect(m_folder.Path(), undecodable.Port());
    m_control.Connect(m_folder.Path(), silent.Port());
    m_control.Connect(m_folder.Path(), stalled.Port());
    // Shown again: only the pictures of the session shown are decoded.
    EXPECT_EQ(0, PlayForward(m_control.m_pDisp, strUndecodable, 1.0f).m_nValue);
    EXPECT_TRUE(WaitForPictureSaying("Camera " + AddressOf(undecodable) + " sends pictures that can't be decoded."));
    EXPECT_TRUE(WaitForPictureSaying("Camera " + AddressOf(stalled) + " sends nothing. Trying again in 1 s."));
    EXPECT_TRUE(WaitForPictureSaying("Camera " + AddressOf(silent) + " does not answer. Trying again in 1 s.", 30000));
    EXPECT_EQ(1u, undecodable.Connections()); // pictures that don't decode are no reason to reconnect
    // Good pictures again: they show.
    const size_t nEvents = m_control.m_sink.m_events.size();
    undecodable.SetFault(CSimCamera::FAULT_NONE);
    EXPECT_TRUE(WaitForEvents(nEvents + 3));
}

TEST_F(StreamTest, StoppingInEveryPhaseEndsTheSessionAndItsThreads)
{
    // What shows that the phase has come.
    enum Reached { FIRST_PICTURE, CONNECTION_OPEN, TRYING_AGAIN };
    struct CPhase
    {
        const char* m_pszName;
        CSimCamera::Fault m_fault;
        UINT m_nFramePeriodMs;
        const char* m_pszPath;
        Reached m_reached;
        bool m_bClose; // the control is closed instead
    };
    const CPhase phases[] = {
        { "playing", CSimCamera::FAULT_NONE, 100, "/video{channel}.mjpg", FIRST_PICTURE, false },
        { "waiting for the answer", CSimCamera::FAULT_SILENT, 100, "/video{channel}.mjpg", CONNECTION_OPEN, false },
        { "trickled header lines", CSimCamera::FAULT_TRICKLE, 100, "/video{channel}.mjpg", CONNECTION_OPEN, false },
        { "in the middle of a part", CSimCamera::FAULT_STALL, 100, "/video{channel}.mjpg", FIRST_PICTURE, false },
        { "between slow pictures", CSimCamera::FAULT_NONE, 5000, "/video{channel}.mjpg", FIRST_PICTURE, false },
        { "in the pause before trying again", CSimCamera::FAULT_NONE, 100, "/video9.mjpg", TRYING_AGAIN, false },
        { "closing while waiting for the answer", CSimCamera::FAULT_SILENT, 100, "/video{channel}.mjpg", CONNECTION_OPEN,
          true },
    };
    for (const CPhase& phase : phases) {
        CSimCamera camera;
        CCameraSetup setup;
        setup.m_fault = phase.m_fault;
        setup.m_nFramePeriodMs = phase.m_nFramePeriodMs;
        StartCamera(camera, setup);
        WritePlugin(phase.m_pszPath);
        const ULONG nThreads = ThreadCount();
        const std::wstring strSession = m_control.Connect(m_folder.Path(), camera.Port());
        const std::vector<CRecordingSink::CEvent>& events = m_control.m_sink.m_events;
        const size_t nEventsBefore = events.size();
        ASSERT_TRUE(PollUntil(
            [&] {
                switch (phase.m_reached) {
                case FIRST_PICTURE:
                    return events.size() > nEventsBefore;
                case CONNECTION_OPEN:
                    return camera.OpenConnections() > 0;
                default:
                    return !JournalLines("Picture says: Camera " + AddressOf(camera)).empty();
                }
            },
            20000))
            << phase.m_pszName;
        PumpFor(phase.m_fault == CSimCamera::FAULT_TRICKLE ? 1000 : 100); // a few header bytes in
        if (phase.m_bClose)
            EXPECT_EQ(S_OK, m_control.m_pObject->Close(OLECLOSE_NOSAVE));
        else
            EXPECT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue) << phase.m_pszName;
        const size_t nEvents = events.size();
        // The session's threads and the camera's connection go at once (the
        // deadline leaves room for a busy machine; the time is printed).
        const ULONGLONG nStopped = GetTickCount64();
        EXPECT_TRUE(PollUntil([&] { return ThreadCount() <= nThreads && camera.OpenConnections() == 0; }, 30000))
            << phase.m_pszName << ": " << ThreadCount() << " threads, " << nThreads << " before; "
            << camera.OpenConnections() << " connections open";
        printf("stopped %s: threads and connection gone after %.2f s\n", phase.m_pszName,
               (GetTickCount64() - nStopped) / 1000.0);
        EXPECT_EQ(nEvents, events.size()) << phase.m_pszName << ": an event after the stop";
        EXPECT_EQ(0u, camera.OpenConnections());
        camera.Stop();
    }
}

TEST_F(StreamTest, TwoHundredStopsOfATricklingCameraLeaveNothingBehind)
{
    StartCamera(CSimCamera::FAULT_TRICKLE);
    WritePlugin();
    EXPECT_EQ(0, CallMethod(m_control.m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(m_folder.Path().c_str()) }).m_nValue);
    const std::wstring strPort = std::to_wstring(m_camera.Port());
    // Connects, waits until the camera has the connection, stops.
    const auto cycle = [&] {
        const ULONG nConnections = m_camera.Connections();
        const std::wstring strSession = StartStream(m_control.m_pDisp, L"127.0.0.1", strPort.c_str(), L"1").m_strValue;
        EXPECT_EQ(0, PlayForward(m_control.m_pDisp, strSession, 1.0f).m_nValue);
        const bool bConnected = PollUntil([&] { return m_camera.Connections() > nConnections; }, 10000);
        EXPECT_EQ(0, StopStream(m_control.m_pDisp, strSession).m_nValue);
        return bConnected;
    };
    // The first use of the HTTP client sets up what it keeps for the process.
    ASSERT_TRUE(cycle());
    PollUntil([&] { return m_camera.OpenConnections() == 0; }, 30000);
    PumpFor(6000);
    const ULONG nThreadsBefore = ThreadCount();
    const SIZE_T cbBefore = PrivateBytes();
    for (int n = 0; n < 200; ++n)
        ASSERT_TRUE(cycle()) << "cycle " << n << ": " << JournalLine("Picture says: ");
    const ULONG nThreadsAfter = ThreadCount();
    const SIZE_T cbAfter = PrivateBytes();
    // Back at once (the deadline leaves room for a busy machine).
    const ULONGLONG nStart = GetTickCount64();
    const bool bBack = PollUntil([&] { return ThreadCount() <= nThreadsBefore && m_camera.OpenConnections() == 0; }, 30000);
    const ULONGLONG nBackMs = GetTickCount64() - nStart;
    // Memory one second after the last stop.
    PumpFor(static_cast<DWORD>(nBackMs < 1000 ? 1000 - nBackMs : 0));
    printf("200 stops while the camera trickles its header lines: threads %lu before, %lu after, %lu %.1f s later;"
           " private bytes %.1f MB before, %.1f MB after, %.1f MB 1 s later\n",
           nThreadsBefore, nThreadsAfter, ThreadCount(), nBackMs / 1000.0, cbBefore / 1048576.0, cbAfter / 1048576.0,
           PrivateBytes() / 1048576.0);
    EXPECT_TRUE(bBack) << ThreadCount() << " threads, " << nThreadsBefore << " before; " << m_camera.OpenConnections()
                       << " connections open";
    // Nothing kept per session (a read buffer each would be 12 MB).
    EXPECT_LT(PrivateBytes(), cbBefore + 4 * 1048576);
}

TEST_F(StreamTest, BrokenPluginIsSaidOnThePicture)
{
    HANDLE hFile = CreateFileW(m_folder.File(L"mjpeg-http.plugin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    CloseHandle(hFile);
    EXPECT_EQ(0, CallMethod(m_control.m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(m_folder.Path().c_str()) }).m_nValue);
    const std::wstring strSession = StartStream(m_control.m_pDisp, L"127.0.0.1", L"80", L"1").m_strValue;
    ASSERT_FALSE(strSession.empty());
    EXPECT_EQ(0, PlayForward(m_control.m_pDisp, strSession, 1.0f).m_nValue);
    PumpFor(300);
    EXPECT_TRUE(m_control.m_sink.m_events.empty());
    // The picture is not the simulated one: its top band is not colour bars.
    RedrawWindow(m_control.m_hwndControl, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC hdc = GetDC(m_control.m_hwndControl);
    const COLORREF colour = GetPixel(hdc, 160, 4);
    ReleaseDC(m_control.m_hwndControl, hdc);
    EXPECT_LT(GetRValue(colour) + GetGValue(colour) + GetBValue(colour), 3 * 64) << std::hex << colour;
}

} // namespace
