// CDialog: modeless creation from a template, dialog init data, data
// exchange, and the default OK/Cancel handling.
#include "afxwin.h"
#include "afxdialogex.h"
#include "afxeditbrowsectrl.h"
#include "occimpl.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)
IMPLEMENT_DYNAMIC(CDialogEx, CDialog)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_MESSAGE(WM_INITDIALOG, &CDialog::HandleInitDialog)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CDialogEx, CDialog)
END_MESSAGE_MAP()

// Init data record whose text a control reads when it is bound (it can't
// take a message before then: its class is a plain EDIT or BUTTON).
static const WORD kMsgInitControl = 0x037C;

// The dialog manager needs a dialog procedure; every message it would get has
// already been through the dialog's message map.
static INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

CDialog::CDialog()
    : m_nIDHelp(0), m_lpszTemplateName(NULL), m_pParentWnd(NULL), m_lpDialogInit(NULL), m_dwDialogInitSize(0),
      m_bModal(false), m_bContinueModal(false), m_nModalResult(-1), m_pOccDialogInfo(NULL)
{
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_lpszTemplateName(MAKEINTRESOURCEW(nIDTemplate)), m_pParentWnd(pParentWnd),
      m_lpDialogInit(NULL), m_dwDialogInitSize(0), m_bModal(false), m_bContinueModal(false), m_nModalResult(-1),
      m_pOccDialogInfo(NULL)
{
}

static LPCVOID LoadResourceData(LPCWSTR lpszName, LPCWSTR lpszType, DWORD* pdwSize)
{
    HINSTANCE hInst = AfxGetResourceHandle();
    HRSRC hRes = ::FindResourceW(hInst, lpszName, lpszType);
    if (!hRes)
        return NULL;
    if (pdwSize)
        *pdwSize = ::SizeofResource(hInst, hRes);
    HGLOBAL hGlobal = ::LoadResource(hInst, hRes);
    return hGlobal ? ::LockResource(hGlobal) : NULL;
}

LPCDLGTEMPLATE CDialog::LoadTemplate()
{
    if (!m_lpszTemplateName)
        return NULL;
    m_lpDialogInit = LoadResourceData(m_lpszTemplateName, MAKEINTRESOURCEW(240) /* RT_DLGINIT */, &m_dwDialogInitSize);
    return static_cast<LPCDLGTEMPLATE>(LoadResourceData(m_lpszTemplateName, MAKEINTRESOURCEW(5) /* RT_DIALOG */, NULL));
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    m_lpszTemplateName = MAKEINTRESOURCEW(nIDTemplate);
    if (!m_nIDHelp)
        m_nIDHelp = nIDTemplate;
    if (pParentWnd)
        m_pParentWnd = pParentWnd;
    LPCDLGTEMPLATE lpTemplate = LoadTemplate();
    return lpTemplate ? CreateIndirect(lpTemplate, m_pParentWnd) : FALSE;
}

INT_PTR CDialog::DoModal()
{
    LPCDLGTEMPLATE lpTemplate = LoadTemplate();
    if (!lpTemplate)
        return -1;

    // Without a parent the owner is the thread's active top-level window, so
    // a box opened from the main dialog keeps it disabled while it runs.
    HWND hWndOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : ::GetActiveWindow();
    if (hWndOwner)
        hWndOwner = ::GetAncestor(hWndOwner, GA_ROOT);
    bool bEnableOwner = hWndOwner && ::IsWindowEnabled(hWndOwner);
    if (bEnableOwner)
        ::EnableWindow(hWndOwner, FALSE);

    m_bModal = true;
    m_bContinueModal = true;
    m_nModalResult = -1;
    if (CreateIndirect(lpTemplate, CWnd::FromHandle(hWndOwner))) {
        if (m_bContinueModal)
            RunModalLoop();
    } else {
        m_nModalResult = -1;
    }

    if (bEnableOwner)
        ::EnableWindow(hWndOwner, TRUE);
    if (m_hWnd) {
        ::SetWindowPos(m_hWnd, NULL, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        if (hWndOwner && ::GetActiveWindow() == m_hWnd)
            ::SetActiveWindow(hWndOwner);
        DestroyWindow();
    }
    m_bModal = false;
    return m_nModalResult;
}

void CDialog::RunModalLoop()
{
    if (m_hWnd && !(::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_VISIBLE))
        ShowWindow(SW_SHOWNORMAL);
    MSG msg;
    while (m_bContinueModal && m_hWnd) {
        BOOL bGot = ::GetMessageW(&msg, NULL, 0, 0);
        if (bGot == -1)
            break;
        if (!bGot) {
            // Leave the quit request for the loop that owns the thread.
            ::PostQuitMessage(int(msg.wParam));
            break;
        }
        if (!AfxPreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

BOOL CDialog::CreateIndirect(LPCDLGTEMPLATE lpDialogTemplate, CWnd* pParentWnd)
{
    AfxRegisterMFCCtrlClasses();
    // With the control container enabled, the dialog manager gets the
    // template without its OLE control items; HandleInitDialog makes them.
    _AFX_OCC_DIALOG_INFO occInfo;
    if (afxOccManager) {
        lpDialogTemplate = afxOccManager->PreCreateDialog(&occInfo, lpDialogTemplate);
        m_pOccDialogInfo = &occInfo;
    }
    AfxHookWindowCreate(this);
    HWND hWnd = ::CreateDialogIndirectParamW(AfxGetInstanceHandle(), lpDialogTemplate,
                                             pParentWnd ? pParentWnd->m_hWnd : NULL, &AfxDlgProc, 0);
    AfxUnhookWindowCreate();
    m_pOccDialogInfo = NULL;
    if (hWnd && occInfo.m_bCreateFailed && ::IsWindow(hWnd))
        ::DestroyWindow(hWnd);
    if (!hWnd || occInfo.m_bCreateFailed) {
        if (m_hWnd)
            Detach();
        return FALSE;
    }
    return TRUE;
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM)
{
    if (m_pOccDialogInfo &&
        !afxOccManager->CreateDlgControls(this, m_lpDialogInit, m_dwDialogInitSize, m_pOccDialogInfo)) {
        // A control the dialog needs is missing: the dialog is not made.
        // Its window goes at once, with the controls already made.
        TRACE("Error: the dialog's OLE controls could not be created.\n");
        m_pOccDialogInfo->m_bCreateFailed = TRUE;
        DestroyWindow();
        return FALSE;
    }
    if (m_lpDialogInit)
        ExecuteDlgInit(m_lpDialogInit, m_dwDialogInitSize);

    // The controls' events were held while the dialog was made: they flow
    // once OnInitDialog has bound the wrappers, however it ends.
    struct CEventThaw
    {
        CDialog* m_pDlg;
        HWND m_hWnd;
        ~CEventThaw()
        {
            if (CWnd::FromHandlePermanent(m_hWnd) == m_pDlg && m_pDlg->m_pCtrlCont)
                m_pDlg->m_pCtrlCont->FreezeAllEvents(FALSE);
        }
    } thaw = { this, m_hWnd };
    return OnInitDialog();
}

BOOL CDialog::ExecuteDlgInit(LPCVOID lpResource, DWORD dwSize)
{
    CDlgInitReader reader(lpResource, dwSize);
    AFX_DLGINIT_RECORD record;
    while (reader.Next(&record)) {
        // The state records of OLE controls were used when the controls were made.
        if (record.m_nMsg == kMsgInitControl)
            m_mapControlInitData[record.m_nIDC] =
                CStringA(reinterpret_cast<const char*>(record.m_pData), int(record.m_cbData));
        else if (!AfxIsOccInitMessage(record.m_nMsg))
            ::SendDlgItemMessageW(m_hWnd, record.m_nIDC, record.m_nMsg, record.m_cbData,
                                  reinterpret_cast<LPARAM>(record.m_pData));
    }
    return !reader.m_bTruncated;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int nResult)
{
    if (m_bModal) {
        m_nModalResult = nResult;
        m_bContinueModal = false;
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0);   // wake the modal loop
    }
    // For a modeless dialog the dialog manager only hides the window.
    ::EndDialog(m_hWnd, nResult);
}

CStringA CDialog::GetControlInitData(int nIDC) const
{
    auto it = m_mapControlInitData.find(nIDC);
    return it == m_mapControlInitData.end() ? CStringA() : it->second;
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST)
        return IsDialogMessage(pMsg);
    return FALSE;
}

HWND CDataExchange::PrepareCtrl(int nIDC)
{
    HWND hWndCtrl = ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC);
    if (!hWndCtrl) {
        TRACE("Error: no data exchange control with ID 0x%04X.\n", nIDC);
        AfxThrowNotSupportedException();
    }
    return hWndCtrl;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd || rControl.m_pCtrlSite)
        return;
    // A hosted OLE control is driven through its site; its window stays the control's own.
    if (COleControlContainer* pCtrlCont = pDX->m_pDlgWnd->m_pCtrlCont) {
        if (COleControlSite* pSite = pCtrlCont->FindItem(UINT(nIDC))) {
            pSite->AttachWrapper(&rControl);
            return;
        }
    }
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    if (!rControl.SubclassWindow(hWndCtrl))
        AfxThrowNotSupportedException();
}
