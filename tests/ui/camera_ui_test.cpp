// The real viewer with the mjpeg-http plug-in, watching the simulated camera
// on 127.0.0.1: one log line per picture, then Disconnect and the closing line.
#include "viewerdriver.h"

#include "simcamera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

const wchar_t kTimeStampEvent[] = L"CDorsaVantixViewerDlg::OnDorsaViewerTimeStamp() values updated: SessionID=\"";
const wchar_t kStartStreamResult[] = L"Call to DorsaAPICOMViewer::StartStream returned session ID: ";

class CameraUiTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(RegisterViewerControl(true)); }

    // Starts the camera at 25 pictures a second and the viewer, puts the
    // plug-in in the run's folder, and connects to 127.0.0.1 at the camera's port.
    void LaunchAndConnect(ViewerDriver& driver, CSimCamera::Fault fault)
    {
        CSimCamera::COptions options;
        options.m_nFps = 25;
        options.m_fault = fault;
        ASSERT_TRUE(m_camera.Start(options));
        ASSERT_TRUE(driver.Start());
        ASSERT_NE(nullptr, driver.WaitForMainWindow());
        const std::string strPlugin = "url=http://{ip}:{port}/video{channel}.mjpg\r\n";
        FILE* pFile = _wfopen((driver.Folder() + L"\\mjpeg-http.plugin").c_str(), L"wb");
        ASSERT_NE(nullptr, pFile);
        fwrite(strPlugin.data(), 1, strPlugin.size(), pFile);
        fclose(pFile);
        driver.SetText(1003, driver.Folder());
        driver.SetAddress(127, 0, 0, 1);
        driver.SetText(1004, std::to_wstring(m_camera.Port()));
        driver.Click(1008);
    }

    CSimCamera m_camera;
};

// Waits until the log popup's text holds text: the logging thread has caught up.
bool WaitForPopupText(const ViewerDriver& driver, const std::wstring& text, DWORD dwTimeoutMs = 60000)
{
    const ULONGLONG nDeadline = ::GetTickCount64() + dwTimeoutMs;
    do {
        HWND hEdit = ::GetDlgItem(driver.FindProcessWindow(L"Starting Dorsa Vantix Viewer..."), 1001);
        const LRESULT cch = hEdit ? ::SendMessageW(hEdit, WM_GETTEXTLENGTH, 0, 0) : 0;
        std::wstring shown(static_cast<size_t>(cch) + 1, L'\0');
        if (cch > 0)
            ::SendMessageW(hEdit, WM_GETTEXT, shown.size(), reinterpret_cast<LPARAM>(&shown[0]));
        if (shown.find(text) != std::wstring::npos)
            return true;
        ::Sleep(100);
    } while (::GetTickCount64() < nDeadline);
    return false;
}

// Dark pixels in the rectangle of the screen: text drawn there.
int InkOnScreen(const RECT& rc)
{
    const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0)
        return 0;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = -cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* pBits = nullptr;
    HDC hdcScreen = ::GetDC(NULL);
    HDC hdcMem = ::CreateCompatibleDC(hdcScreen);
    HBITMAP hbm = ::CreateDIBSection(hdcScreen, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
    HGDIOBJ hOld = ::SelectObject(hdcMem, hbm);
    ::BitBlt(hdcMem, 0, 0, cx, cy, hdcScreen, rc.left, rc.top, SRCCOPY);
    ::GdiFlush();
    int nInk = 0;
    const BYTE* pb = static_cast<const BYTE*>(pBits);
    for (int i = 0; pb && i < cx * cy; ++i, pb += 4)
        nInk += pb[0] + pb[1] + pb[2] < 3 * 96;
    ::SelectObject(hdcMem, hOld);
    ::DeleteObject(hbm);
    ::DeleteDC(hdcMem);
    ::ReleaseDC(NULL, hdcScreen);
    return nInk;
}

std::vector<std::wstring> StartingWith(const std::vector<std::wstring>& lines, const std::wstring& prefix)
{
    std::vector<std::wstring> found;
    for (const std::wstring& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
    return found;
}

} // namespace

TEST_F(CameraUiTest, TenSecondsOfTheCameraLogOneLinePerPicture)
{
    ViewerDriver driver;
    LaunchAndConnect(driver, CSimCamera::FAULT_NONE);
    ASSERT_GE(driver.WaitForLogLines(kTimeStampEvent, 1), 1);
    // Ten seconds' worth of pictures, counted rather than timed: the emulated
    // PC that runs the 32-bit build makes them more slowly.
    const ULONG nSentBefore = m_camera.FramesSent();
    const ULONGLONG nDeadline = ::GetTickCount64() + ViewerDriver::kWaitMs;
    while (m_camera.FramesSent() - nSentBefore < 250 && ::GetTickCount64() < nDeadline)
        ::Sleep(100);
    TakeScreenshot(L"viewer-camera");
    const ULONG nSentDuring = m_camera.FramesSent() - nSentBefore;
    driver.Click(1009);
    ASSERT_EQ(1, driver.WaitForLogLines(L"Call to DorsaAPICOMViewer::StopStream", 1));
    // The popup shows each line more slowly than pictures come; the program
    // waits only 5 s for its logging thread at the end, so let it catch up.
    EXPECT_TRUE(WaitForPopupText(driver, L"StopStream(...) returned: 0"));
    driver.Close();
    EXPECT_EQ(0u, driver.WaitForExit());
    const std::vector<std::wstring> lines = driver.LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"Main window closed with response id: 2 (0x2)", lines.back());

    const std::vector<std::wstring> results = StartingWith(lines, kStartStreamResult);
    ASSERT_EQ(1u, results.size());
    const std::wstring session = results[0].substr(wcslen(kStartStreamResult));
    const std::vector<std::wstring> events = StartingWith(lines, kTimeStampEvent);
    // One line per picture shown (checked against the control's own count
    // below); how many of the camera's pictures a slow machine can show is
    // streambench's to measure, not this test's.
    EXPECT_GE(nSentDuring, 250u);
    EXPECT_LE(events.size(), m_camera.FramesSent());
    std::wstring previous;
    for (const std::wstring& event : events) {
        ASSERT_EQ(0u, event.find(kTimeStampEvent + session + L"\", TimeStamp=\"")) << event;
        const std::wstring stamp = event.substr(event.size() - 24, 23);
        EXPECT_LE(previous, stamp) << event; // pictures that came in one read share their time
        previous = stamp;
    }
    // Disconnect comes after the last picture's line, then the dialog's end.
    auto itStop = std::find(lines.begin(), lines.end(), L"Calling DorsaAPICOMViewer::StopStream(\"" + session + L"\")");
    ASSERT_NE(lines.end(), itStop);
    EXPECT_EQ(L"Call to DorsaAPICOMViewer::StopStream(...) returned: 0", *(itStop + 1));
    EXPECT_TRUE(StartingWith(std::vector<std::wstring>(itStop, lines.end()), kTimeStampEvent).empty());

    // The control drew each picture it raised an event for.
    const std::vector<std::string> journal = driver.Journal();
    const std::string sessionA(session.begin(), session.end());
    auto itFrames = std::find_if(journal.begin(), journal.end(),
                                 [](const std::string& line) { return line.compare(0, 8, "Frames: ") == 0; });
    ASSERT_NE(journal.end(), itFrames);
    unsigned nReceived = 0, nShown = 0;
    ASSERT_EQ(2, sscanf(itFrames->c_str(), "Frames: received %u, shown %u", &nReceived, &nShown)) << *itFrames;
    EXPECT_EQ(events.size(), nShown);
}

// The popup stays readable while a camera's pictures are logged: pictures of
// it taken ten times a second are never blank and show the log from its first
// line, and the file has a line for every picture shown.
TEST_F(CameraUiTest, ThePopupIsNeverBlankWhileTheCameraPlays)
{
    ViewerDriver driver;
    LaunchAndConnect(driver, CSimCamera::FAULT_NONE);
    ASSERT_GE(driver.WaitForLogLines(kTimeStampEvent, 1), 1);
    const HWND hEdit = ::GetDlgItem(driver.FindProcessWindow(L"Starting Dorsa Vantix Viewer..."), 1001);
    ASSERT_NE(HWND(NULL), hEdit);
    RECT rcText;
    ::GetClientRect(hEdit, &rcText);
    ::MapWindowPoints(hEdit, NULL, reinterpret_cast<POINT*>(&rcText), 2);
    int nPictures = 0, nBlank = 0, nScrolled = 0;
    // 20 s and at least 50 pictures: a slow machine (the emulated PC) takes
    // longer to read the screen.
    for (const ULONGLONG nEnd = ::GetTickCount64() + 20000; ::GetTickCount64() < nEnd || nPictures < 50; ++nPictures) {
        // Text, not an empty or a filled box.
        const int nInk = InkOnScreen(rcText);
        nBlank += nInk == 0 || nInk > (rcText.right - rcText.left) * (rcText.bottom - rcText.top) / 3;
        nScrolled += ::SendMessageW(hEdit, EM_GETFIRSTVISIBLELINE, 0, 0) != 0;
        ::Sleep(100);
    }
    TakeScreenshot(L"viewer-camera-popup");
    driver.Click(1009);
    ASSERT_EQ(1, driver.WaitForLogLines(L"Call to DorsaAPICOMViewer::StopStream", 1));
    driver.Close();
    EXPECT_EQ(0u, driver.WaitForExit());
    EXPECT_EQ(0, nBlank) << "of " << nPictures << " pictures";
    EXPECT_EQ(0, nScrolled) << "of " << nPictures << " pictures";

    const std::vector<std::wstring> lines = driver.LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"Main window closed with response id: 2 (0x2)", lines.back());
    const std::vector<std::string> journal = driver.Journal();
    auto itFrames = std::find_if(journal.begin(), journal.end(),
                                 [](const std::string& line) { return line.compare(0, 8, "Frames: ") == 0; });
    ASSERT_NE(journal.end(), itFrames);
    unsigned nReceived = 0, nShown = 0;
    ASSERT_EQ(2, sscanf(itFrames->c_str(), "Frames: received %u, shown %u", &nReceived, &nShown)) << *itFrames;
    EXPECT_GT(nShown, 0u);
    EXPECT_EQ(StartingWith(lines, kTimeStampEvent).size(), nShown);
}

TEST_F(CameraUiTest, ClosingWhileTheCameraStallsExitsPromptly)
{
    ViewerDriver driver;
    LaunchAndConnect(driver, CSimCamera::FAULT_SILENT);
    ASSERT_EQ(1, driver.WaitForLogLines(L"Call to DorsaAPICOMViewer::PlayForward", 1));
    for (int i = 0; i < 100 && m_camera.OpenConnections() == 0; ++i)
        ::Sleep(20);
    ASSERT_GT(m_camera.OpenConnections(), 0u);
    const ULONGLONG nStart = ::GetTickCount64();
    driver.Close();
    EXPECT_EQ(0u, driver.WaitForExit(10000));
    EXPECT_LT(::GetTickCount64() - nStart, 5000u);
    EXPECT_EQ(L"Main window closed with response id: 2 (0x2)", driver.LogLines().back());
}
