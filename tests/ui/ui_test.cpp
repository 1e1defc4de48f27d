// The real viewer, driven from outside: what a user does in the Connection
// panel, and what the log file says about it afterwards.
#include "viewerdriver.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <algorithm>
#include <stdio.h>

namespace {

const wchar_t kClosedCancel[] = L"Main window closed with response id: 2 (0x2)";
const wchar_t kTimeStampEvent[] = L"CDorsaVantixViewerDlg::OnDorsaViewerTimeStamp() values updated: SessionID=\"";
const wchar_t kStartStreamResult[] = L"Call to DorsaAPICOMViewer::StartStream returned session ID: ";

class ViewerUiTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(RegisterViewerControl(true)); }

    // Starts the viewer and waits for its main dialog.
    void Launch(ViewerDriver& driver)
    {
        ASSERT_TRUE(driver.Start());
        ASSERT_NE(nullptr, driver.WaitForMainWindow()) << "the main dialog did not appear";
    }
    // Closes the dialog (close box: Cancel) and checks the run ended cleanly
    // with its closing line written.
    std::vector<std::wstring> CloseAndReadLog(ViewerDriver& driver)
    {
        driver.Close();
        EXPECT_EQ(0u, driver.WaitForExit());
        std::vector<std::wstring> lines = driver.LogLines();
        EXPECT_FALSE(lines.empty());
        if (!lines.empty()) {
            EXPECT_EQ(kClosedCancel, lines.back());
        }
        return lines;
    }
    // Connects to a plausible camera with the working folder as plug-in directory.
    void Connect(ViewerDriver& driver, BYTE b3 = 20)
    {
        driver.SetText(1003, driver.Folder());
        driver.SetAddress(192, 168, 1, b3);
        driver.Click(1008);
    }
};

std::vector<std::wstring> Without(std::vector<std::wstring> lines, const std::wstring& prefix)
{
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::wstring& l) { return l.compare(0, prefix.size(), prefix) == 0; }),
                lines.end());
    return lines;
}

std::vector<std::wstring> From(const std::vector<std::wstring>& lines, const std::wstring& prefix)
{
    auto it = std::find_if(lines.begin(), lines.end(),
                           [&](const std::wstring& l) { return l.compare(0, prefix.size(), prefix) == 0; });
    return std::vector<std::wstring>(it, lines.end());
}

// How far the log file's newest whole line lags behind now, in ms (-1 when
// there is no stamped line yet): its stamp is the local time the line was logged.
double NewestLineLagMs(const std::string& bytes)
{
    size_t end = bytes.rfind("\r\n");
    size_t start = end == std::string::npos ? std::string::npos : bytes.rfind("\r\n", end - 1);
    start = start == std::string::npos ? 0 : start + 2;
    SYSTEMTIME st = {};
    unsigned ms = 0, fraction = 0;
    if (end == std::string::npos ||
        sscanf(bytes.c_str() + start, "[%hu-%hu-%hu %hu:%hu:%hu (+%u.%u ms)]", &st.wYear, &st.wMonth, &st.wDay,
               &st.wHour, &st.wMinute, &st.wSecond, &ms, &fraction) != 8)
        return -1;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FILETIME ftStamp, ftNow;
    ::SystemTimeToFileTime(&st, &ftStamp);
    ::SystemTimeToFileTime(&now, &ftNow);
    auto ticks = [](const FILETIME& ft) { return LONGLONG((ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime); };
    return double(ticks(ftNow) - ticks(ftStamp)) / 10000.0 - ms - fraction / 10000.0;
}

std::wstring SessionOf(const std::wstring& resultLine) { return resultLine.substr(wcslen(kStartStreamResult)); }

int Count(const std::vector<std::wstring>& lines, const std::wstring& prefix)
{
    return int(std::count_if(lines.begin(), lines.end(),
                             [&](const std::wstring& l) { return l.compare(0, prefix.size(), prefix) == 0; }));
}

} // namespace

TEST_F(ViewerUiTest, StartsWithHeaderLinesAndDefaults)
{
    ViewerDriver driver;
    Launch(driver);
    EXPECT_EQ(L"80", driver.GetText(1004));
    EXPECT_EQ(L"1", driver.GetText(1006));
    EXPECT_EQ(L"0.0.0.0", driver.GetText(1007));
    std::wstring plugin = driver.GetText(1003);
    EXPECT_NE(std::wstring::npos, plugin.find(L"\\Dorsa\\API\\Libs\\Debug\\")) << plugin;
    EXPECT_EQ(L'\\', plugin.back());
    EXPECT_NE(nullptr, driver.FindProcessWindow(L"Starting Dorsa Vantix Viewer..."));

    std::vector<std::wstring> lines = CloseAndReadLog(driver);
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ(0u, lines[0].find(L"Created log file: ")) << lines[0];
    EXPECT_NE(std::wstring::npos, lines[0].find(L"\\Dorsa Vantix Viewer ")) << lines[0];
    wchar_t pid[64];
    swprintf(pid, 64, L"Current Process ID: %lu (0x%lx)", driver.ProcessId(), driver.ProcessId());
    EXPECT_EQ(pid, lines[1]);
    EXPECT_EQ(0u, lines[2].find(L"Current Time Zone: ")) << lines[2];
    EXPECT_NE(std::wstring::npos, lines[2].find(L" (Bias = ")) << lines[2];
    EXPECT_EQ(L"Creating main window dialog...", lines[3]);
    EXPECT_EQ(L"CDorsaVantixViewerDlg::OnInitDialog() called.", lines[4]);
    EXPECT_EQ(L"CDorsaVantixViewerDlg::OnInitDialog() completed.", lines[5]);
    EXPECT_EQ(L"CDorsaVantixViewerDlg::DestroyWindow() called.", lines[6]);
}

TEST_F(ViewerUiTest, ConnectStartsPlaysAndLogsTimeStampEvents)
{
    ViewerDriver driver(ViewerEnv{ { L"DORSA_STANDIN_EVENT_MS", L"200" } });
    Launch(driver);
    driver.SetText(1004, L"8080");
    driver.SetText(1006, L"3");
    Connect(driver);
    ASSERT_GE(driver.WaitForLogLines(kTimeStampEvent, 2), 2);
    TakeScreenshot(L"viewer-playing");
    driver.Click(1009);
    ASSERT_EQ(1, driver.WaitForLogLines(L"Call to DorsaAPICOMViewer::StopStream", 1));
    std::vector<std::wstring> lines = Without(CloseAndReadLog(driver), kTimeStampEvent);

    std::vector<std::wstring> connect = From(lines, L"Setting Dorsa plugin path: ");
    ASSERT_EQ(12u, connect.size());
    EXPECT_EQ(L"Setting Dorsa plugin path: " + driver.Folder(), connect[0]);
    EXPECT_EQ(L"Calling DorsaAPICOMViewer::StartStream(...):", connect[1]);
    EXPECT_EQ(L"    CameraIP=192.168.1.20", connect[2]);
    EXPECT_EQ(L"    Port=8080", connect[3]);
    EXPECT_EQ(L"    Channel=3", connect[4]);
    ASSERT_EQ(0u, connect[5].find(kStartStreamResult));
    std::wstring session = SessionOf(connect[5]);
    EXPECT_FALSE(session.empty());
    EXPECT_EQ(L"Calling DorsaAPICOMViewer::PlayForward(\"" + session + L"\", 1.0f)", connect[6]);
    EXPECT_EQ(L"Call to DorsaAPICOMViewer::PlayForward(...) returned: 0", connect[7]);
    EXPECT_EQ(L"Calling DorsaAPICOMViewer::StopStream(\"" + session + L"\")", connect[8]);
    EXPECT_EQ(L"Call to DorsaAPICOMViewer::StopStream(...) returned: 0", connect[9]);

    // The events name the playing session; the control got exactly these calls.
    std::vector<std::wstring> all = driver.LogLines();
    std::vector<std::wstring> events = From(all, kTimeStampEvent);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(0u, events[0].find(kTimeStampEvent + session + L"\", TimeStamp=\"")) << events[0];
    std::vector<std::string> journal = driver.Journal();
    std::string s(session.begin(), session.end());
    std::string folder(driver.Folder().begin(), driver.Folder().end());
    std::vector<std::string> calls;
    for (const std::string& j : journal)
        if (isdigit(static_cast<unsigned char>(j[0])))
            calls.push_back(j);
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ("1 SetPluginPath(BSTR:\"" + folder + "\")", calls[0]);
    EXPECT_EQ("2 StartStream(BSTR:\"NOW\", BSTR:\"INFINITE\", BSTR:\"192.168.1.20\", BSTR:\"8080\", BSTR:\"3\", "
              "BSTR:null, BSTR:null, BSTR:null)", calls[1]);
    EXPECT_EQ("6 PlayForward(BSTR:\"" + s + "\", R4:1)", calls[2]);
    EXPECT_EQ("3 StopStream(BSTR:\"" + s + "\")", calls[3]);
}

TEST_F(ViewerUiTest, DisconnectBeforeConnectDoesNothing)
{
    ViewerDriver driver;
    Launch(driver);
    driver.Click(1009);
    std::vector<std::wstring> lines = CloseAndReadLog(driver);
    EXPECT_EQ(0, Count(lines, L"Calling DorsaAPICOMViewer::"));
    EXPECT_EQ(8u, lines.size());
}

TEST_F(ViewerUiTest, ConnectTwiceStopsTheFirstSessionFirst)
{
    ViewerDriver driver;
    Launch(driver);
    Connect(driver, 20);
    ASSERT_EQ(1, driver.WaitForLogLines(L"Call to DorsaAPICOMViewer::PlayForward", 1));
    Connect(driver, 21);
    ASSERT_EQ(2, driver.WaitForLogLines(L"Call to DorsaAPICOMViewer::PlayForward", 2));
    std::vector<std::wstring> lines = Without(CloseAndReadLog(driver), kTimeStampEvent);

    std::vector<std::wstring> results = From(lines, kStartStreamResult);
    ASSERT_GE(results.size(), 5u);
    std::wstring first = SessionOf(results[0]);
    std::vector<std::wstring> second = From(std::vector<std::wstring>(results.begin() + 1, results.end()),
                                            L"Calling DorsaAPICOMViewer::StopStream");
    ASSERT_GE(second.size(), 4u);
    EXPECT_EQ(L"Calling DorsaAPICOMViewer::StopStream(\"" + first + L"\")", second[0]);
    EXPECT_EQ(L"Call to DorsaAPICOMViewer::StopStream(...) returned: 0", second[1]);
    EXPECT_EQ(0u, second[2].find(L"Setting Dorsa plugin path: "));
    EXPECT_EQ(1, Count(lines, L"Calling DorsaAPICOMViewer::StopStream"));
    std::vector<std::wstring> secondResult = From(second, kStartStreamResult);
    ASSERT_FALSE(secondResult.empty());
    EXPECT_NE(first, SessionOf(secondResult[0]));
    EXPECT_EQ(1, Count(lines, L"    CameraIP=192.168.1.21"));
}

TEST_F(ViewerUiTest, DisconnectTwiceStopsTheSameSessionTwice)
{
    ViewerDriver driver;
    Launch(driver);
    Connect(driver);
    driver.Click(1009);
    driver.Click(1009);
    ASSERT_EQ(2, driver.WaitForLogLines(L"Call to DorsaAPICOMViewer::StopStream", 2));
    std::vector<std::wstring> lines = Without(CloseAndReadLog(driver), kTimeStampEvent);
    std::wstring session = SessionOf(From(lines, kStartStreamResult).at(0));
    std::vector<std::wstring> stops = From(lines, L"Calling DorsaAPICOMViewer::StopStream");
    ASSERT_GE(stops.size(), 4u);
    EXPECT_EQ(L"Calling DorsaAPICOMViewer::StopStream(\"" + session + L"\")", stops[0]);
    EXPECT_EQ(L"Call to DorsaAPICOMViewer::StopStream(...) returned: 0", stops[1]);
    EXPECT_EQ(L"Calling DorsaAPICOMViewer::StopStream(\"" + session + L"\")", stops[2]);
    // The control forgot the session at the first stop.
    EXPECT_EQ(L"Call to DorsaAPICOMViewer::StopStream(...) returned: -1", stops[3]);
}

TEST_F(ViewerUiTest, EmptySessionIdIsKeptPlayedAndNotStopped)
{
    ViewerDriver driver(ViewerEnv{ { L"DORSA_STANDIN_EMPTY_SESSION", L"1" } });
    Launch(driver);
    Connect(driver);
    ASSERT_EQ(1, driver.WaitForLogLines(L"Call to DorsaAPICOMViewer::PlayForward", 1));
    driver.Click(1009);
    std::vector<std::wstring> lines = CloseAndReadLog(driver);
    EXPECT_EQ(1, Count(lines, L"Call to DorsaAPICOMViewer::StartStream returned session ID: "));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"Call to DorsaAPICOMViewer::StartStream returned session ID: "));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"Calling DorsaAPICOMViewer::PlayForward(\"\", 1.0f)"));
    EXPECT_EQ(0, Count(lines, L"Calling DorsaAPICOMViewer::StopStream"));
}

TEST_F(ViewerUiTest, FailingControlCallShowsTheErrorBoxAndTheProgramGoesOn)
{
    ViewerDriver driver(ViewerEnv{ { L"DORSA_STANDIN_FAIL", L"StartStream" } });
    Launch(driver);
    Connect(driver);
    BoxSeen box = DismissBox(driver, L"Dorsa Vantix Viewer");
    ASSERT_TRUE(box.bFound);
    EXPECT_NE(std::wstring::npos, box.text.find(L"StartStream failed")) << box.text;

    // Still alive: Disconnect runs (no session kept), the dialog closes normally.
    driver.Click(1009);
    std::vector<std::wstring> lines = CloseAndReadLog(driver);
    EXPECT_EQ(1, Count(lines, L"Calling DorsaAPICOMViewer::StartStream(...):"));
    EXPECT_EQ(0, Count(lines, kStartStreamResult));
    EXPECT_EQ(0, Count(lines, L"Calling DorsaAPICOMViewer::StopStream"));
}

TEST_F(ViewerUiTest, BlankAddressIsSentAsZeros)
{
    ViewerDriver driver;
    Launch(driver);
    driver.Click(1008);
    ASSERT_EQ(1, driver.WaitForLogLines(kStartStreamResult, 1));
    std::vector<std::wstring> lines = CloseAndReadLog(driver);
    EXPECT_EQ(1, Count(lines, L"    CameraIP=0.0.0.0"));
    // The control refuses 0.0.0.0 with an empty session ID.
    EXPECT_EQ(1, Count(lines, L"Call to DorsaAPICOMViewer::StartStream returned session ID: "));
}

TEST_F(ViewerUiTest, ClosingWhilePlayingStopsNothing)
{
    ViewerDriver driver(ViewerEnv{ { L"DORSA_STANDIN_EVENT_MS", L"100" } });
    Launch(driver);
    Connect(driver);
    ASSERT_GE(driver.WaitForLogLines(kTimeStampEvent, 1), 1);
    std::vector<std::wstring> lines = Without(CloseAndReadLog(driver), kTimeStampEvent);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(L"Call to DorsaAPICOMViewer::PlayForward(...) returned: 0", lines[lines.size() - 3]);
    EXPECT_EQ(L"CDorsaVantixViewerDlg::DestroyWindow() called.", lines[lines.size() - 2]);
    EXPECT_EQ(0, Count(lines, L"Calling DorsaAPICOMViewer::StopStream"));
}

TEST_F(ViewerUiTest, AboutBoxFromTheSystemMenu)
{
    ViewerDriver driver;
    Launch(driver);
    HWND hMain = driver.WaitForMainWindow();
    ::PostMessageW(hMain, WM_SYSCOMMAND, 0x0010, 0);
    HWND hAbout = NULL;
    for (int i = 0; i < 200 && !hAbout; ++i, ::Sleep(50))
        hAbout = driver.FindProcessWindow(L"About Dorsa Vantix Viewer", L"#32770");
    ASSERT_NE(nullptr, hAbout);
    EXPECT_FALSE(::IsWindowEnabled(hMain));   // modal to the main dialog
    ::PostMessageW(hAbout, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 200 && ::IsWindow(hAbout); ++i)
        ::Sleep(50);
    EXPECT_FALSE(::IsWindow(hAbout));
    CloseAndReadLog(driver);
}

TEST_F(ViewerUiTest, UnregisteredControlMeansNoDialogAndAClosingLine)
{
    ASSERT_TRUE(RegisterViewerControl(false));
    ViewerDriver driver;
    bool bStarted = driver.Start();
    DWORD dwExit = bStarted ? driver.WaitForExit() : STILL_ACTIVE;
    ASSERT_TRUE(RegisterViewerControl(true));
    ASSERT_TRUE(bStarted);
    EXPECT_EQ(0u, dwExit);
    std::vector<std::wstring> lines = driver.LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"Main window closed with response id: -1 (0xffffffff)", lines.back());
    EXPECT_EQ(0, Count(lines, L"CDorsaVantixViewerDlg::OnInitDialog() called."));
}

namespace {

// Plays a stream whose control raises nPerTick events every nPeriodMs for
// dwPlayMs, reading the log file about once a second, then ends the dialog
// with OK: the file grows at every reading, every event raised has its
// line, and the closing line is there. How far behind the newest line was
// is printed, not asserted: it is a speed.
void CheckTheLogKeepsUp(int nPeriodMs, int nPerTick, DWORD dwPlayMs)
{
    ViewerDriver driver(ViewerEnv{ { L"DORSA_STANDIN_EVENT_MS", std::to_wstring(nPeriodMs) },
                                   { L"DORSA_STANDIN_EVENTS_PER_TICK", std::to_wstring(nPerTick) } });
    ASSERT_TRUE(driver.Start());
    ASSERT_NE(nullptr, driver.WaitForMainWindow());
    driver.SetText(1003, driver.Folder());
    driver.SetAddress(192, 168, 1, 20);
    driver.Click(1008);
    ASSERT_GE(driver.WaitForLogLines(kTimeStampEvent, 1), 1);

    std::vector<double> lags;
    std::vector<size_t> sizes;
    const DWORD dwStart = ::GetTickCount();
    while (::GetTickCount() - dwStart < dwPlayMs) {
        ::Sleep(1000);
        const std::string bytes = driver.LogBytes();
        lags.push_back(NewestLineLagMs(bytes));
        sizes.push_back(bytes.size());
    }
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    ::GetProcessMemoryInfo(driver.Process(), &pmc, sizeof pmc);
    ::PostMessageW(driver.MainWindow(), WM_COMMAND, IDOK, 0);
    ASSERT_EQ(0u, driver.WaitForExit(30000));

    std::vector<std::wstring> lines = driver.LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"Main window closed with response id: 1 (0x1)", lines.back());
    const std::wstring session = SessionOf(From(lines, kStartStreamResult).at(0));
    std::string raised;
    for (const std::string& j : driver.Journal())
        if (j.compare(0, 15, "Events raised: ") == 0 &&
            j.find(" for session " + std::string(session.begin(), session.end())) != std::string::npos)
            raised = j.substr(15, j.find(' ', 15) - 15);
    ASSERT_FALSE(raised.empty()) << "the control did not count its events";
    const int nRaised = std::stoi(raised);
    EXPECT_EQ(nRaised, Count(lines, kTimeStampEvent));
    // A real load: at least a quarter of what was asked for.
    EXPECT_GE(nRaised, int(dwPlayMs / 4 / nPeriodMs * nPerTick));

    ASSERT_GE(lags.size(), size_t(dwPlayMs / 1000 - 2));
    for (size_t i = 0; i < lags.size(); ++i) {
        EXPECT_GE(lags[i], -50.0) << "sample " << i;   // a stamped line was there, not from the future
        if (i > 0) {
            EXPECT_GT(sizes[i], sizes[i - 1]) << "sample " << i;   // the log kept up: it never stood still
        }
    }
    printf("%d events in %lu ms; the newest line at most %.0f ms behind; the viewer's working set %.0f MB\n",
           nRaised, dwPlayMs, *std::max_element(lags.begin(), lags.end()), pmc.WorkingSetSize / 1048576.0);
}

} // namespace

TEST_F(ViewerUiTest, TheLogKeepsUpWithAThousandEventsASecond) { CheckTheLogKeepsUp(10, 10, 20000); }

TEST_F(ViewerUiTest, TheLogKeepsUpWithThirtyEventsASecond) { CheckTheLogKeepsUp(33, 1, 20000); }
