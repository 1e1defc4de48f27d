// The stand-in against the simulated camera on 127.0.0.1: pictures drawn in
// the control's window, one TimeStamp per picture, credentials, every way a
// camera fails, and stopping while the camera stalls.
#include "ctltestsupport.h"

#include "framepainter.h"
#include "olehostsite.h"
#include "simcamera.h"
#include "viewerctlids.h"

#include <algorithm>
#include <cstdio>
#include <regex>

namespace {

// Pumps messages until bDone(), looking every few milliseconds (the camera
// changes without a message arriving).
bool PollUntil(const std::function<bool()>& bDone, DWORD nTimeoutMs)
{
    const ULONGLONG nDeadline = GetTickCount64() + nTimeoutMs;
    while (!bDone()) {
        if (GetTickCount64() >= nDeadline)
            return false;
        PumpFor(10);
    }
    return true;
}

bool Contains(const std::string& str, const std::string& strPart)
{
    return str.find(strPart) != std::string::npos;
}

class StreamTest : public CtlTest
{
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        m_strJournal = m_folder.File(L"journal.txt");
        SetEnvironmentVariableW(L"DORSA_STANDIN_JOURNAL", m_strJournal.c_str());
        m_hwndParent = CreateWindowExW(0, L"STATIC", L"Stream test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 40, 40,
                                       400, 320, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, m_hwndParent);
        ShowWindow(m_hwndParent, SW_SHOWNOACTIVATE);
        m_pSite = new COleHostSite(m_hwndParent);
        ASSERT_EQ(S_OK, CtlCreate(IID_IOleObject, reinterpret_cast<void**>(&m_pObject)));
        ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_pDisp)));
        ASSERT_EQ(S_OK, m_pObject->SetClientSite(m_pSite));
        const RECT rcItem = { 0, 0, 320, 240 };
        ASSERT_EQ(S_OK, m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hwndParent, &rcItem));
        IOleInPlaceObject* pInPlace = nullptr;
        ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&pInPlace)));
        pInPlace->GetWindow(&m_hwndControl);
        pInPlace->Release();
        IConnectionPointContainer* pContainer = nullptr;
        ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&pContainer)));
        pContainer->FindConnectionPoint(DIID__DDorsaAPICOMViewerEvents, &m_pPoint);
        pContainer->Release();
        ASSERT_NE(nullptr, m_pPoint);
        ASSERT_EQ(S_OK, m_pPoint->Advise(static_cast<IDispatch*>(&m_sink), &m_dwCookie));
    }
    void TearDown() override
    {
        if (m_pPoint) {
            m_pPoint->Unadvise(m_dwCookie);
            m_pPoint->Release();
        }
        if (m_pObject) {
            m_pObject->Close(OLECLOSE_NOSAVE);
            m_pObject->SetClientSite(nullptr);
        }
        if (m_pDisp)
            m_pDisp->Release();
        if (m_pObject)
            m_pObject->Release();
        m_camera.Stop();
        delete m_pSite;
        DestroyWindow(m_hwndParent);
        SetEnvironmentVariableW(L"DORSA_STANDIN_JOURNAL", nullptr);
        CtlTest::TearDown();
    }

    // The plug-in in the test's folder, pointing at the camera's port.
    void WritePlugin(const std::string& strPath = "/video{channel}.mjpg", const std::string& strUser = "",
                     const std::string& strPassword = "")
    {
        std::string strText = "# camera on this machine\r\nurl=http://{ip}:{port}" + strPath + "\r\n";
        if (!strUser.empty())
            strText += "user=" + strUser + "\r\npassword=" + strPassword + "\r\n";
        HANDLE hFile = CreateFileW(m_folder.File(L"mjpeg-http.plugin").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
        DWORD cbWritten = 0;
        WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size()), &cbWritten, nullptr);
        CloseHandle(hFile);
    }

    // Starts camera at 25 frames/s on a free port of 127.0.0.1.
    static void StartCamera(CSimCamera& camera, CSimCamera::Fault fault = CSimCamera::FAULT_NONE,
                            const std::string& strUser = "", const std::string& strPassword = "", bool bDigest = false)
    {
        CSimCamera::COptions options;
        options.m_nFps = 25;
        options.m_fault = fault;
        options.m_strUser = strUser;
        options.m_strPassword = strPassword;
        options.m_nSchemes = bDigest ? CCameraAuth::SCHEME_DIGEST_MD5 : CCameraAuth::SCHEME_BASIC;
        ASSERT_TRUE(camera.Start(options));
    }
    void StartCamera(CSimCamera::Fault fault = CSimCamera::FAULT_NONE, const std::string& strUser = "",
                     const std::string& strPassword = "", bool bDigest = false)
    {
        StartCamera(m_camera, fault, strUser, strPassword, bDigest);
    }

    // SetPluginPath, StartStream and PlayForward as the program calls them,
    // for 127.0.0.1 at nPort (the camera's by default).
    std::wstring Connect(USHORT nPort = 0)
    {
        EXPECT_EQ(0, CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(m_folder.Path().c_str()) }).m_nValue);
        const std::wstring strPort = std::to_wstring(nPort ? nPort : m_camera.Port());
        const std::wstring strSession = StartStream(m_pDisp, L"127.0.0.1", strPort.c_str(), L"1").m_strValue;
        EXPECT_FALSE(strSession.empty());
        EXPECT_EQ(0, PlayForward(m_pDisp, strSession, 1.0f).m_nValue);
        return strSession;
    }

    bool WaitForEvents(size_t nCount, DWORD nTimeoutMs = 15000)
    {
        return PumpUntil([&] { return m_sink.m_events.size() >= nCount; }, nTimeoutMs);
    }

    std::vector<std::string> Journal() const { return ReadLines(m_strJournal); }

    // The first journal line that starts with strPrefix (empty when none).
    std::string JournalLine(const std::string& strPrefix) const
    {
        for (const std::string& strLine : Journal())
            if (strLine.compare(0, strPrefix.size(), strPrefix) == 0)
                return strLine;
        return std::string();
    }

    // Waits until the picture says something containing strText.
    bool WaitForPictureSaying(const std::string& strText, DWORD nTimeoutMs = 15000)
    {
        return PollUntil(
            [&] {
                for (const std::string& strLine : Journal())
                    if (strLine.compare(0, 14, "Picture says: ") == 0 && Contains(strLine, strText))
                        return true;
                return false;
            },
            nTimeoutMs);
    }

    std::string CameraAddress() const { return "127.0.0.1:" + std::to_string(m_camera.Port()); }

    CTempFolder m_folder;
    std::wstring m_strJournal;
    CSimCamera m_camera;
    CRecordingSink m_sink;
    HWND m_hwndParent = nullptr;
    HWND m_hwndControl = nullptr;
    COleHostSite* m_pSite = nullptr;
    IOleObject* m_pObject = nullptr;
    IDispatch* m_pDisp = nullptr;
    IConnectionPoint* m_pPoint = nullptr;
    DWORD m_dwCookie = 0;
};

// ---- Pictures and events

TEST_F(StreamTest, PicturesAreDrawnAndEachRaisesOneTimeStamp)
{
    StartCamera();
    WritePlugin();
    const std::wstring strSession = Connect();
    ASSERT_TRUE(WaitForEvents(12)) << m_sink.m_events.size() << " events";

    // The camera's top-left quarter is its mark colour; 640x480 fits 320x240 exactly.
    HDC hdc = GetDC(m_hwndControl);
    const COLORREF colour = GetPixel(hdc, 40, 30);
    ReleaseDC(m_hwndControl, hdc);
    EXPECT_LT(abs(GetRValue(colour) - GetRValue(SIMCAM_MARK_COLOUR)), 40) << std::hex << colour;
    EXPECT_LT(abs(GetGValue(colour) - GetGValue(SIMCAM_MARK_COLOUR)), 40) << std::hex << colour;
    EXPECT_LT(abs(GetBValue(colour) - GetBValue(SIMCAM_MARK_COLOUR)), 40) << std::hex << colour;

    ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
    const std::wregex timeStamp(L"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");
    for (size_t n = 0; n < m_sink.m_events.size(); ++n) {
        const CRecordingSink::CEvent& event = m_sink.m_events[n];
        EXPECT_EQ(strSession, event.m_strSession);
        EXPECT_TRUE(std::regex_match(event.m_strTimeStamp, timeStamp)) << n;
        if (n > 0) { // the text sorts as the time does
            EXPECT_LT(m_sink.m_events[n - 1].m_strTimeStamp, event.m_strTimeStamp) << n;
        }
    }
    // One event per picture shown, and the journal counts the same.
    const std::string strSessionA(strSession.begin(), strSession.end());
    const std::string strFrames = JournalLine("Frames: ");
    unsigned nReceived = 0, nShown = 0, nDropped = 0, nBad = 0;
    ASSERT_EQ(4, sscanf(strFrames.c_str(), "Frames: received %u, shown %u, dropped %u, undecodable %u", &nReceived,
                        &nShown, &nDropped, &nBad)) << strFrames;
    EXPECT_EQ(m_sink.m_events.size(), nShown);
    EXPECT_EQ(0u, nBad);
    EXPECT_EQ("Events raised: " + std::to_string(nShown) + " for session " + strSessionA,
              JournalLine("Events raised: "));

    // Stopped: no more events, though the camera goes on.
    const size_t nEvents = m_sink.m_events.size();
    PumpFor(300);
    EXPECT_EQ(nEvents, m_sink.m_events.size());
}

TEST_F(StreamTest, PicturesWaitForPlayForwardAndAreNotQueued)
{
    StartCamera();
    WritePlugin();
    EXPECT_EQ(0, CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(m_folder.Path().c_str()) }).m_nValue);
    const std::wstring strPort = std::to_wstring(m_camera.Port());
    const std::wstring strSession = StartStream(m_pDisp, L"127.0.0.1", strPort.c_str(), L"1").m_strValue;
    ASSERT_FALSE(strSession.empty());
    PumpFor(600);
    EXPECT_TRUE(m_sink.m_events.empty());
    // A busy thread: many pictures arrive while it does not look.
    Sleep(800);
    ASSERT_EQ(0, PlayForward(m_pDisp, strSession, 1.0f).m_nValue);
    ASSERT_TRUE(WaitForEvents(3));
    // The pictures that came meanwhile were dropped, not kept for later.
    EXPECT_LT(m_sink.m_events.size(), 8u);
    ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
    unsigned nReceived = 0, nShown = 0, nDropped = 0;
    sscanf(JournalLine("Frames: ").c_str(), "Frames: received %u, shown %u, dropped %u", &nReceived, &nShown, &nDropped);
    EXPECT_GE(nDropped, 10u);
    EXPECT_EQ(nReceived, nShown + nDropped);
}

TEST_F(StreamTest, WithoutAPluginTheSimulatedPictureStays)
{
    StartCamera();
    const std::wstring strSession = Connect();
    ASSERT_TRUE(WaitForEvents(1, 3000));
    ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
    EXPECT_EQ(0u, m_camera.Connections());
    EXPECT_EQ("", JournalLine("Frames: "));
}

// ---- Credentials

TEST_F(StreamTest, BasicCredentialsAreAccepted)
{
    StartCamera(CSimCamera::FAULT_NONE, "viewer", "s3cret:pass");
    WritePlugin("/video{channel}.mjpg", "viewer", "s3cret:pass");
    Connect();
    EXPECT_TRUE(WaitForEvents(3));
}

TEST_F(StreamTest, DigestCredentialsAreAccepted)
{
    StartCamera(CSimCamera::FAULT_NONE, "viewer", "s3cret", true);
    WritePlugin("/video{channel}.mjpg", "viewer", "s3cret");
    Connect();
    EXPECT_TRUE(WaitForEvents(3));
}

TEST_F(StreamTest, WrongPasswordIsRefusedAndNeverShown)
{
    for (bool bDigest : { false, true }) {
        CSimCamera camera;
        StartCamera(camera, CSimCamera::FAULT_NONE, "viewer", "right", bDigest);
        WritePlugin("/video{channel}.mjpg", "viewer", "Wr0ngPassw0rd");
        const std::wstring strSession = Connect(camera.Port());
        const std::string strAddress = "127.0.0.1:" + std::to_string(camera.Port());
        EXPECT_TRUE(WaitForPictureSaying("Camera " + strAddress + " refused the user name or password (401)."))
            << bDigest;
        EXPECT_TRUE(m_sink.m_events.empty());
        EXPECT_GE(camera.Refusals(), 2u); // asked, answered, refused
        ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
        for (const std::string& strLine : Journal())
            EXPECT_FALSE(Contains(strLine, "Wr0ngPassw0rd")) << strLine;
        camera.Stop();
    }
}

TEST_F(StreamTest, NoCredentialsForACameraThatAsks)
{
    StartCamera(CSimCamera::FAULT_NONE, "viewer", "right");
    WritePlugin();
    Connect();
    EXPECT_TRUE(WaitForPictureSaying("asks for a user name and password; the plug-in has none."));
}

// ---- Failures are shown, and the stand-in tries again

TEST_F(StreamTest, RefusedConnectionIsRetriedWithGrowingPauses)
{
    // A port nobody listens on.
    StartCamera(CSimCamera::FAULT_REFUSE);
    const std::wstring strSession = Connect();
    WritePlugin();
    ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue); // started before the plug-in existed
    Connect();
    const std::string strRefused = "Camera " + CameraAddress() + " can't be reached or refuses the connection.";
    EXPECT_TRUE(WaitForPictureSaying(strRefused + " Trying again in 1 s."));
    EXPECT_TRUE(WaitForPictureSaying(strRefused + " Trying again in 2 s."));
    EXPECT_TRUE(WaitForPictureSaying(strRefused + " Trying again in 4 s."));
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
    ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);

    WritePlugin("/index.html");
    strSession = Connect();
    EXPECT_TRUE(WaitForPictureSaying("Camera " + CameraAddress() + " does not send Motion JPEG (it sends \"text/html\")."));
    EXPECT_TRUE(m_sink.m_events.empty());
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

TEST_F(StreamTest, GarbageAndOversizedPartsAreSkipped)
{
    for (CSimCamera::Fault fault : { CSimCamera::FAULT_GARBAGE, CSimCamera::FAULT_OVERSIZED }) {
        m_sink.m_events.clear();
        CSimCamera camera;
        StartCamera(camera, fault);
        WritePlugin();
        const std::wstring strSession = Connect(camera.Port());
        EXPECT_TRUE(WaitForEvents(5)) << fault;
        ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
        EXPECT_EQ(1u, camera.Connections()) << fault; // nothing made it reconnect
        camera.Stop();
    }
    std::vector<std::string> frames;
    for (const std::string& strLine : Journal())
        if (strLine.compare(0, 8, "Frames: ") == 0)
            frames.push_back(strLine);
    ASSERT_EQ(2u, frames.size());
    unsigned nReceived = 0, nShown = 0, nDropped = 0, nBad = 0;
    sscanf(frames[0].c_str(), "Frames: received %u, shown %u, dropped %u, undecodable %u", &nReceived, &nShown,
           &nDropped, &nBad);
    EXPECT_GE(nBad, 2u) << frames[0]; // the random parts did not decode
    EXPECT_EQ(nReceived, nShown + nDropped + nBad);
}

TEST_F(StreamTest, StopStreamEndsTheConnectionWithinASecondWhileTheCameraStalls)
{
    for (CSimCamera::Fault fault : { CSimCamera::FAULT_STALL, CSimCamera::FAULT_SILENT }) {
        CSimCamera camera;
        StartCamera(camera, fault);
        WritePlugin();
        const std::wstring strSession = Connect(camera.Port());
        ASSERT_TRUE(PollUntil([&] { return camera.OpenConnections() > 0; }, 5000)) << fault;
        PumpFor(700); // well into the stall
        const ULONGLONG nStart = GetTickCount64();
        EXPECT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
        const ULONGLONG nCallMs = GetTickCount64() - nStart;
        EXPECT_TRUE(PollUntil([&] { return camera.OpenConnections() == 0; }, 3000)) << fault;
        const ULONGLONG nClosedMs = GetTickCount64() - nStart;
        EXPECT_LT(nCallMs, 1000u) << fault;
        EXPECT_LT(nClosedMs, 1000u) << fault;
        // And it stays gone.
        const ULONG nConnections = camera.Connections();
        PumpFor(1200);
        EXPECT_EQ(nConnections, camera.Connections()) << fault;
        camera.Stop();
    }
}

TEST_F(StreamTest, SilentCameraIsSaidAfterAWhile)
{
    StartCamera(CSimCamera::FAULT_SILENT);
    WritePlugin();
    Connect();
    EXPECT_TRUE(WaitForPictureSaying("Camera " + CameraAddress() + " does not answer. Trying again in 1 s."));
    EXPECT_GE(m_camera.Connections(), 2u); // short silences are tried again at once
    EXPECT_TRUE(m_sink.m_events.empty());
}

TEST_F(StreamTest, ClosingTheControlWhileTheCameraStallsIsPrompt)
{
    StartCamera(CSimCamera::FAULT_SILENT);
    WritePlugin();
    Connect();
    ASSERT_TRUE(PollUntil([&] { return m_camera.OpenConnections() > 0; }, 5000));
    const ULONGLONG nStart = GetTickCount64();
    EXPECT_EQ(S_OK, m_pObject->Close(OLECLOSE_NOSAVE));
    EXPECT_LT(GetTickCount64() - nStart, 1000u);
    EXPECT_TRUE(PollUntil([&] { return m_camera.OpenConnections() == 0; }, 3000));
    EXPECT_NE("", JournalLine("Frames: "));
}

TEST_F(StreamTest, BrokenPluginIsSaidOnThePicture)
{
    HANDLE hFile = CreateFileW(m_folder.File(L"mjpeg-http.plugin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    CloseHandle(hFile);
    EXPECT_EQ(0, CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(m_folder.Path().c_str()) }).m_nValue);
    const std::wstring strSession = StartStream(m_pDisp, L"127.0.0.1", L"80", L"1").m_strValue;
    ASSERT_FALSE(strSession.empty());
    EXPECT_EQ(0, PlayForward(m_pDisp, strSession, 1.0f).m_nValue);
    PumpFor(300);
    EXPECT_TRUE(m_sink.m_events.empty());
    // The picture is not the simulated one: its top band is not colour bars.
    RedrawWindow(m_hwndControl, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC hdc = GetDC(m_hwndControl);
    const COLORREF colour = GetPixel(hdc, 160, 4);
    ReleaseDC(m_hwndControl, hdc);
    EXPECT_LT(GetRValue(colour) + GetGValue(colour) + GetBValue(colour), 3 * 64) << std::hex << colour;
}

} // namespace
