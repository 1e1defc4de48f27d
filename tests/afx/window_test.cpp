// CWnd and CDialog: message maps, data exchange binding, the dialog's
// default commands, exception routing at the window procedure, the trace sink
// and run-time class information.
#include <afxwin.h>
#include <afxdialogex.h>
#include <gtest/gtest.h>
#include <messageboxwatcher.h>
#include <pumpmessages.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "afxtestres.h"

namespace {

class CTestException : public CException
{
public:
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT) const override
    {
        return AfxCopyErrorMessage(L"The test handler failed on purpose.", lpszError, nMaxError);
    }
};

// An edit control whose messages come through its own map once bound.
class CCountingEdit : public CEdit
{
public:
    int m_nSetTextSeen = 0;

protected:
    LRESULT OnSetTextMsg(WPARAM, LPARAM)
    {
        ++m_nSetTextSeen;
        return Default();   // the original EDIT procedure still stores the text
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCountingEdit, CEdit)
    ON_MESSAGE(WM_SETTEXT, &CCountingEdit::OnSetTextMsg)
END_MESSAGE_MAP()

class CTestDlg : public CDialogEx
{
public:
    CTestDlg() : CDialogEx(IDD_AFXTEST) {}
    CCountingEdit m_edit;
    int m_nInitCalls = 0;
    int m_nSizeCalls = 0;
    bool m_bAfterThrow = false;
    std::vector<UINT> m_seen;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        CDialogEx::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_AFXTEST_EDIT, m_edit);
    }
    BOOL OnInitDialog() override
    {
        ++m_nInitCalls;
        return CDialogEx::OnInitDialog();
    }
    afx_msg void OnSize(UINT, int, int) { ++m_nSizeCalls; }
    afx_msg void OnThrow()
    {
        throw new CTestException;
        m_bAfterThrow = true;   // never reached
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialogEx)
    ON_WM_SIZE()
    ON_BN_CLICKED(IDC_AFXTEST_BUTTON, &CTestDlg::OnThrow)
END_MESSAGE_MAP()

} // namespace

TEST(DialogCreate, ModelessCreateBindsTheDialogAndItsControls)
{
    CTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_AFXTEST));
    ASSERT_NE(nullptr, dlg.m_hWnd);
    EXPECT_EQ(&dlg, CWnd::FromHandlePermanent(dlg.m_hWnd));
    EXPECT_EQ(1, dlg.m_nInitCalls);

    HWND hEdit = ::GetDlgItem(dlg.m_hWnd, IDC_AFXTEST_EDIT);
    EXPECT_EQ(hEdit, dlg.m_edit.m_hWnd);
    EXPECT_EQ(&dlg.m_edit, CWnd::FromHandlePermanent(hEdit));
    EXPECT_EQ(&dlg.m_edit, dlg.GetDlgItem(IDC_AFXTEST_EDIT));

    // Messages to the bound control reach its map, and Default() still
    // hands them to the EDIT class.
    ::SetWindowTextW(hEdit, L"typed");
    EXPECT_EQ(1, dlg.m_edit.m_nSetTextSeen);
    CString text;
    dlg.GetDlgItemText(IDC_AFXTEST_EDIT, text);
    EXPECT_STREQ(L"typed", text.GetString());

    // A second exchange does not bind again.
    EXPECT_TRUE(dlg.UpdateData(FALSE));
    EXPECT_EQ(hEdit, dlg.m_edit.m_hWnd);

    ::SetWindowPos(dlg.m_hWnd, NULL, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_GE(dlg.m_nSizeCalls, 1);

    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_edit.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hEdit));
}

TEST(DialogCreate, InitDataRecordLongerThanTheDataIsNotSentAndTheDialogOpens)
{
    CDialog dlg(IDD_AFXINITDATA);
    ASSERT_TRUE(dlg.Create(IDD_AFXINITDATA));
    CString text;
    dlg.GetDlgItemText(IDC_AFXTEST_EDIT, text);
    EXPECT_STREQ(L"Init", text.GetString());
    dlg.GetDlgItemText(IDC_AFXTEST_BUTTON, text);
    EXPECT_STREQ(L"Keep", text.GetString());
    dlg.DestroyWindow();
}

TEST(DialogCreate, MissingTemplateFails)
{
    CTestDlg dlg;
    EXPECT_FALSE(dlg.Create(9999));
    EXPECT_EQ(nullptr, dlg.m_hWnd);
}

TEST(DialogCreate, DataExchangeWithAMissingControlThrows)
{
    CTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_AFXTEST));
    CDataExchange dx(&dlg, FALSE);
    CEdit other;
    bool bThrown = false;
    try {
        DDX_Control(&dx, 4711, other);
    } catch (CException* e) {
        bThrown = e->IsKindOf(RUNTIME_CLASS(CNotSupportedException));
        e->Delete();
    }
    EXPECT_TRUE(bThrown);
    dlg.DestroyWindow();
}

TEST(DialogCommands, CancelAndCloseHideAModelessDialog)
{
    CTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_AFXTEST));
    dlg.ShowWindow(SW_SHOW);
    ASSERT_TRUE(dlg.IsWindowVisible());

    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_TRUE(::IsWindow(dlg.m_hWnd));

    dlg.ShowWindow(SW_SHOW);
    dlg.SendMessage(WM_CLOSE);
    PumpPending();   // the dialog manager posts the Cancel command
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_TRUE(::IsWindow(dlg.m_hWnd));

    dlg.ShowWindow(SW_SHOW);
    MSG esc = {};
    esc.hwnd = dlg.m_edit.m_hWnd;
    esc.message = WM_KEYDOWN;
    esc.wParam = VK_ESCAPE;
    EXPECT_TRUE(AfxPreTranslateMessage(&esc));
    PumpPending();
    EXPECT_FALSE(dlg.IsWindowVisible());
    dlg.DestroyWindow();
}

TEST(ExceptionRouting, HandlerExceptionIsReportedAndTheProgramGoesOn)
{
    CTestDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_AFXTEST));
    dlg.ShowWindow(SW_SHOW);

    MessageBoxWatcher watcher(AfxGetAppName());
    // Returns only after the error box was shown and dismissed.
    dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_AFXTEST_BUTTON, BN_CLICKED),
                    reinterpret_cast<LPARAM>(::GetDlgItem(dlg.m_hWnd, IDC_AFXTEST_BUTTON)));
    watcher.Join();
    EXPECT_TRUE(watcher.m_bFound);
    EXPECT_EQ(L"The test handler failed on purpose.", watcher.m_strText);
    EXPECT_FALSE(dlg.m_bAfterThrow);

    // The window still works.
    dlg.SetDlgItemText(IDC_AFXTEST_EDIT, L"still alive");
    CString text;
    dlg.GetDlgItemText(IDC_AFXTEST_EDIT, text);
    EXPECT_STREQ(L"still alive", text.GetString());
    dlg.DestroyWindow();
}

namespace {
std::vector<std::string>* g_pTraced = nullptr;
void CALLBACK CaptureTrace(LPCSTR lpszText) { g_pTraced->push_back(lpszText); }
} // namespace

TEST(Trace, NarrowAndWideFormatsReachTheSinkAsNarrowText)
{
    std::vector<std::string> traced;
    g_pTraced = &traced;
    AFX_TRACE_SINK pfnOld = AfxSetTraceSink(&CaptureTrace);
    TRACE("Plain %d\n", 7);
    TRACE(L"Wide %s (0x%x)\n", L"name", 255u);
    AfxSetTraceSink(pfnOld);
    TRACE("not captured\n");
    ASSERT_EQ(2u, traced.size());
    EXPECT_EQ("Plain 7\n", traced[0]);
    EXPECT_EQ("Wide name (0xff)\n", traced[1]);
}

namespace {
std::atomic<int> g_nDebuggerTexts(0);
// Sees every text sent to the debugger channel, listening or not.
LONG CALLBACK CountDebuggerTexts(EXCEPTION_POINTERS* pInfo)
{
    if (pInfo->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C)
        ++g_nDebuggerTexts;
    return EXCEPTION_CONTINUE_SEARCH;
}
} // namespace

TEST(Trace, NothingReachesTheDebuggerChannelWhenNoDebuggerListens)
{
    ASSERT_FALSE(::IsDebuggerPresent());
    PVOID pHandler = ::AddVectoredExceptionHandler(1, &CountDebuggerTexts);
    ::OutputDebugStringA("seen by the counter\n");
    const int nDirect = g_nDebuggerTexts.exchange(0);
    TRACE("Plain %d\n", 7);
    TRACE(L"Wide %s\n", L"name");
    const int nTraced = g_nDebuggerTexts.exchange(0);
    ::RemoveVectoredExceptionHandler(pHandler);
    ASSERT_EQ(1, nDirect) << "the counter can't see the debugger channel here";
    EXPECT_EQ(0, nTraced);
}

namespace {
class CCreatable : public CCmdTarget
{
    DECLARE_DYNCREATE(CCreatable)
public:
    int m_nZero;   // not set by the constructor
};
IMPLEMENT_DYNCREATE(CCreatable, CCmdTarget)
} // namespace

TEST(RuntimeClass, DynamicCreationByNameAndKindTests)
{
    CRuntimeClass* pClass = CRuntimeClass::FromName("CCreatable");
    ASSERT_EQ(RUNTIME_CLASS(CCreatable), pClass);
    CObject* pObject = pClass->CreateObject();
    ASSERT_NE(nullptr, pObject);
    EXPECT_TRUE(pObject->IsKindOf(RUNTIME_CLASS(CCmdTarget)));
    EXPECT_FALSE(pObject->IsKindOf(RUNTIME_CLASS(CWnd)));
    EXPECT_EQ(0, static_cast<CCreatable*>(pObject)->m_nZero);
    delete pObject;
    EXPECT_STREQ("CDialogEx", RUNTIME_CLASS(CDialogEx)->m_lpszClassName);
    EXPECT_EQ(nullptr, RUNTIME_CLASS(CDialogEx)->CreateObject());
}
