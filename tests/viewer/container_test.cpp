// The OLE control container and CDorsaAPICOMViewer, with the stand-in viewer
// control hosted by real dialogs: creation from the template, the calls and
// their journal, results, failures, events and release.
#include <afxwin.h>
#include <afxdialogex.h>
#include <afxdisp.h>

#include "ctltestsupport.h"
#include "dorsaapicomviewer.h"
#include "viewerctlids.h"
#include "viewertestres.h"
#include <childrect.h>
#include <messageboxwatcher.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

#define DVV_WIDEN2(x) L##x
#define DVV_WIDEN(x) DVV_WIDEN2(x)
const wchar_t s_szClsidKey[] = L"CLSID\\" DVV_WIDEN(DORSA_VIEWER_CLSID_TEXT) L"\\InprocServer32";

const char s_szFailDescription[] = "SetPluginPath failed: requested by DORSA_STANDIN_FAIL";

// A dialog hosting the viewer control as the main dialog will: bound with
// DDX_Control, its event connected through the event sink map.
class CViewerTestDlg : public CDialogEx
{
public:
    explicit CViewerTestDlg(UINT nIDTemplate = IDD_VIEWERTEST) : CDialogEx(nIDTemplate) {}

    CDorsaAPICOMViewer m_viewer;
    int m_nInitCalls = 0;
    CString m_strPluginPath = L"C:\\";
    bool m_bCallReturned = false;
    struct CEvent
    {
        CString m_strSession;
        CString m_strTimeStamp;
        DWORD m_dwThreadId;
    };
    std::vector<CEvent> m_events;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        CDialogEx::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_VIEWER, m_viewer);
    }
    BOOL OnInitDialog() override
    {
        ++m_nInitCalls;
        return CDialogEx::OnInitDialog();
    }
    // Called when the Call button is clicked.
    afx_msg void OnCall()
    {
        m_viewer.SetPluginPath(m_strPluginPath);
        m_bCallReturned = true;
    }
    // Called for each time-stamp event of the viewer control.
    void OnDorsaViewerTimeStamp(LPCTSTR SessionID, LPCTSTR TimeStamp)
    {
        m_events.push_back({ SessionID, TimeStamp, ::GetCurrentThreadId() });
    }

    DECLARE_MESSAGE_MAP()
    DECLARE_EVENTSINK_MAP()
};

BEGIN_MESSAGE_MAP(CViewerTestDlg, CDialogEx)
    ON_BN_CLICKED(IDC_VIEWERTEST_CALL, &CViewerTestDlg::OnCall)
END_MESSAGE_MAP()

BEGIN_EVENTSINK_MAP(CViewerTestDlg, CDialogEx)
    ON_EVENT(CViewerTestDlg, IDC_VIEWER, 1, &CViewerTestDlg::OnDorsaViewerTimeStamp, VTS_BSTR VTS_BSTR)
END_EVENTSINK_MAP()

// The DLL's own answer: S_OK once no object of it is alive.
HRESULT ControlCanUnloadNow()
{
    HMODULE hModule = ::GetModuleHandleW(L"dorsaviewerctl.dll");
    if (!hModule)
        return E_FAIL;
    auto pfn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(hModule, "DllCanUnloadNow")));
    return pfn ? pfn() : E_FAIL;
}

std::wstring RegisteredServer(bool* pbFound)
{
    wchar_t szValue[MAX_PATH * 2] = {};
    DWORD cb = sizeof szValue - sizeof(wchar_t);
    *pbFound = ::RegGetValueW(HKEY_CLASSES_ROOT, s_szClsidKey, nullptr, RRF_RT_REG_SZ, nullptr, szValue, &cb) ==
               ERROR_SUCCESS;
    return *pbFound ? szValue : L"";
}

HRESULT CallControlExport(const char* pszName)
{
    auto pfn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(CtlModule(), pszName)));
    return pfn ? pfn() : E_FAIL;
}

CRect DialogUnitsToPixels(HWND hDlg, int x, int y, int cx, int cy)
{
    RECT rc = { x, y, x + cx, y + cy };
    ::MapDialogRect(hDlg, &rc);
    return rc;
}

// UTF-8, as the journal holds text.
std::string Utf8(LPCWSTR psz)
{
    const int cb = ::WideCharToMultiByte(CP_UTF8, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    std::string str(cb > 0 ? cb : 1, '\0');
    if (cb > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, psz, -1, &str[0], cb, nullptr, nullptr);
    str.resize(str.size() - 1);
    return str;
}

std::string Narrow(const CString& str)
{
    return Utf8(str.GetString());
}

// Registers the stand-in control from beside the test program for the whole
// suite and puts back whatever registration there was before.
class ContainerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_strPrevious = RegisteredServer(&s_bHadPrevious);
        ASSERT_NE(nullptr, CtlModule());
        ASSERT_EQ(S_OK, CallControlExport("DllRegisterServer"));
        AfxEnableControlContainer();
    }
    static void TearDownTestSuite()
    {
        if (s_bHadPrevious && lstrcmpiW(s_strPrevious.c_str(), CtlDllPath().c_str()) == 0)
            return;
        CallControlExport("DllUnregisterServer");
        if (s_bHadPrevious) {
            std::wstring strCommand = L"regsvr32.exe /s \"" + s_strPrevious + L"\"";
            STARTUPINFOW si = {};
            si.cb = sizeof si;
            PROCESS_INFORMATION pi = {};
            if (::CreateProcessW(nullptr, &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
                ::WaitForSingleObject(pi.hProcess, 60000);
                ::CloseHandle(pi.hThread);
                ::CloseHandle(pi.hProcess);
            }
        }
    }
    void SetUp() override { ASSERT_EQ(S_OK, ::OleInitialize(nullptr)); }
    void TearDown() override
    {
        m_pJournal.reset();
        ::OleUninitialize();
    }

    // Starts a call journal in a fresh folder for this test.
    void StartJournal()
    {
        m_pJournal.reset(new CJournal);
    }
    std::vector<std::string> JournalLines() const { return ReadLines(m_pJournal->m_folder.File(L"calls.txt")); }
    std::wstring TempPath() const { return m_pJournal->m_folder.Path(); }

private:
    struct CJournal
    {
        CTempFolder m_folder;
        CScopedSwitch m_switch{ L"DORSA_STANDIN_JOURNAL", m_folder.File(L"calls.txt").c_str() };
    };
    std::unique_ptr<CJournal> m_pJournal;
    static std::wstring s_strPrevious;
    static bool s_bHadPrevious;
};
std::wstring ContainerTest::s_strPrevious;
bool ContainerTest::s_bHadPrevious = false;

bool Contains(const std::vector<std::string>& lines, const std::string& strLine)
{
    for (const std::string& str : lines)
        if (str == strLine)
            return true;
    return false;
}

// The index of the first line equal to strLine, or -1.
int IndexOf(const std::vector<std::string>& lines, const std::string& strLine)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == strLine)
            return int(i);
    return -1;
}

} // namespace

// --- Creation from the dialog template ------------------------------------------

TEST_F(ContainerTest, TemplateItemBecomesAChildControlAtItsPlaceWithItsState)
{
    StartJournal();
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    EXPECT_EQ(1, dlg.m_nInitCalls);

    HWND hCtrl = ::GetDlgItem(dlg.m_hWnd, IDC_VIEWER);
    ASSERT_NE(nullptr, hCtrl);
    EXPECT_EQ(dlg.m_hWnd, ::GetParent(hCtrl));
    EXPECT_EQ(DialogUnitsToPixels(dlg.m_hWnd, 7, 7, 272, 192), ChildRect(hCtrl));
    const LONG lStyle = ::GetWindowLongW(hCtrl, GWL_STYLE);
    EXPECT_EQ(LONG(WS_CHILD | WS_VISIBLE | WS_TABSTOP), lStyle & LONG(WS_CHILD | WS_VISIBLE | WS_TABSTOP));

    // Tab order is template order: edit box, viewer, button.
    HWND hEdit = ::GetDlgItem(dlg.m_hWnd, IDC_VIEWERTEST_EDIT);
    EXPECT_EQ(hEdit, ::GetWindow(dlg.m_hWnd, GW_CHILD));
    EXPECT_EQ(hCtrl, ::GetWindow(hEdit, GW_HWNDNEXT));
    EXPECT_EQ(::GetDlgItem(dlg.m_hWnd, IDC_VIEWERTEST_CALL), ::GetWindow(hCtrl, GW_HWNDNEXT));

    // The wrapper is attached to the site; the control's window is not subclassed.
    EXPECT_EQ(hCtrl, dlg.m_viewer.m_hWnd);
    ASSERT_NE(nullptr, dlg.m_viewer.m_pCtrlSite);
    EXPECT_EQ(hCtrl, dlg.m_viewer.m_pCtrlSite->m_hWnd);
    EXPECT_NE(nullptr, dlg.m_viewer.GetControlUnknown());
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hCtrl));

    // The state block reached the control before its events were connected;
    // the other init data record still reached the edit box.
    const std::vector<std::string> lines = JournalLines();
    const int nLoad = IndexOf(lines, "Load extent=10795x8255");
    EXPECT_GE(nLoad, 0);
    EXPECT_GT(IndexOf(lines, "Advise"), nLoad);
    CString strEdit;
    dlg.GetDlgItemText(IDC_VIEWERTEST_EDIT, strEdit);
    EXPECT_STREQ(L"Init", strEdit.GetString());

    EXPECT_TRUE(dlg.DestroyWindow());
}

TEST_F(ContainerTest, PlainTemplateHostsAHiddenControlAfterTheItemBeforeIt)
{
    StartJournal();
    CDialog dlg(IDD_VIEWERTEST_PLAIN);
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST_PLAIN));
    HWND hCtrl = ::GetDlgItem(dlg.m_hWnd, IDC_VIEWER);
    ASSERT_NE(nullptr, hCtrl);
    EXPECT_EQ(DialogUnitsToPixels(dlg.m_hWnd, 10, 25, 150, 100), ChildRect(hCtrl));
    EXPECT_EQ(0, ::GetWindowLongW(hCtrl, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(hCtrl, ::GetWindow(::GetDlgItem(dlg.m_hWnd, IDC_VIEWERTEST_OTHER), GW_HWNDNEXT));
    EXPECT_TRUE(Contains(JournalLines(), "Load extent=10795x8255"));
    dlg.DestroyWindow();
}

TEST_F(ContainerTest, UnregisteredClassFailsTheDialogAndReleasesWhatWasMade)
{
    StartJournal();
    CViewerTestDlg dlg(IDD_VIEWERTEST_UNKNOWN);
    EXPECT_FALSE(dlg.Create(IDD_VIEWERTEST_UNKNOWN));
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_EQ(0, dlg.m_nInitCalls);
    EXPECT_EQ(nullptr, ::FindWindowW(nullptr, L"Viewer Container Unknown"));

    // The viewer control before the unknown item was made, then let go.
    const std::vector<std::string> lines = JournalLines();
    EXPECT_TRUE(Contains(lines, "Advise"));
    EXPECT_TRUE(Contains(lines, "Close"));
    EXPECT_EQ(S_OK, ControlCanUnloadNow());
}

TEST_F(ContainerTest, StateTheControlRefusesFailsTheDialog)
{
    CViewerTestDlg dlg(IDD_VIEWERTEST_BADSTATE);
    EXPECT_FALSE(dlg.Create(IDD_VIEWERTEST_BADSTATE));
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_EQ(S_OK, ControlCanUnloadNow());
}

// --- Calls --------------------------------------------------------------------

TEST_F(ContainerTest, FourCallsReachTheControlWithTheirDispidsArgumentsAndTypes)
{
    StartJournal();
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    CDorsaAPICOMViewer& viewer = dlg.m_viewer;

    const std::wstring strFolder = TempPath();
    EXPECT_EQ(0, viewer.SetPluginPath(strFolder.c_str()));
    const CString strSession = viewer.StartStream(L"NOW", L"INFINITE", L"192.168.1.20", L"80", L"1", NULL, NULL, NULL);
    ASSERT_FALSE(strSession.IsEmpty());
    EXPECT_EQ(0, viewer.PlayForward(strSession, 1.0f));
    EXPECT_EQ(0, viewer.StopStream(strSession));
    dlg.DestroyWindow();

    std::vector<std::string> calls;
    for (const std::string& strLine : JournalLines())
        if (!strLine.empty() && strLine[0] >= '0' && strLine[0] <= '9')
            calls.push_back(strLine);
    const std::string strQuoted = "\"" + Narrow(strSession) + "\"";
    const std::vector<std::string> expected = {
        "1 SetPluginPath(BSTR:\"" + Utf8(strFolder.c_str()) + "\")",
        "2 StartStream(BSTR:\"NOW\", BSTR:\"INFINITE\", BSTR:\"192.168.1.20\", BSTR:\"80\", BSTR:\"1\", "
        "BSTR:null, BSTR:null, BSTR:null)",
        "6 PlayForward(BSTR:" + strQuoted + ", R4:1)",
        "3 StopStream(BSTR:" + strQuoted + ")",
    };
    EXPECT_EQ(expected, calls);
}

TEST_F(ContainerTest, ResultsArriveAsTheControlGivesThem)
{
    StartJournal();
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    CDorsaAPICOMViewer& viewer = dlg.m_viewer;

    // -1 stays -1, whether the control answers it or a switch makes it.
    EXPECT_EQ(-1, viewer.StopStream(L"S-0-unknown"));
    {
        CScopedSwitch result(L"DORSA_STANDIN_RESULT", L"SetPluginPath=-1");
        EXPECT_EQ(-1, viewer.SetPluginPath(TempPath().c_str()));
    }
    {
        CScopedSwitch result(L"DORSA_STANDIN_RESULT", L"PlayForward=-32768");
        EXPECT_EQ(-32768, viewer.PlayForward(L"S-0-unknown", 1.0f));
    }

    // An empty session ID is an empty text, and an empty argument is an
    // empty BSTR, not a null one.
    {
        CScopedSwitch empty(L"DORSA_STANDIN_EMPTY_SESSION", L"1");
        CString strSession = L"stale";
        strSession = viewer.StartStream(L"NOW", L"INFINITE", L"192.168.1.20", L"", L"1", NULL, NULL, NULL);
        EXPECT_TRUE(strSession.IsEmpty());
    }
    EXPECT_TRUE(viewer.StartStream(L"NOW", L"INFINITE", L"0.0.0.0", L"80", L"1", NULL, NULL, NULL).IsEmpty());
    EXPECT_TRUE(Contains(JournalLines(), "2 StartStream(BSTR:\"NOW\", BSTR:\"INFINITE\", BSTR:\"192.168.1.20\", "
                                         "BSTR:\"\", BSTR:\"1\", BSTR:null, BSTR:null, BSTR:null)"));
    dlg.DestroyWindow();
}

TEST_F(ContainerTest, FailingCallThrowsTheDispatchExceptionWithTheControlsDescription)
{
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    CScopedSwitch fail(L"DORSA_STANDIN_FAIL", L"SetPluginPath");
    COleDispatchException* pCaught = nullptr;
    try {
        dlg.m_viewer.SetPluginPath(L"C:\\");
    } catch (COleDispatchException* e) {
        pCaught = e;
    }
    ASSERT_NE(nullptr, pCaught);
    EXPECT_EQ(s_szFailDescription, Narrow(pCaught->m_strDescription));
    EXPECT_EQ(E_FAIL, pCaught->m_scError);
    EXPECT_STREQ(L"DorsaAPICOMViewer", pCaught->m_strSource.GetString());
    wchar_t szMessage[256] = L"";
    EXPECT_TRUE(pCaught->GetErrorMessage(szMessage, 256));
    EXPECT_EQ(s_szFailDescription, Utf8(szMessage));
    pCaught->Delete();
    dlg.DestroyWindow();
}

TEST_F(ContainerTest, ArgumentTheControlCannotTakeThrowsAnOleException)
{
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    short nResult = 0;
    static const BYTE parms[] = VTS_R4;
    SCODE sc = S_OK;
    try {
        dlg.m_viewer.InvokeHelper(DISPID_DORSA_SETPLUGINPATH, DISPATCH_METHOD, VT_I2, &nResult, parms, 2.5f);
    } catch (COleException* e) {
        sc = e->m_sc;
        e->Delete();
    }
    EXPECT_EQ(DISP_E_TYPEMISMATCH, sc);
    dlg.DestroyWindow();
}

TEST_F(ContainerTest, FailingCallInAButtonHandlerShowsTheErrorBoxAndTheProgramGoesOn)
{
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    dlg.ShowWindow(SW_SHOW);
    HWND hButton = ::GetDlgItem(dlg.m_hWnd, IDC_VIEWERTEST_CALL);
    {
        CScopedSwitch fail(L"DORSA_STANDIN_FAIL", L"SetPluginPath");
        MessageBoxWatcher watcher(AfxGetAppName());
        // Returns once the box has been shown and dismissed.
        dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_VIEWERTEST_CALL, BN_CLICKED), LPARAM(hButton));
        watcher.Join();
        EXPECT_TRUE(watcher.m_bFound);
        EXPECT_EQ(s_szFailDescription, Utf8(watcher.m_strText.c_str()));
        EXPECT_FALSE(dlg.m_bCallReturned);
    }
    ASSERT_TRUE(::IsWindow(dlg.m_hWnd));
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_VIEWERTEST_CALL, BN_CLICKED), LPARAM(hButton));
    EXPECT_TRUE(dlg.m_bCallReturned);
    dlg.DestroyWindow();
}

// --- Events -------------------------------------------------------------------

namespace {

// Plays a stream and waits (bounded) for two events; the session it played.
CString PlayAndCollectEvents(CViewerTestDlg& dlg)
{
    CString strSession = dlg.m_viewer.StartStream(L"NOW", L"INFINITE", L"10.0.0.7", L"80", L"2", NULL, NULL, NULL);
    dlg.m_viewer.PlayForward(strSession, 1.0f);
    PumpUntil([&] { return dlg.m_events.size() >= 2; }, kEventWaitMs);
    return strSession;
}

// "YYYY-MM-DD hh:mm:ss.mmm"
bool IsTimeStampText(const CString& str)
{
    const wchar_t szPattern[] = L"0000-00-00 00:00:00.000";
    if (str.GetLength() != int(wcslen(szPattern)))
        return false;
    for (int i = 0; i < str.GetLength(); ++i) {
        const bool bDigit = str[i] >= L'0' && str[i] <= L'9';
        if (szPattern[i] == L'0' ? !bDigit : str[i] != szPattern[i])
            return false;
    }
    return true;
}

} // namespace

TEST_F(ContainerTest, TimeStampEventsReachTheSinkMapHandlerOnTheDialogsThread)
{
    CScopedSwitch rate(L"DORSA_STANDIN_EVENT_MS", L"50");
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    const CString strSession = PlayAndCollectEvents(dlg);
    ASSERT_GE(dlg.m_events.size(), 2u);
    for (const CViewerTestDlg::CEvent& event : dlg.m_events) {
        EXPECT_EQ(strSession, event.m_strSession);
        EXPECT_TRUE(IsTimeStampText(event.m_strTimeStamp)) << Narrow(event.m_strTimeStamp);
        EXPECT_EQ(::GetCurrentThreadId(), event.m_dwThreadId);
    }
    dlg.DestroyWindow();
}

TEST_F(ContainerTest, EventInterfaceIsFoundFromTheTypeInformationWithoutClassInfo2)
{
    CScopedSwitch noInfo2(L"DORSA_STANDIN_NO_CLASSINFO2", L"1");
    CScopedSwitch rate(L"DORSA_STANDIN_EVENT_MS", L"50");
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    IProvideClassInfo2* pInfo2 = nullptr;
    EXPECT_EQ(E_NOINTERFACE, dlg.m_viewer.GetControlUnknown()->QueryInterface(
                                 IID_IProvideClassInfo2, reinterpret_cast<void**>(&pInfo2)));
    EXPECT_EQ(DIID__DDorsaAPICOMViewerEvents, dlg.m_viewer.m_pCtrlSite->m_iidEvents);
    const CString strSession = PlayAndCollectEvents(dlg);
    ASSERT_GE(dlg.m_events.size(), 2u);
    EXPECT_EQ(strSession, dlg.m_events[0].m_strSession);
    dlg.DestroyWindow();
}

TEST(EventSinkMap, ArgumentsAreConvertedInDeclarationOrderAndCheckedAgainstIt)
{
    CViewerTestDlg dlg;   // no window needed: the map is the class's
    VARIANTARG args[2];
    // Last-first: args[1] is the session (a null BSTR), args[0] the time stamp.
    ::VariantInit(&args[1]);
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = nullptr;
    ::VariantInit(&args[0]);
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = ::SysAllocString(L"2026-12-06 03:45:29.123");
    DISPPARAMS params = { args, nullptr, 2, 0 };

    HRESULT hr = E_FAIL;
    EXPECT_TRUE(dlg.DispatchEventToMap(IDC_VIEWER, 1, &params, 0, &hr));
    EXPECT_EQ(S_OK, hr);
    ASSERT_EQ(1u, dlg.m_events.size());
    EXPECT_STREQ(L"", dlg.m_events[0].m_strSession.GetString());
    EXPECT_STREQ(L"2026-12-06 03:45:29.123", dlg.m_events[0].m_strTimeStamp.GetString());

    // One argument short: the handler is not called.
    DISPPARAMS shortParams = { args, nullptr, 1, 0 };
    EXPECT_TRUE(dlg.DispatchEventToMap(IDC_VIEWER, 1, &shortParams, 0, &hr));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, hr);
    // Another control or event has no entry.
    EXPECT_FALSE(dlg.DispatchEventToMap(IDC_VIEWERTEST_EDIT, 1, &params, 0, &hr));
    EXPECT_FALSE(dlg.DispatchEventToMap(IDC_VIEWER, 2, &params, 0, &hr));
    EXPECT_EQ(1u, dlg.m_events.size());
    ::VariantClear(&args[0]);
}

// --- Release ------------------------------------------------------------------

TEST_F(ContainerTest, DestroyingTheDialogUnadvisesClosesAndReleasesTheControl)
{
    StartJournal();
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    const CString strSession = dlg.m_viewer.StartStream(L"NOW", L"INFINITE", L"10.0.0.7", L"80", L"1", NULL, NULL, NULL);
    dlg.m_viewer.PlayForward(strSession, 1.0f);
    EXPECT_EQ(S_FALSE, ControlCanUnloadNow());

    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_EQ(nullptr, dlg.m_viewer.m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_viewer.m_pCtrlSite);
    EXPECT_EQ(S_OK, ControlCanUnloadNow());
    const std::vector<std::string> lines = JournalLines();
    const int nUnadvise = IndexOf(lines, "Unadvise");
    EXPECT_GE(nUnadvise, 0);
    EXPECT_GT(IndexOf(lines, "Close"), nUnadvise);
}

TEST_F(ContainerTest, DeletingTheDialogObjectWithItsWindowReleasesTheControl)
{
    CViewerTestDlg* pDlg = new CViewerTestDlg;
    ASSERT_TRUE(pDlg->Create(IDD_VIEWERTEST));
    HWND hDlg = pDlg->m_hWnd;
    delete pDlg;
    EXPECT_FALSE(::IsWindow(hDlg));
    EXPECT_EQ(S_OK, ControlCanUnloadNow());
}

// --- The wrapper ----------------------------------------------------------------

TEST_F(ContainerTest, WrapperCreateMakesANewControlInTheParent)
{
    StartJournal();
    CDialog dlg(IDD_VIEWERTEST_PLAIN);
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST_PLAIN));
    {
        CDorsaAPICOMViewer viewer;
        const CRect rc(4, 8, 164, 128);
        ASSERT_TRUE(viewer.Create(NULL, L"", WS_CHILD | WS_VISIBLE, rc, &dlg, 2000));
        EXPECT_EQ(dlg.m_hWnd, ::GetParent(viewer.m_hWnd));
        EXPECT_EQ(viewer.m_hWnd, ::GetDlgItem(dlg.m_hWnd, 2000));
        EXPECT_EQ(rc, ChildRect(viewer.m_hWnd));
        EXPECT_EQ(-1, viewer.StopStream(L"none"));
        // Leaving the scope destroys the wrapper, and with it the control.
    }
    EXPECT_EQ(nullptr, ::GetDlgItem(dlg.m_hWnd, 2000));
    EXPECT_TRUE(Contains(JournalLines(), "3 StopStream(BSTR:\"none\")"));
    dlg.DestroyWindow();
    EXPECT_EQ(S_OK, ControlCanUnloadNow());
}

TEST(ViewerWrapper, IsDynamicallyCreatableAndNamesTheControlsClass)
{
    CRuntimeClass* pClass = CRuntimeClass::FromName("CDorsaAPICOMViewer");
    ASSERT_EQ(RUNTIME_CLASS(CDorsaAPICOMViewer), pClass);
    EXPECT_EQ(0xFFFFu, pClass->m_wSchema);
    CObject* pObject = pClass->CreateObject();
    ASSERT_NE(nullptr, pObject);
    EXPECT_TRUE(pObject->IsKindOf(RUNTIME_CLASS(CWnd)));
    delete pObject;

    // The template's braced text and the wrapper's constant are the same class.
    CLSID clsidText;
    ASSERT_EQ(S_OK, ::CLSIDFromString(const_cast<LPOLESTR>(DVV_WIDEN(DORSA_VIEWER_CLSID_TEXT)), &clsidText));
    EXPECT_EQ(clsidText, CDorsaAPICOMViewer::GetClsid());
}

// --- Screenshot -----------------------------------------------------------------

// With DVV_SCREENSHOT_HOLD_MS set, shows the dialog playing a stream for that
// long, so a screenshot can be taken from outside.
TEST_F(ContainerTest, HoldsThePlayingDialogForAScreenshot)
{
    wchar_t szHold[32] = L"";
    if (!::GetEnvironmentVariableW(L"DVV_SCREENSHOT_HOLD_MS", szHold, 32))
        GTEST_SKIP() << "DVV_SCREENSHOT_HOLD_MS is not set";
    CViewerTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_VIEWERTEST));
    dlg.ShowWindow(SW_SHOW);
    const CString strSession =
        dlg.m_viewer.StartStream(L"NOW", L"INFINITE", L"192.168.1.20", L"80", L"1", NULL, NULL, NULL);
    EXPECT_EQ(0, dlg.m_viewer.PlayForward(strSession, 1.0f));
    PumpFor(DWORD(_wtoi(szHold)));
    EXPECT_FALSE(dlg.m_events.empty());
    dlg.DestroyWindow();
}
