// The IP address control and the edit-browse control.
#include "afxcmn.h"
#include "afxeditbrowsectrl.h"
#include "afxshellmanager.h"

#include <shlobj.h>
#include <memory>

IMPLEMENT_DYNAMIC(CIPAddressCtrl, CWnd)

int CIPAddressCtrl::GetAddress(BYTE& nField0, BYTE& nField1, BYTE& nField2, BYTE& nField3) const
{
    DWORD dwAddress = 0;
    int nFilled = int(SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&dwAddress)));
    nField0 = FIRST_IPADDRESS(dwAddress);
    nField1 = SECOND_IPADDRESS(dwAddress);
    nField2 = THIRD_IPADDRESS(dwAddress);
    nField3 = FOURTH_IPADDRESS(dwAddress);
    return nFilled;
}

void CIPAddressCtrl::SetAddress(BYTE nField0, BYTE nField1, BYTE nField2, BYTE nField3)
{
    SendMessage(IPM_SETADDRESS, 0, MAKEIPADDRESS(nField0, nField1, nField2, nField3));
}

void AfxRegisterMFCCtrlClasses()
{
    static const bool s_bRegistered = [] {
        // An EDIT under another name: the edit-browse object adds its button
        // when it is bound to the window.
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        if (!::GetClassInfoExW(NULL, L"EDIT", &wc))
            return false;
        wc.hInstance = AfxGetInstanceHandle();
        wc.lpszClassName = L"MfcEditBrowse";
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)s_bRegistered;
}

IMPLEMENT_DYNAMIC(CMFCEditBrowseCtrl, CEdit)

BEGIN_MESSAGE_MAP(CMFCEditBrowseCtrl, CEdit)
    ON_MESSAGE(WM_NCCALCSIZE, &CMFCEditBrowseCtrl::OnNcCalcSize)
    ON_MESSAGE(WM_NCPAINT, &CMFCEditBrowseCtrl::OnNcPaint)
    ON_MESSAGE(WM_NCHITTEST, &CMFCEditBrowseCtrl::OnNcHitTest)
    ON_MESSAGE(WM_NCLBUTTONDOWN, &CMFCEditBrowseCtrl::OnNcLButtonDown)
END_MESSAGE_MAP()

void CMFCEditBrowseCtrl::PreSubclassWindow()
{
    // The dialog's init data may ask for a mode: <MFCEditBrowse_Mode>2</MFCEditBrowse_Mode>.
    if (CDialog* pDlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(::GetParent(m_hWnd)))) {
        CStringA strData = pDlg->GetControlInitData(::GetDlgCtrlID(m_hWnd));
        const char szTag[] = "<MFCEditBrowse_Mode>";
        int nAt = strData.Find(szTag);
        if (nAt >= 0 && atoi(strData.Mid(nAt + int(sizeof(szTag)) - 1)) == BrowseMode_Folder)
            EnableFolderBrowseButton();
    }
}

void CMFCEditBrowseCtrl::EnableFolderBrowseButton()
{
    m_Mode = BrowseMode_Folder;
    if (m_hWnd)
        ::SetWindowPos(m_hWnd, NULL, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CRect CMFCEditBrowseCtrl::ButtonRect() const
{
    if (m_Mode == BrowseMode_None)
        return CRect();
    CRect rcWindow, rcClient;
    ::GetWindowRect(m_hWnd, &rcWindow);
    ::GetClientRect(m_hWnd, &rcClient);
    ::MapWindowPoints(m_hWnd, NULL, reinterpret_cast<POINT*>(&rcClient), 2);
    // The strip between the client area and the right border.
    return CRect(rcClient.right - rcWindow.left, rcClient.top - rcWindow.top,
                 rcClient.right - rcWindow.left + ::GetSystemMetrics(SM_CXVSCROLL),
                 rcClient.bottom - rcWindow.top);
}

LRESULT CMFCEditBrowseCtrl::OnNcCalcSize(WPARAM, LPARAM lParam)
{
    LRESULT lResult = Default();
    if (m_Mode != BrowseMode_None)
        reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0].right -= ::GetSystemMetrics(SM_CXVSCROLL);
    return lResult;
}

LRESULT CMFCEditBrowseCtrl::OnNcPaint(WPARAM, LPARAM)
{
    LRESULT lResult = Default();
    CRect rc = ButtonRect();
    if (!rc.Width())
        return lResult;
    HDC hDC = ::GetWindowDC(m_hWnd);
    ::DrawFrameControl(hDC, &rc, DFC_BUTTON, DFCS_BUTTONPUSH | (m_bPressed ? DFCS_PUSHED : 0));
    ::SetBkMode(hDC, TRANSPARENT);
    HGDIOBJ hOldFont = ::SelectObject(hDC, reinterpret_cast<HGDIOBJ>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
    ::DrawTextW(hDC, L"...", 3, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(hDC, hOldFont);
    ::ReleaseDC(m_hWnd, hDC);
    return lResult;
}

LRESULT CMFCEditBrowseCtrl::OnNcHitTest(WPARAM, LPARAM lParam)
{
    CRect rc = ButtonRect();
    if (rc.Width()) {
        CRect rcWindow;
        ::GetWindowRect(m_hWnd, &rcWindow);
        POINT pt = { short(LOWORD(lParam)) - rcWindow.left, short(HIWORD(lParam)) - rcWindow.top };
        if (::PtInRect(&rc, pt))
            return HTBORDER;   // not the client: the click arrives as WM_NCLBUTTONDOWN
    }
    return Default();
}

LRESULT CMFCEditBrowseCtrl::OnNcLButtonDown(WPARAM wParam, LPARAM lParam)
{
    if (wParam != HTBORDER || m_Mode == BrowseMode_None)
        return Default();
    (void)lParam;
    m_bPressed = true;
    ::RedrawWindow(m_hWnd, NULL, NULL, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    m_bPressed = false;
    ::RedrawWindow(m_hWnd, NULL, NULL, RDW_FRAME | RDW_INVALIDATE);
    OnBrowse();
    return 0;
}

void CMFCEditBrowseCtrl::OnBrowse()
{
    if (m_Mode != BrowseMode_Folder)
        return;
    CString strFolder;
    GetWindowText(strFolder);
    std::unique_ptr<CShellManager> pOwn;
    CShellManager* pShell = afxShellManager;
    if (!pShell) {
        pOwn.reset(new CShellManager);
        pShell = pOwn.get();
    }
    CString strChosen;
    if (pShell->BrowseForFolder(strChosen, GetParent(), strFolder)) {
        SetWindowText(strChosen);
        ::SendMessageW(::GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(m_hWnd), EN_CHANGE),
                       reinterpret_cast<LPARAM>(m_hWnd));
    }
    ::SetFocus(m_hWnd);
}
