// Modal dialogs, the edit-browse control's mode from the dialog init data,
// and the IP address control's fields.
#include <afxwin.h>
#include <afxcmn.h>
#include <afxdialogex.h>
#include <afxeditbrowsectrl.h>
#include <shlobj.h>
#include <gtest/gtest.h>
#include <messageboxwatcher.h>

#include "afxtestres.h"

#include <atomic>
#include <thread>

namespace {

// Ends itself with the given command as soon as it runs.
class CSelfEndingDlg : public CDialogEx
{
public:
    CSelfEndingDlg(UINT nIDTemplate, UINT nCommand) : CDialogEx(nIDTemplate), m_nCommand(nCommand) {}
    bool m_bWasVisible = false;

protected:
    BOOL OnInitDialog() override
    {
        CDialogEx::OnInitDialog();
        PostMessage(WM_APP);
        return TRUE;
    }
    LRESULT OnApp(WPARAM, LPARAM)
    {
        m_bWasVisible = IsWindowVisible() != FALSE;
        PostMessage(WM_COMMAND, MAKEWPARAM(m_nCommand, BN_CLICKED));
        return 0;
    }
    UINT m_nCommand;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CSelfEndingDlg, CDialogEx)
    ON_MESSAGE(WM_APP, &CSelfEndingDlg::OnApp)
END_MESSAGE_MAP()

class CPanelDlg : public CDialogEx
{
public:
    CPanelDlg() : CDialogEx(IDD_AFXPANEL) {}
    CMFCEditBrowseCtrl m_browse;
    CMFCEditBrowseCtrl m_plain;
    CIPAddressCtrl m_ip;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        CDialogEx::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_AFXPANEL_BROWSE, m_browse);
        DDX_Control(pDX, IDC_AFXPANEL_PLAIN, m_plain);
        DDX_Control(pDX, IDC_AFXPANEL_IP, m_ip);
    }
};

} // namespace

TEST(ModalDialog, ReturnsTheCommandThatEndedIt)
{
    CSelfEndingDlg ok(IDD_AFXPANEL, IDOK);
    EXPECT_EQ(IDOK, ok.DoModal());
    EXPECT_TRUE(ok.m_bWasVisible);   // shown although its template isn't visible
    EXPECT_EQ(nullptr, ok.m_hWnd);   // destroyed when the run ends

    CSelfEndingDlg cancel(IDD_AFXPANEL, IDCANCEL);
    EXPECT_EQ(IDCANCEL, cancel.DoModal());
}

TEST(ModalDialog, MissingTemplateGivesMinusOne)
{
    CSelfEndingDlg dlg(9999, IDOK);
    EXPECT_EQ(-1, dlg.DoModal());
}

TEST(PanelControls, EditBrowseTakesFolderModeFromTheInitData)
{
    CPanelDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_AFXPANEL));
    EXPECT_EQ(CMFCEditBrowseCtrl::BrowseMode_Folder, dlg.m_browse.GetMode());
    EXPECT_EQ(CMFCEditBrowseCtrl::BrowseMode_None, dlg.m_plain.GetMode());

    // The button takes its room from the edit's client area, not the text's.
    CRect rcBrowse, rcPlain;
    ::GetClientRect(dlg.m_browse.m_hWnd, &rcBrowse);
    ::GetClientRect(dlg.m_plain.m_hWnd, &rcPlain);
    EXPECT_EQ(rcPlain.Width() - ::GetSystemMetrics(SM_CXVSCROLL), rcBrowse.Width());
    dlg.SetDlgItemText(IDC_AFXPANEL_BROWSE, L"C:\\some\\folder\\");
    CString text;
    dlg.GetDlgItemText(IDC_AFXPANEL_BROWSE, text);
    EXPECT_STREQ(L"C:\\some\\folder\\", text.GetString());
    dlg.DestroyWindow();
}

// Stops at the first tree view among a window's children.
static BOOL CALLBACK FindTree(HWND hWnd, LPARAM lParam)
{
    WCHAR szClass[32] = L"";
    ::GetClassNameW(hWnd, szClass, 32);
    if (lstrcmpiW(szClass, WC_TREEVIEWW) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

// Whether the picker's folder tree shows its selected folder wholly.
static bool SelectionInView(HWND hPicker)
{
    HWND hTree = NULL;
    ::EnumChildWindows(hPicker, FindTree, reinterpret_cast<LPARAM>(&hTree));
    HTREEITEM hItem = hTree ? TreeView_GetSelection(hTree) : NULL;
    RECT rcItem = {}, rcView = {};
    return hItem && TreeView_GetItemRect(hTree, hItem, &rcItem, FALSE) && ::GetClientRect(hTree, &rcView) &&
           rcItem.top >= rcView.top && rcItem.bottom <= rcView.bottom;
}

TEST(PanelControls, BrowseButtonPicksAFolderWithTheShellsPicker)
{
    CPanelDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_AFXPANEL));
    // A folder deep enough to lie below the tree's first view, given as a
    // user may type it, with a backslash at the end.
    WCHAR szFolder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, szFolder);
    wcscat(szFolder, L"dvv picker\\one\\two\\three\\four");
    ASSERT_EQ(ERROR_SUCCESS, ::SHCreateDirectoryExW(NULL, szFolder, NULL));
    dlg.SetDlgItemText(IDC_AFXPANEL_BROWSE, CString(szFolder) + L"\\");

    // The picker opens with the folder in the box selected and in view; OK takes that folder.
    std::atomic<bool> bFound{ false }, bInView{ false };
    std::thread picker([&] {
        HWND hPicker = NULL;
        for (int i = 0; i < 1000 && !bInView; ++i, ::Sleep(20)) {
            hPicker = ::FindWindowW(L"#32770", L"Browse for Folder");
            bFound = bFound || hPicker;
            bInView = hPicker && SelectionInView(hPicker);
        }
        ::PostMessageW(hPicker, WM_COMMAND, IDOK, 0);
    });
    dlg.m_browse.SendMessage(WM_NCLBUTTONDOWN, HTBORDER, 0);
    picker.join();
    EXPECT_TRUE(bFound);
    EXPECT_TRUE(bInView);
    CString text;
    dlg.GetDlgItemText(IDC_AFXPANEL_BROWSE, text);
    EXPECT_EQ(0, lstrcmpiW(szFolder, text)) << text.GetString();

    // A box without folder mode has no button: nothing opens.
    MessageBoxWatcher none(L"Browse for Folder");
    dlg.m_plain.SendMessage(WM_NCLBUTTONDOWN, HTBORDER, 0);
    none.Join();
    EXPECT_FALSE(none.m_bFound);
    dlg.DestroyWindow();
    for (std::wstring str = szFolder; str.find(L"dvv picker") != std::wstring::npos; str.resize(str.rfind(L'\\')))
        ::RemoveDirectoryW(str.c_str());
}

TEST(PanelControls, AddressFieldsFirstToLastBlankAsZero)
{
    CPanelDlg dlg;
    ASSERT_TRUE(dlg.Create(IDD_AFXPANEL));
    BYTE b[4] = { 9, 9, 9, 9 };
    EXPECT_EQ(0, dlg.m_ip.GetAddress(b[0], b[1], b[2], b[3]));
    EXPECT_EQ(0, b[0] | b[1] | b[2] | b[3]);
    dlg.m_ip.SetAddress(192, 168, 1, 20);
    EXPECT_EQ(4, dlg.m_ip.GetAddress(b[0], b[1], b[2], b[3]));
    EXPECT_EQ(192, b[0]);
    EXPECT_EQ(168, b[1]);
    EXPECT_EQ(1, b[2]);
    EXPECT_EQ(20, b[3]);
    dlg.DestroyWindow();
}
