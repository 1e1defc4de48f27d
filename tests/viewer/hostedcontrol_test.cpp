// The OLE control container with controls that ask more of it than the
// stand-in does: the sites a control written elsewhere asks for, a control
// invisible at run time, property puts, keys, places, event arguments of
// other types than the handlers declare (and in other locales), events while
// the dialog is made, every form of saved state, licensed controls, and
// controls that misbehave. The control is the tests' own (testcontrol.h),
// made in this process.
#include <afxwin.h>
#include <afxdialogex.h>
#include <afxdisp.h>

#include "testcontrol.h"
#include "viewertestres.h"
#include <childrect.h>
#include <messageboxwatcher.h>
#include <pumpmessages.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A dialog hosting the test control from its template, bound with
// DDX_Control, with a handler for each event the tests raise. OK is counted,
// not acted on.
class CHostTestDlg : public CDialogEx
{
public:
    CHostTestDlg() : CDialogEx(IDD_HOSTTEST) {}

    // Creates the dialog from template nIDTemplate with initData as its init data.
    BOOL CreateWithInitData(UINT nIDTemplate, const std::vector<BYTE>& initData)
    {
        m_lpszTemplateName = MAKEINTRESOURCEW(nIDTemplate);
        LPCDLGTEMPLATE pTemplate = LoadTemplate();
        m_lpDialogInit = initData.data();
        m_dwDialogInitSize = DWORD(initData.size());
        return pTemplate && CreateIndirect(pTemplate);
    }

    CWnd m_ctl;
    std::vector<std::wstring> m_log;
    bool m_bTemporaryHeld = false;
    bool m_bInitDone = false;
    int m_nOK = 0;
    int m_nActivated = 0;   // handler calls for the activation event, however they end
    static int s_nPings;   // counted outside the object, which may be gone

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        CDialogEx::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_TESTCTL, m_ctl);
    }
    BOOL OnInitDialog() override
    {
        const BOOL bResult = CDialogEx::OnInitDialog();
        m_bInitDone = true;
        return bResult;
    }
    void OnOK() override { ++m_nOK; }
    // Called for event 1 with a count.
    void OnCount(long nCount) { m_log.push_back(L"Count " + std::to_wstring(nCount)); }
    // Called for event 2 with a text.
    void OnText(LPCTSTR pszText) { m_log.push_back(std::wstring(L"Text ") + pszText); }
    // Called for event 3 with a level.
    void OnLevel(long nLevel) { m_log.push_back(L"Level " + std::to_wstring(nLevel)); }
    // Called for event 4 with one argument of each remaining handler type.
    void OnMixed(short n, BOOL b, float f, double d)
    {
        wchar_t sz[96];
        swprintf(sz, 96, L"Mixed %d %d %g %g", n, b, double(f), d);
        m_log.push_back(sz);
    }
    // Called for event 5: always fails.
    void OnFail() { AfxThrowNotSupportedException(); }
    // Called for event 6.
    void OnPing() { ++s_nPings; }
    // Called for event 7: holds a temporary window object across a message
    // that the framework dispatches meanwhile.
    void OnUseTemporary()
    {
        CWnd* pEdit = GetDlgItem(IDC_VIEWERTEST_EDIT);
        const HWND hEdit = ::GetDlgItem(m_hWnd, IDC_VIEWERTEST_EDIT);
        SendMessage(WM_NULL);
        m_bTemporaryHeld = pEdit && pEdit->m_hWnd == hEdit && CWnd::FromHandle(hEdit) == pEdit;
    }
    // Called for event 8 with a number.
    void OnValue(double d)
    {
        wchar_t sz[48];
        swprintf(sz, 48, L"Value %g", d);
        m_log.push_back(sz);
    }
    // Called for the event the control raises while it activates: asks the control through the wrapper.
    void OnActivated()
    {
        ++m_nActivated;
        CString strCaption = L"unread";
        m_ctl.GetProperty(DISPID_TESTCTL_CAPTION, VT_BSTR, &strCaption);
        m_log.push_back(std::wstring(m_bInitDone ? L"Activated after OnInitDialog" : L"Activated before")
                        + L", caption \"" + strCaption.GetString() + L"\"");
    }

    // Called for event 10: destroys the control's wrapper, and so the control's site.
    void OnDestroyWrapper() { m_ctl.DestroyWindow(); }
    // Called for event 11: destroys the dialog's window, and so every control in it.
    void OnDestroyDialog() { DestroyWindow(); }
    // Called for event 12: deletes the dialog object (made with new) with its window.
    void OnDeleteDialog() { delete this; }

    DECLARE_EVENTSINK_MAP()
};
int CHostTestDlg::s_nPings = 0;

BEGIN_EVENTSINK_MAP(CHostTestDlg, CDialogEx)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 1, &CHostTestDlg::OnCount, VTS_I4)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 2, &CHostTestDlg::OnText, VTS_BSTR)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 3, &CHostTestDlg::OnLevel, VTS_I4)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 4, &CHostTestDlg::OnMixed, VTS_I2 VTS_BOOL VTS_R4 VTS_R8)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 5, &CHostTestDlg::OnFail, VTS_NONE)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 6, &CHostTestDlg::OnPing, VTS_NONE)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 7, &CHostTestDlg::OnUseTemporary, VTS_NONE)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 8, &CHostTestDlg::OnValue, VTS_R8)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, DISPID_TESTEVT_ACTIVATED, &CHostTestDlg::OnActivated, VTS_NONE)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 10, &CHostTestDlg::OnDestroyWrapper, VTS_NONE)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 11, &CHostTestDlg::OnDestroyDialog, VTS_NONE)
    ON_EVENT(CHostTestDlg, IDC_TESTCTL, 12, &CHostTestDlg::OnDeleteDialog, VTS_NONE)
END_EVENTSINK_MAP()

const CTestEvent s_ping = { 6, {} };

bool Contains(const std::vector<std::string>& lines, const std::string& strLine)
{
    return std::find(lines.begin(), lines.end(), strLine) != lines.end();
}

// Calls the control's Raise method through the wrapper; how many it raised.
short Raise(CWnd& ctl)
{
    short nRaised = -1;
    ctl.InvokeHelper(DISPID_TESTCTL_RAISE, DISPATCH_METHOD, VT_I2, &nRaised, reinterpret_cast<const BYTE*>(VTS_NONE));
    return nRaised;
}

template <class T> T* QueryOf(IUnknown* pUnk, REFIID riid)
{
    T* p = nullptr;
    return SUCCEEDED(pUnk->QueryInterface(riid, reinterpret_cast<void**>(&p))) ? p : nullptr;
}

// Reads an ambient property from a control's site, as a control does.
HRESULT GetAmbient(IUnknown* pSite, DISPID dispid, VARIANT* pVar)
{
    ::VariantInit(pVar);
    IDispatch* pAmbient = QueryOf<IDispatch>(pSite, IID_IDispatch);
    if (!pAmbient)
        return E_NOINTERFACE;
    DISPPARAMS noArgs = { nullptr, nullptr, 0, 0 };
    HRESULT hr = pAmbient->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYGET, &noArgs, pVar, nullptr, nullptr);
    pAmbient->Release();
    return hr;
}

// Posts a key message to hWnd and serves it as the dialog's message loop would.
void PressKey(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam = 1)
{
    ::PostMessageW(hWnd, message, wParam, lParam);
    PumpPending();
}

// The frame the control's site gives it (the caller's reference, when
// ppFrame is given) and the place it reports.
HRESULT GetWindowContextOf(IOleClientSite* pSite, IOleInPlaceFrame** ppFrame, RECT* prcPos)
{
    RECT rcClip = {};
    IOleInPlaceSite* pInPlace = QueryOf<IOleInPlaceSite>(pSite, IID_IOleInPlaceSite);
    IOleInPlaceFrame* pFrame = nullptr;
    IOleInPlaceUIWindow* pDoc = nullptr;
    OLEINPLACEFRAMEINFO info = { sizeof info, FALSE, nullptr, nullptr, 0 };
    const HRESULT hr = pInPlace ? pInPlace->GetWindowContext(&pFrame, &pDoc, prcPos, &rcClip, &info) : E_NOINTERFACE;
    if (pDoc)
        pDoc->Release();
    if (pInPlace)
        pInPlace->Release();
    if (ppFrame)
        *ppFrame = pFrame;
    else if (pFrame)
        pFrame->Release();
    return hr;
}

// The place the control's site reports to it.
CRect PlaceInWindowContext(IOleClientSite* pSite)
{
    RECT rcPos = {};
    GetWindowContextOf(pSite, nullptr, &rcPos);
    return rcPos;
}

// Init data with one record for the test control (id, message, length,
// data), and the closing zero id.
std::vector<BYTE> InitData(WORD nMsg, const std::vector<BYTE>& bytes)
{
    const WORD header[] = { IDC_TESTCTL, nMsg, LOWORD(bytes.size()), HIWORD(bytes.size()) };
    std::vector<BYTE> data(reinterpret_cast<const BYTE*>(header), reinterpret_cast<const BYTE*>(header + 4));
    data.insert(data.end(), bytes.begin(), bytes.end());
    data.resize(data.size() + sizeof(WORD));
    return data;
}

std::vector<BYTE> Bytes(const std::string& str) { return std::vector<BYTE>(str.begin(), str.end()); }

// A licensed form's record: the key's length in characters, the key, the state.
std::vector<BYTE> LicensedState(const std::wstring& strKey, const std::vector<BYTE>& state, DWORD cchKey)
{
    std::vector<BYTE> bytes(sizeof cchKey + strKey.size() * sizeof(wchar_t));
    memcpy(bytes.data(), &cchKey, sizeof cchKey);
    memcpy(bytes.data() + sizeof cchKey, strKey.data(), strKey.size() * sizeof(wchar_t));
    bytes.insert(bytes.end(), state.begin(), state.end());
    return bytes;
}

// A compound file holding one stream "Contents" with strText, as a control
// that persists in a storage saves itself.
std::vector<BYTE> StorageImage(const std::string& strText)
{
    std::vector<BYTE> bytes;
    ILockBytes* pBytes = nullptr;
    IStorage* pStg = nullptr;
    IStream* pStm = nullptr;
    if (SUCCEEDED(::CreateILockBytesOnHGlobal(nullptr, TRUE, &pBytes)) &&
        SUCCEEDED(::StgCreateDocfileOnILockBytes(pBytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                                 &pStg)) &&
        SUCCEEDED(pStg->CreateStream(L"Contents", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &pStm))) {
        pStm->Write(strText.data(), ULONG(strText.size()), nullptr);
        pStm->Release();
        pStg->Commit(STGC_DEFAULT);
        pStg->Release();
        pStg = nullptr;
        STATSTG stat = {};
        HGLOBAL hGlobal = nullptr;
        if (SUCCEEDED(pBytes->Stat(&stat, STATFLAG_NONAME)) &&
            SUCCEEDED(::GetHGlobalFromILockBytes(pBytes, &hGlobal))) {
            const BYTE* p = static_cast<const BYTE*>(::GlobalLock(hGlobal));
            bytes.assign(p, p + stat.cbSize.QuadPart);
            ::GlobalUnlock(hGlobal);
        }
    }
    if (pStg)
        pStg->Release();
    if (pBytes)
        pBytes->Release();
    return bytes;
}

// Each test starts with the control's class registered, default behaviour,
// and ends with every control it made gone.
class HostedControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::OleInitialize(nullptr));
        AfxEnableControlContainer();
        m_pClass = new CTestCtlClass;
        ASSERT_EQ(S_OK, m_pClass->m_hr);
        g_testCtlSetup = CTestCtlSetup();
        CHostTestDlg::s_nPings = 0;
    }
    void TearDown() override
    {
        EXPECT_EQ(0, CTestCtl::LiveCount());
        delete m_pClass;
        ::OleUninitialize();
    }

    // Creates dlg from its template and gives the control it hosts.
    static void Host(CHostTestDlg& dlg, CTestCtl** ppCtl)
    {
        ASSERT_TRUE(dlg.Create(IDD_HOSTTEST));
        *ppCtl = CTestCtl::Last();
        ASSERT_NE(nullptr, *ppCtl);
    }

    CTestCtlClass* m_pClass = nullptr;
};

} // namespace

// --- The sites ------------------------------------------------------------------

TEST_F(HostedControlTest, ControlAskingForTheWindowlessSitesFirstActivatesWithAWindow)
{
    g_testCtlSetup.m_dwBehaviour = TCB_ASKS_WINDOWLESS;
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    const std::vector<std::string> expected = { "IOleInPlaceSiteWindowless", "windowed", "OnInPlaceActivateEx" };
    auto it = std::search(pCtl->m_calls.begin(), pCtl->m_calls.end(), expected.begin(), expected.end());
    EXPECT_NE(pCtl->m_calls.end(), it) << ::testing::PrintToString(pCtl->m_calls);
    ASSERT_TRUE(::IsWindow(pCtl->m_hWnd));
    EXPECT_EQ(pCtl->m_hWnd, ::GetDlgItem(dlg.m_hWnd, IDC_TESTCTL));
    EXPECT_EQ(pCtl->m_hWnd, dlg.m_ctl.m_hWnd);
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, SiteAnswersWhatControlsCommonlyAskAsAContainerWould)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    IOleClientSite* pSite = pCtl->m_pSite;
    ASSERT_NE(nullptr, pSite);

    // No services, said cleanly.
    IServiceProvider* pServices = QueryOf<IServiceProvider>(pSite, IID_IServiceProvider);
    ASSERT_NE(nullptr, pServices);
    void* pService = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, pServices->QueryService(IID_IOleInPlaceFrame, IID_IUnknown, &pService));
    EXPECT_EQ(nullptr, pService);
    pServices->Release();

    IOleControlSite* pControlSite = QueryOf<IOleControlSite>(pSite, IID_IOleControlSite);
    ASSERT_NE(nullptr, pControlSite);
    EXPECT_EQ(S_OK, pControlSite->OnFocus(TRUE));
    pControlSite->Release();

    IOleContainer* pContainer = nullptr;
    ASSERT_EQ(S_OK, pSite->GetContainer(&pContainer));
    ASSERT_NE(nullptr, pContainer);
    EXPECT_EQ(S_OK, pContainer->LockContainer(TRUE));
    pContainer->Release();

    // Windowless activation is declined, windowed activation through the Ex site is not.
    IOleInPlaceSiteWindowless* pWindowless = QueryOf<IOleInPlaceSiteWindowless>(pSite, IID_IOleInPlaceSiteWindowless);
    ASSERT_NE(nullptr, pWindowless);
    EXPECT_EQ(S_FALSE, pWindowless->CanWindowlessActivate());
    BOOL fNoRedraw = TRUE;
    EXPECT_TRUE(FAILED(pWindowless->OnInPlaceActivateEx(&fNoRedraw, ACTIVATE_WINDOWLESS)));
    EXPECT_EQ(S_OK, pWindowless->RequestUIActivate());
    HDC hdc = reinterpret_cast<HDC>(1);
    EXPECT_TRUE(FAILED(pWindowless->GetDC(nullptr, 0, &hdc)));
    EXPECT_EQ(nullptr, hdc);

    // The frame is the dialog; a new place the control asks for moves its window.
    IOleInPlaceFrame* pFrame = nullptr;
    IOleInPlaceUIWindow* pDoc = nullptr;
    RECT rcPos, rcClip;
    OLEINPLACEFRAMEINFO info = { sizeof info, FALSE, nullptr, nullptr, 0 };
    ASSERT_EQ(S_OK, pWindowless->GetWindowContext(&pFrame, &pDoc, &rcPos, &rcClip, &info));
    ASSERT_NE(nullptr, pFrame);
    HWND hWndFrame = nullptr;
    EXPECT_EQ(S_OK, pFrame->GetWindow(&hWndFrame));
    EXPECT_EQ(dlg.m_hWnd, hWndFrame);
    pFrame->Release();
    if (pDoc)
        pDoc->Release();
    const RECT rcNew = { 10, 12, 110, 72 };
    EXPECT_EQ(S_OK, pWindowless->OnPosRectChange(&rcNew));
    RECT rcWindow;
    ::GetWindowRect(pCtl->m_hWnd, &rcWindow);
    ::MapWindowPoints(HWND_DESKTOP, dlg.m_hWnd, reinterpret_cast<POINT*>(&rcWindow), 2);
    EXPECT_TRUE(::EqualRect(&rcNew, &rcWindow));
    pWindowless->Release();

    // Ambient properties: the dialog's font as a font object; an unknown one is not there.
    VARIANT var;
    ASSERT_EQ(S_OK, GetAmbient(pSite, DISPID_AMBIENT_FONT, &var));
    ASSERT_EQ(VT_DISPATCH, V_VT(&var));
    IFont* pFont = QueryOf<IFont>(V_DISPATCH(&var), IID_IFont);
    ASSERT_NE(nullptr, pFont);
    BSTR bstrName = nullptr;
    EXPECT_EQ(S_OK, pFont->get_Name(&bstrName));
    EXPECT_GT(::SysStringLen(bstrName), 0u);
    ::SysFreeString(bstrName);
    pFont->Release();
    ::VariantClear(&var);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, GetAmbient(pSite, DISPID_AMBIENT_RIGHTTOLEFT, &var));
    dlg.DestroyWindow();
}

// --- A control invisible at run time ----------------------------------------------

TEST_F(HostedControlTest, InvisibleControlIsHostedWithoutAWindowCalledAndRaisesEvents)
{
    g_testCtlSetup.m_dwBehaviour = TCB_INVISIBLE;
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    EXPECT_FALSE(Contains(pCtl->m_calls, "DoVerb -5")) << ::testing::PrintToString(pCtl->m_calls);
    EXPECT_TRUE(Contains(pCtl->m_calls, "Advise"));
    EXPECT_EQ(nullptr, ::GetDlgItem(dlg.m_hWnd, IDC_TESTCTL));
    EXPECT_EQ(nullptr, dlg.m_ctl.m_hWnd);
    ASSERT_NE(nullptr, dlg.m_ctl.m_pCtrlSite);

    pCtl->m_eventsToRaise = { s_ping, s_ping };
    EXPECT_EQ(2, Raise(dlg.m_ctl));
    EXPECT_EQ(2, CHostTestDlg::s_nPings);

    dlg.DestroyWindow();
    EXPECT_EQ(nullptr, dlg.m_ctl.m_pCtrlSite);
}

// --- Event arguments ------------------------------------------------------------------

TEST_F(HostedControlTest, ArgumentsOfOtherTypesReachTheHandlersConverted)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    pCtl->m_eventsToRaise = {
        { 1, { TestUI4(7) } },
        { 2, { TestTextByRef(L"by reference") } },
        { 3, { TestI2(-5) } },
        { 4, { TestI4(12), TestI4(1), TestR8(2.5), TestI2(3) } },
        // Texts read in the locale the control names: a comma-decimal one, or
        // none (the invariant locale), whatever the user's is.
        { 8, { TestText(L"1,5") }, MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT) },
        { 8, { TestText(L"1.5") }, 0 },
    };
    EXPECT_EQ(6, Raise(dlg.m_ctl));
    EXPECT_EQ((std::vector<std::wstring>{ L"Count 7", L"Text by reference", L"Level -5", L"Mixed 12 1 2.5 3",
                                          L"Value 1.5", L"Value 1.5" }),
              dlg.m_log);
    EXPECT_EQ(std::vector<HRESULT>(6, S_OK), pCtl->m_sinkResults);
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, ArgumentsThatDoNotConvertAreRefusedAndNoHandlerRuns)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    pCtl->m_eventsToRaise = {
        { 1, { TestText(L"seven") } },
        { 1, { TestR8(1e20) } },   // far above the largest long
        { 2, {} },
        { 4, { TestI4(12), TestI4(1), TestR8(2.5) } },
    };
    EXPECT_EQ(4, Raise(dlg.m_ctl));
    EXPECT_TRUE(dlg.m_log.empty()) << dlg.m_log.size();
    ASSERT_EQ(4u, pCtl->m_sinkResults.size());
    EXPECT_EQ(DISP_E_TYPEMISMATCH, pCtl->m_sinkResults[0]);
    EXPECT_EQ(DISP_E_OVERFLOW, pCtl->m_sinkResults[1]);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, pCtl->m_sinkResults[2]);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, pCtl->m_sinkResults[3]);
    dlg.DestroyWindow();
}

// --- Controls that misbehave ------------------------------------------------------------

TEST_F(HostedControlTest, ControlFailingDoVerbOrGivingNoWindowFailsTheDialogCleanly)
{
    for (DWORD dwBehaviour : { DWORD(TCB_FAIL_DOVERB), DWORD(TCB_NO_WINDOW) }) {
        g_testCtlSetup.m_dwBehaviour = dwBehaviour;
        CHostTestDlg dlg;
        EXPECT_EQ(-1, dlg.DoModal()) << dwBehaviour;
        EXPECT_EQ(nullptr, dlg.m_hWnd);
        EXPECT_EQ(nullptr, ::FindWindowW(nullptr, L"Hosted Test Control"));
        EXPECT_EQ(0, CTestCtl::LiveCount()) << dwBehaviour;
    }
}

TEST_F(HostedControlTest, EventsRaisedAfterUnadviseReachNoHandler)
{
    g_testCtlSetup.m_dwBehaviour = TCB_KEEP_SINK;
    CTestCtl* pCtl = nullptr;
    {
        CHostTestDlg dlg;
        ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
        pCtl->AddRef();
        pCtl->Fire(s_ping);
        EXPECT_EQ(1, CHostTestDlg::s_nPings);
        dlg.DestroyWindow();
        EXPECT_TRUE(Contains(pCtl->m_calls, "Unadvise"));
        pCtl->Fire(s_ping);   // the dialog object is still there, its window is not
    }
    pCtl->Fire(s_ping);       // the dialog object is gone too
    EXPECT_EQ(1, CHostTestDlg::s_nPings);
    EXPECT_EQ(std::vector<HRESULT>(3, S_OK), pCtl->m_sinkResults);
    pCtl->Release();
}

TEST_F(HostedControlTest, SiteKeptAfterTeardownAnswersWithoutTheWindow)
{
    g_testCtlSetup.m_dwBehaviour = TCB_KEEP_SITE;
    CTestCtl* pCtl = nullptr;
    {
        CHostTestDlg dlg;
        ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
        pCtl->AddRef();
    }
    EXPECT_TRUE(Contains(pCtl->m_calls, "SetClientSite(NULL)"));
    IOleClientSite* pSite = pCtl->m_pSite;
    ASSERT_NE(nullptr, pSite);

    IOleInPlaceSite* pInPlace = QueryOf<IOleInPlaceSite>(pSite, IID_IOleInPlaceSite);
    ASSERT_NE(nullptr, pInPlace);
    HWND hWnd = reinterpret_cast<HWND>(1);
    EXPECT_TRUE(FAILED(pInPlace->GetWindow(&hWnd)));
    EXPECT_EQ(nullptr, hWnd);
    const RECT rc = { 0, 0, 50, 50 };
    EXPECT_EQ(S_OK, pInPlace->OnPosRectChange(&rc));
    pInPlace->Release();

    VARIANT var;
    EXPECT_EQ(S_OK, GetAmbient(pSite, DISPID_AMBIENT_USERMODE, &var));
    EXPECT_EQ(VT_BOOL, V_VT(&var));
    ::VariantClear(&var);
    pCtl->Release();   // lets go of the site at last
}

// --- Faults mended ------------------------------------------------------------------------

TEST_F(HostedControlTest, TemporaryWindowObjectsLiveUntilTheEventHandlerReturns)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    pCtl->Fire({ 7, {} });   // from outside any message dispatch, as a control's own timer would
    EXPECT_TRUE(dlg.m_bTemporaryHeld);
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, HandlerFailingOnEveryEventShowsOneBoxAfterTheControlsCall)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    dlg.ShowWindow(SW_SHOW);
    pCtl->m_eventsToRaise = std::vector<CTestEvent>(5, CTestEvent{ 5, {} });

    MessageBoxWatcher watcher(AfxGetAppName(), true);
    EXPECT_EQ(5, Raise(dlg.m_ctl));
    // A box shown inside the call would have been counted before the call returned.
    EXPECT_EQ(0, watcher.m_nBoxes.load());
    EXPECT_EQ(std::vector<HRESULT>(5, S_OK), pCtl->m_sinkResults);
    PumpPending();
    EXPECT_EQ(1, watcher.m_nBoxes.load());

    // A later failure is reported again.
    EXPECT_EQ(5, Raise(dlg.m_ctl));
    PumpPending();
    watcher.Join();
    EXPECT_EQ(2, watcher.m_nBoxes.load());
    wchar_t szExpected[256] = L"";
    CNotSupportedException e;
    e.GetErrorMessage(szExpected, 256);
    EXPECT_EQ(std::wstring(szExpected), watcher.m_strText);
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, TypeInformationSourceIsAcceptedOnlyAsADispatchInterface)
{
    const struct
    {
        CLSID m_clsid;
        IID m_iidSource;
        bool m_bConnects;
    } cases[] = {
        { CLSID_TestVtableSource, IID_ITestVtableEvents, false },
        { CLSID_TestDualSource, IID_ITestDualEvents, false },
        { CLSID_TestDispSource, DIID_DTestEvents, true },
    };
    for (const auto& c : cases) {
        g_testCtlSetup.m_dwBehaviour = TCB_CLASSINFO_ONLY;
        g_testCtlSetup.m_iidSource = c.m_iidSource;
        g_testCtlSetup.m_clsidClassInfo = c.m_clsid;
        CHostTestDlg dlg;   // a control whose events can't be connected is still hosted
        CTestCtl* pCtl = nullptr;
        ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
        EXPECT_EQ(c.m_bConnects, Contains(pCtl->m_calls, "Advise")) << ::testing::PrintToString(pCtl->m_calls);
        EXPECT_EQ(c.m_bConnects, pCtl->m_pSink != nullptr);
        if (c.m_bConnects) {
            pCtl->Fire(s_ping);
            EXPECT_EQ(1, CHostTestDlg::s_nPings);
        }
        dlg.DestroyWindow();
    }
}

TEST_F(HostedControlTest, CreateControlRefusesParentsWhoseWindowTheFrameworkDoesNotSee)
{
    HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"plain parent", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hWnd);
    const RECT rc = { 0, 0, 100, 80 };
    {
        CWnd ctl;
        EXPECT_FALSE(ctl.CreateControl(CLSID_TestControl, L"", WS_CHILD | WS_VISIBLE, rc, CWnd::FromHandle(hWnd), 1));
        CWnd attached;   // bound, but its messages go past the framework
        ASSERT_TRUE(attached.Attach(hWnd));
        EXPECT_FALSE(ctl.CreateControl(CLSID_TestControl, L"", WS_CHILD | WS_VISIBLE, rc, &attached, 1));
        attached.Detach();
        EXPECT_EQ(0, CTestCtl::LiveCount());
    }
    ::DestroyWindow(hWnd);
}

TEST_F(HostedControlTest, ControlsGoWithTheDialogObjectWhenItsWindowWasDetached)
{
    CDialog* pDlg = new CDialog(IDD_HOSTTEST);
    ASSERT_TRUE(pDlg->Create(IDD_HOSTTEST));
    EXPECT_EQ(1, CTestCtl::LiveCount());
    HWND hDlg = pDlg->Detach();
    delete pDlg;
    EXPECT_EQ(0, CTestCtl::LiveCount());
    ::DestroyWindow(hDlg);
}

// --- Property puts -------------------------------------------------------------------------

TEST_F(HostedControlTest, PropertyPutsNameTheirValueAndObjectsArePutByReference)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    CString strCaption;
    static const BYTE parms[] = VTS_BSTR;
    dlg.m_ctl.InvokeHelper(DISPID_TESTCTL_CAPTION, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, parms, L"first");
    dlg.m_ctl.GetProperty(DISPID_TESTCTL_CAPTION, VT_BSTR, &strCaption);
    EXPECT_STREQ(L"first", strCaption.GetString());
    dlg.m_ctl.SetProperty(DISPID_TESTCTL_CAPTION, VT_BSTR, L"second");
    dlg.m_ctl.GetProperty(DISPID_TESTCTL_CAPTION, VT_BSTR, &strCaption);
    EXPECT_STREQ(L"second", strCaption.GetString());

    FONTDESC desc = { sizeof desc, const_cast<LPOLESTR>(L"Tahoma"), { { 80000, 0 } }, FW_NORMAL, ANSI_CHARSET,
                      FALSE, FALSE, FALSE };
    IDispatch* pFont = nullptr;
    ASSERT_EQ(S_OK, ::OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(&pFont)));
    dlg.m_ctl.SetProperty(DISPID_TESTCTL_OBJECT, VT_DISPATCH, pFont);
    IDispatch* pGot = nullptr;
    dlg.m_ctl.GetProperty(DISPID_TESTCTL_OBJECT, VT_DISPATCH, &pGot);
    EXPECT_EQ(pFont, pGot);
    if (pGot)
        pGot->Release();
    pFont->Release();
    std::vector<std::string> puts;
    std::copy_if(pCtl->m_calls.begin(), pCtl->m_calls.end(), std::back_inserter(puts),
                 [](const std::string& str) { return str.compare(0, 3, "put") == 0; });
    EXPECT_EQ((std::vector<std::string>{ "put 2", "put 2", "putref 3" }), puts);
    dlg.DestroyWindow();
}

// --- Keys --------------------------------------------------------------------------------

TEST_F(HostedControlTest, FocusedControlGetsTheKeysItWantsAndEnterElsewhereEndsTheDialog)
{
    // Enter and the arrows taken by the control's TranslateAccelerator, or
    // Enter declared as eaten (CTRLINFO_EATS_RETURN) and so left to its window.
    const struct
    {
        DWORD m_dwBehaviour;
        std::vector<std::string> m_keysSeen;
    } cases[] = {
        { TCB_WANTS_KEYS, { "key 13", "key 37" } },
        { TCB_EATS_RETURN, { "key passed 13", "window key 13" } },
    };
    for (const auto& c : cases) {
        g_testCtlSetup.m_dwBehaviour = c.m_dwBehaviour;
        CHostTestDlg dlg;
        CTestCtl* pCtl = nullptr;
        ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
        dlg.ShowWindow(SW_SHOW);
        const HWND hEdit = ::GetDlgItem(dlg.m_hWnd, IDC_VIEWERTEST_EDIT);
        ::SetFocus(hEdit);
        ASSERT_EQ(hEdit, ::GetFocus());

        // Tab into the control: it is UI-activated and keeps the keys it wants.
        PressKey(hEdit, WM_KEYDOWN, VK_TAB);
        ASSERT_EQ(pCtl->m_hWnd, ::GetFocus());
        EXPECT_TRUE(Contains(pCtl->m_calls, "DoVerb -4")) << ::testing::PrintToString(pCtl->m_calls);
        pCtl->m_calls.clear();
        PressKey(pCtl->m_hWnd, WM_KEYDOWN, VK_RETURN);
        if (c.m_dwBehaviour == TCB_WANTS_KEYS)
            PressKey(pCtl->m_hWnd, WM_KEYDOWN, VK_LEFT);
        EXPECT_EQ(c.m_keysSeen, pCtl->m_calls);
        EXPECT_EQ(0, dlg.m_nOK);

        // Tab out: the control sees the Tab first, lets it go and is UI-deactivated.
        PressKey(pCtl->m_hWnd, WM_KEYDOWN, VK_TAB);
        EXPECT_EQ(hEdit, ::GetFocus());
        EXPECT_TRUE(Contains(pCtl->m_calls, "key passed 9")) << ::testing::PrintToString(pCtl->m_calls);
        EXPECT_TRUE(Contains(pCtl->m_calls, "UIDeactivate"));
        PressKey(hEdit, WM_KEYDOWN, VK_RETURN);
        EXPECT_EQ(1, dlg.m_nOK);
        dlg.DestroyWindow();
    }
}

TEST_F(HostedControlTest, MnemonicTheControlDeclaresReachesItWithTheFocus)
{
    g_testCtlSetup.m_dwBehaviour = TCB_MNEMONIC;
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    dlg.ShowWindow(SW_SHOW);
    const HWND hEdit = ::GetDlgItem(dlg.m_hWnd, IDC_VIEWERTEST_EDIT);
    ::SetFocus(hEdit);
    const LPARAM lAltDown = 0x20000001;   // the context code: Alt is held
    PressKey(hEdit, WM_SYSCHAR, L'x', lAltDown);
    EXPECT_FALSE(Contains(pCtl->m_calls, "OnMnemonic 120"));
    PressKey(hEdit, WM_SYSCHAR, L'm', lAltDown);
    EXPECT_TRUE(Contains(pCtl->m_calls, "OnMnemonic 109")) << ::testing::PrintToString(pCtl->m_calls);
    EXPECT_EQ(pCtl->m_hWnd, ::GetFocus());
    dlg.DestroyWindow();
}

// --- The place and the window --------------------------------------------------------------

TEST_F(HostedControlTest, PlaceChangesReachTheControlsWindowItsExtentAndItsSite)
{
    // Moved through the wrapper.
    {
        CHostTestDlg dlg;
        CTestCtl* pCtl = nullptr;
        ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
        const CRect rcMoved(20, 30, 170, 90);
        dlg.m_ctl.MoveWindow(rcMoved);
        EXPECT_EQ(rcMoved, ChildRect(pCtl->m_hWnd));
        EXPECT_EQ(rcMoved, PlaceInWindowContext(pCtl->m_pSite));
        SIZEL sizeExtent = {};
        pCtl->GetExtent(DVASPECT_CONTENT, &sizeExtent);
        HDC hdc = ::GetDC(dlg.m_hWnd);
        EXPECT_EQ(::MulDiv(rcMoved.Width(), 2540, ::GetDeviceCaps(hdc, LOGPIXELSX)), sizeExtent.cx);
        ::ReleaseDC(dlg.m_hWnd, hdc);
        dlg.m_ctl.SetWindowPos(nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        EXPECT_EQ(CRect(5, 6, 155, 66), PlaceInWindowContext(pCtl->m_pSite));
        EXPECT_EQ(CRect(5, 6, 155, 66), ChildRect(pCtl->m_hWnd));
        dlg.DestroyWindow();
    }
    // Asked for by the control while it activates.
    g_testCtlSetup.m_dwBehaviour = TCB_ASKS_PLACE;
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    const CRect rcPlace = PlaceInWindowContext(pCtl->m_pSite);
    EXPECT_EQ(kAskedSize.cx, rcPlace.Width());
    EXPECT_EQ(kAskedSize.cy, rcPlace.Height());
    EXPECT_EQ(rcPlace, ChildRect(pCtl->m_hWnd));
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, WindowThatWentIsNoWindowOfTheWrapperAndANewOneIs)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    COleControlSite* pSite = dlg.m_ctl.m_pCtrlSite;
    ASSERT_NE(nullptr, pSite);

    // Destroyed from outside, then the control leaving in-place activation:
    // no stale handle, so the main dialog's Connect sees no live window.
    ::DestroyWindow(pCtl->m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_ctl.m_hWnd);
    EXPECT_FALSE(::IsWindow(dlg.m_ctl.m_hWnd));
    pCtl->InPlaceDeactivate();
    EXPECT_EQ(nullptr, pSite->m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_ctl.m_hWnd);

    // Activated again by the container: its new window is the wrapper's.
    pSite->SetFocus();
    ASSERT_TRUE(::IsWindow(pCtl->m_hWnd));
    EXPECT_EQ(pCtl->m_hWnd, dlg.m_ctl.m_hWnd);
    EXPECT_EQ(pCtl->m_hWnd, ::GetDlgItem(dlg.m_hWnd, IDC_TESTCTL));
    dlg.DestroyWindow();
}

// --- Events while the dialog is made ------------------------------------------------------------

TEST_F(HostedControlTest, EventRaisedWhileTheControlActivatesReachesItsHandlerAfterOnInitDialog)
{
    g_testCtlSetup.m_dwBehaviour = TCB_EVENT_ON_ACTIVATE;
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    EXPECT_EQ(std::vector<std::wstring>{ L"Activated after OnInitDialog, caption \"\"" }, dlg.m_log);
    EXPECT_EQ(std::vector<HRESULT>{ S_OK }, pCtl->m_sinkResults);
    dlg.DestroyWindow();
}

// --- Saved state and licences --------------------------------------------------------------------

TEST_F(HostedControlTest, StateInEachFormReachesTheControlAndStateItCantTakeFailsIt)
{
    std::vector<BYTE> cutShort = InitData(WM_OCC_LOADFROMSTREAM, Bytes("kept in a stream"));
    cutShort.resize(cutShort.size() - sizeof(WORD) - 4);   // the end: no closing id, and 4 bytes of the state
    const struct
    {
        DWORD m_dwBehaviour;
        std::vector<BYTE> m_initData;
        const char* m_pszExpected;   // NULL: the dialog is not made
    } cases[] = {
        { TCB_STORAGE, InitData(WM_OCC_LOADFROMSTORAGE, StorageImage("kept in a storage")),
          "Load storage kept in a storage" },
        { TCB_STORAGE, {}, "InitNew storage" },
        { TCB_PROPERTY_BAG, {}, "InitNew" },
        { 0, InitData(WM_OCC_LOADFROMSTREAM, Bytes("kept in a stream")), "Load stream kept in a stream" },
        // A storage for a control that loads streams only, a licence key longer
        // than its record, a record cut short: none is replaced by a new start.
        { 0, InitData(WM_OCC_LOADFROMSTORAGE, StorageImage("kept in a storage")), nullptr },
        { 0, InitData(WM_OCC_LOADFROMSTREAM_EX, LicensedState(L"key", Bytes("state"), 400)), nullptr },
        { 0, cutShort, nullptr },
    };
    for (const auto& c : cases) {
        g_testCtlSetup.m_dwBehaviour = c.m_dwBehaviour;
        CHostTestDlg dlg;
        const BOOL bCreated = dlg.CreateWithInitData(IDD_HOSTTEST, c.m_initData);
        EXPECT_EQ(c.m_pszExpected != nullptr, bCreated != FALSE) << "case " << (&c - cases);
        if (bCreated && c.m_pszExpected) {
            const std::vector<std::string>& calls = CTestCtl::Last()->m_calls;
            EXPECT_TRUE(Contains(calls, c.m_pszExpected)) << ::testing::PrintToString(calls);
            EXPECT_EQ(1, std::count_if(calls.begin(), calls.end(), [](const std::string& str) {
                          return str.compare(0, 4, "Load") == 0 || str.compare(0, 7, "InitNew") == 0;
                      }));
        }
        dlg.DestroyWindow();
        EXPECT_EQ(0, CTestCtl::LiveCount());
    }
}

TEST_F(HostedControlTest, LicensedControlIsMadeWithTheKeyItsRecordCarries)
{
    const std::vector<BYTE> state = Bytes("licensed state");
    const std::wstring strKey = kTestLicenceKey;
    const std::wstring strWrongKey = L"test licence 0000";
    const struct
    {
        DWORD m_dwBehaviour;
        std::vector<BYTE> m_initData;
        const char* m_pszExpected;   // NULL: the dialog is not made
    } cases[] = {
        { 0, InitData(WM_OCC_LOADFROMSTREAM_EX, LicensedState(strKey, state, DWORD(strKey.size()))),
          "Load stream licensed state" },
        { TCB_STORAGE,
          InitData(WM_OCC_LOADFROMSTORAGE_EX,
                   LicensedState(strKey, StorageImage("licensed storage"), DWORD(strKey.size()))),
          "Load storage licensed storage" },
        { 0, InitData(WM_OCC_LOADFROMSTREAM_EX, LicensedState(strWrongKey, state, DWORD(strWrongKey.size()))),
          nullptr },
        { 0, InitData(WM_OCC_LOADFROMSTREAM, state), nullptr },   // no key: this machine holds no licence
    };
    for (const auto& c : cases) {
        g_testCtlSetup.m_dwBehaviour = c.m_dwBehaviour;
        CHostTestDlg dlg;
        const BOOL bCreated = dlg.CreateWithInitData(IDD_HOSTTEST_LICENSED, c.m_initData);
        EXPECT_EQ(c.m_pszExpected != nullptr, bCreated != FALSE) << "case " << (&c - cases);
        if (bCreated && c.m_pszExpected) {
            EXPECT_TRUE(Contains(CTestCtl::Last()->m_calls, c.m_pszExpected))
                << ::testing::PrintToString(CTestCtl::Last()->m_calls);
        }
        dlg.DestroyWindow();
        EXPECT_EQ(0, CTestCtl::LiveCount());
    }
}

// --- Controls the container must survive ---------------------------------------------------------

TEST_F(HostedControlTest, EventsRaisedWhileTheContainerHoldsThemReachNoHandler)
{
    // Raised while the dialog is made, before OnInitDialog bound the wrapper.
    g_testCtlSetup.m_dwBehaviour = TCB_FIRES_WHILE_FROZEN | TCB_EVENT_ON_ACTIVATE;
    {
        CHostTestDlg dlg;
        CTestCtl* pCtl = nullptr;
        ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
        EXPECT_EQ(0, dlg.m_nActivated);
        // Let go of: they reach the handlers again.
        pCtl->Fire(s_ping);
        EXPECT_EQ(1, CHostTestDlg::s_nPings);
        dlg.DestroyWindow();
    }
    // Held and let go of later, through the site.
    g_testCtlSetup.m_dwBehaviour = TCB_FIRES_WHILE_FROZEN;
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    CHostTestDlg::s_nPings = 0;
    dlg.m_ctl.m_pCtrlSite->FreezeEvents(TRUE);
    pCtl->Fire(s_ping);
    EXPECT_EQ(0, CHostTestDlg::s_nPings);
    dlg.m_ctl.m_pCtrlSite->FreezeEvents(FALSE);
    pCtl->Fire(s_ping);
    EXPECT_EQ(1, CHostTestDlg::s_nPings);
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, InitNewAnsweringNotImplementedMeansNothingToInitialise)
{
    for (DWORD dwForm : { DWORD(0), DWORD(TCB_STORAGE), DWORD(TCB_PROPERTY_BAG) }) {
        g_testCtlSetup.m_dwBehaviour = TCB_INITNEW_NOTIMPL | dwForm;
        CHostTestDlg dlg;
        EXPECT_TRUE(dlg.CreateWithInitData(IDD_HOSTTEST, {})) << dwForm;
        EXPECT_NE(nullptr, dlg.m_ctl.m_pCtrlSite) << dwForm;
        dlg.DestroyWindow();
    }
    // Made by CreateControl in a dialog hosting another.
    CHostTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_HOSTTEST));
    g_testCtlSetup.m_dwBehaviour = TCB_INITNEW_NOTIMPL;
    CWnd ctl;
    const RECT rc = { 0, 0, 100, 80 };
    EXPECT_TRUE(ctl.CreateControl(CLSID_TestControl, L"", WS_CHILD | WS_VISIBLE, rc, &dlg, IDC_TESTCTL + 1));
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, HandlerDestroyingTheHostInsideTheControlsOwnCallLeavesTheControlAlive)
{
    // A control that holds neither itself nor its sink while it raises an
    // event: raised from the control's own code (as from its timer) and from
    // a call the wrapper makes; the handler destroys the wrapper, the
    // dialog's window, or the dialog object.
    for (DISPID dispid : { 10, 11, 12 }) {
        for (bool bThroughCall : { false, true }) {
            g_testCtlSetup.m_dwBehaviour = TCB_UNGUARDED;
            CHostTestDlg* pDlg = new CHostTestDlg;
            ASSERT_TRUE(pDlg->Create(IDD_HOSTTEST));
            CTestCtl* pCtl = CTestCtl::Last();
            ASSERT_NE(nullptr, pCtl);
            pCtl->m_eventsToRaise = { { dispid, {} } };
            if (bThroughCall)
                Raise(pDlg->m_ctl);
            else
                pCtl->Fire({ dispid, {} });
            EXPECT_EQ(0, CTestCtl::DeletedInOwnCall()) << dispid << " " << bThroughCall;
            PumpPending();   // whatever was left to let go of later
            EXPECT_EQ(0, CTestCtl::LiveCount()) << dispid << " " << bThroughCall;
            if (dispid == 10) {
                EXPECT_EQ(nullptr, pDlg->m_ctl.m_pCtrlSite);
                EXPECT_EQ(nullptr, pDlg->m_ctl.m_hWnd);
            }
            if (dispid != 12)
                delete pDlg;
        }
    }
}

TEST_F(HostedControlTest, FrameGrantsWhatNeedsNothingOfIt)
{
    // A control asking for no border space is UI-activated and takes the focus.
    g_testCtlSetup.m_dwBehaviour = TCB_ASKS_NO_BORDER;
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    dlg.ShowWindow(SW_SHOW);
    dlg.m_ctl.m_pCtrlSite->SetFocus();
    EXPECT_TRUE(Contains(pCtl->m_calls, "SetBorderSpace(NULL) 0")) << ::testing::PrintToString(pCtl->m_calls);
    EXPECT_EQ(pCtl->m_hWnd, ::GetFocus());

    // No shared menu: inserting and removing the container's part of it succeed doing nothing.
    IOleInPlaceFrame* pFrame = nullptr;
    RECT rcPos;
    ASSERT_EQ(S_OK, GetWindowContextOf(pCtl->m_pSite, &pFrame, &rcPos));
    HMENU hMenu = ::CreateMenu();
    OLEMENUGROUPWIDTHS widths = { { 1, 1, 1, 1, 1, 1 } };
    EXPECT_EQ(S_OK, pFrame->InsertMenus(hMenu, &widths));
    EXPECT_EQ(0, widths.width[0] + widths.width[2] + widths.width[4]);
    EXPECT_EQ(0, ::GetMenuItemCount(hMenu));
    EXPECT_EQ(S_OK, pFrame->RemoveMenus(hMenu));
    ::DestroyMenu(hMenu);
    pFrame->Release();
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, ControlWindowHearsItIsDisabledAndItsGoingIsSeenWithoutParentNotify)
{
    CHostTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_HOSTTEST));
    CWnd ctl;
    const RECT rc = { 0, 0, 100, 80 };
    ASSERT_TRUE(ctl.CreateControl(CLSID_TestControl, L"", WS_CHILD | WS_VISIBLE | WS_DISABLED, rc, &dlg,
                                  IDC_TESTCTL + 1));
    CTestCtl* pCtl = CTestCtl::Last();
    ASSERT_NE(nullptr, pCtl);
    EXPECT_FALSE(::IsWindowEnabled(pCtl->m_hWnd));
    EXPECT_TRUE(Contains(pCtl->m_calls, "window enabled 0")) << ::testing::PrintToString(pCtl->m_calls);
    dlg.DestroyWindow();

    g_testCtlSetup.m_dwBehaviour = TCB_NO_PARENT_NOTIFY;
    CHostTestDlg dlgQuiet;
    ASSERT_NO_FATAL_FAILURE(Host(dlgQuiet, &pCtl));
    ::DestroyWindow(pCtl->m_hWnd);
    EXPECT_EQ(nullptr, dlgQuiet.m_ctl.m_hWnd);
    dlgQuiet.DestroyWindow();
}

TEST_F(HostedControlTest, DispatchCallsAreShapedAsTheProtocolSays)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));

    // The ambient display name is there; an interface other than IID_NULL is refused.
    VARIANT var;
    EXPECT_EQ(S_OK, GetAmbient(pCtl->m_pSite, DISPID_AMBIENT_DISPLAYNAME, &var));
    EXPECT_EQ(VT_BSTR, V_VT(&var));
    ::VariantClear(&var);
    IDispatch* pAmbient = QueryOf<IDispatch>(pCtl->m_pSite, IID_IDispatch);
    ASSERT_NE(nullptr, pAmbient);
    DISPPARAMS noArgs = { nullptr, nullptr, 0, 0 };
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, pAmbient->Invoke(DISPID_AMBIENT_USERMODE, IID_IDispatch, 0,
                                                        DISPATCH_PROPERTYGET, &noArgs, &var, nullptr, nullptr));
    pAmbient->Release();

    // An object put as IUnknown goes by reference; a put without a value names no argument.
    FONTDESC desc = { sizeof desc, const_cast<LPOLESTR>(L"Tahoma"), { { 80000, 0 } }, FW_NORMAL, ANSI_CHARSET,
                      FALSE, FALSE, FALSE };
    IUnknown* pFont = nullptr;
    ASSERT_EQ(S_OK, ::OleCreateFontIndirect(&desc, IID_IUnknown, reinterpret_cast<void**>(&pFont)));
    dlg.m_ctl.SetProperty(DISPID_TESTCTL_OBJECT, VT_UNKNOWN, pFont);
    pFont->Release();
    EXPECT_TRUE(Contains(pCtl->m_calls, "putref 3")) << ::testing::PrintToString(pCtl->m_calls);
    bool bThrown = false;
    try {
        dlg.m_ctl.InvokeHelper(DISPID_TESTCTL_CAPTION, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr,
                               reinterpret_cast<const BYTE*>(VTS_NONE));
    } catch (COleException* e) {
        bThrown = true;
        EXPECT_EQ(DISP_E_PARAMNOTFOUND, e->m_sc);
        e->Delete();
    }
    EXPECT_TRUE(bThrown);
    EXPECT_TRUE(Contains(pCtl->m_calls, "put refused, arguments 0, named 0"))
        << ::testing::PrintToString(pCtl->m_calls);
    dlg.DestroyWindow();
}

TEST_F(HostedControlTest, NamedEventArgumentsReachTheParametersTheyName)
{
    CHostTestDlg dlg;
    CTestCtl* pCtl = nullptr;
    ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
    CTestEvent event = { 4, { TestI4(12), TestI4(1), TestR8(2.5), TestI2(3) } };
    event.m_bNamed = true;
    pCtl->Fire(event);
    EXPECT_EQ(std::vector<std::wstring>{ L"Mixed 12 1 2.5 3" }, dlg.m_log);
    dlg.DestroyWindow();
}

namespace {
std::vector<std::string>* g_pTraced = nullptr;
void CALLBACK CaptureTrace(LPCSTR lpszText) { g_pTraced->push_back(lpszText); }
} // namespace

TEST_F(HostedControlTest, FailureReportWhoseWindowWentGoesWithIt)
{
    std::vector<std::string> traced;
    g_pTraced = &traced;
    AFX_TRACE_SINK pfnOld = AfxSetTraceSink(&CaptureTrace);
    {
        CHostTestDlg dlg;
        CTestCtl* pCtl = nullptr;
        ASSERT_NO_FATAL_FAILURE(Host(dlg, &pCtl));
        pCtl->Fire({ 5, {} });
        dlg.DestroyWindow();
    }
    AfxSetTraceSink(pfnOld);
    EXPECT_TRUE(std::find(traced.begin(), traced.end(),
                          "Warning: an event handler's failure is not reported, its window is gone.\n") != traced.end())
        << ::testing::PrintToString(traced);
    PumpPending();
}
