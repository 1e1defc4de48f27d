// COleControlContainer and the dialog side of control hosting: the controls
// of a dialog template made at their places during WM_INITDIALOG, each with
// its saved state from the dialog init data, and the keys of a window that
// hosts controls routed through the focused control first.
#include "occimpl.h"

#include <algorithm>

COccManager* afxOccManager = NULL;

void AfxEnableControlContainer()
{
    static COccManager s_occManager;
    afxOccManager = &s_occManager;
}

// Hosting needs OLE on the thread. A thread that did not initialise it gets
// it here, for the rest of its life; one that did keeps its own count.
static void AfxOleInitThread()
{
    static thread_local bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    HRESULT hr = ::OleInitialize(NULL);
    if (hr == S_FALSE)
        ::OleUninitialize();
}

// --- Letting go later --------------------------------------------------------------
namespace {

const wchar_t s_szReleaseClass[] = L"AfxReleaseLater";
const UINT s_nReleaseMessage = WM_APP;

// Releases the object each message carries.
LRESULT CALLBACK ReleaseWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != s_nReleaseMessage)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    reinterpret_cast<IUnknown*>(lParam)->Release();
    return 0;
}

// The thread's message-only window that releases objects, made on first use.
HWND ReleaseWindow()
{
    static thread_local HWND t_hWnd = NULL;   // plain data: no thread-local destructor
    if (t_hWnd && ::IsWindow(t_hWnd))
        return t_hWnd;
    static const ATOM s_atom = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &ReleaseWndProc;
        wc.hInstance = ::GetModuleHandleW(NULL);
        wc.lpszClassName = s_szReleaseClass;
        return ::RegisterClassW(&wc);
    }();
    t_hWnd = s_atom ? ::CreateWindowExW(0, s_szReleaseClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                        ::GetModuleHandleW(NULL), NULL)
                    : NULL;
    return t_hWnd;
}

} // namespace

void AfxReleaseLater(IUnknown* p)
{
    if (!p)
        return;
    HWND hWnd = ReleaseWindow();
    if (!hWnd || !::PostMessageW(hWnd, s_nReleaseMessage, 0, reinterpret_cast<LPARAM>(p))) {
        TRACE("Warning: an object is released at once, the thread's queue can't take it.\n");
        p->Release();
    }
}

// --- COleControlContainer -----------------------------------------------------
namespace {

// Tells, after a call out to a control, whether the container still exists:
// it goes with its window's WM_DESTROY or its window object.
class CContainerWatch
{
public:
    explicit CContainerWatch(COleControlContainer* pCtrlCont)
        : m_pCtrlCont(pCtrlCont), m_pWnd(pCtrlCont->m_pWnd), m_hWnd(pCtrlCont->m_pWnd->m_hWnd)
    {
    }
    bool Alive() const { return CWnd::FromHandlePermanent(m_hWnd) == m_pWnd && m_pWnd->m_pCtrlCont == m_pCtrlCont; }

private:
    COleControlContainer* m_pCtrlCont;
    CWnd* m_pWnd;
    HWND m_hWnd;
};

} // namespace

COleControlContainer::COleControlContainer(CWnd* pWnd) : m_pWnd(pWnd), m_pSiteUIActive(NULL), m_pSiteFocus(NULL) {}

COleControlContainer::~COleControlContainer()
{
    // Last created, first released.
    while (!m_sites.empty())
        DestroyControl(m_sites.back());
}

COleControlSite* COleControlContainer::CreateControl(CWnd* pWndCtrl, REFCLSID clsid, DWORD dwStyle, const RECT& rect,
                                                     UINT nID, IStream* pStream, IStorage* pStorage, BSTR bstrLicKey,
                                                     BOOL bFreezeEvents)
{
    AfxOleInitThread();
    COleControlSite* pSite = new COleControlSite(this);
    // An event the control raises while it is made may destroy the container.
    CContainerWatch watch(this);
    HRESULT hr = pSite->CreateControl(clsid, dwStyle, rect, nID, pStream, pStorage, bstrLicKey, bFreezeEvents);
    const bool bAlive = watch.Alive();
    if (FAILED(hr) || !bAlive) {
        TRACE("Error: control %u could not be created (0x%08lX).\n", nID, static_cast<unsigned long>(hr));
        pSite->m_pCtrlCont = NULL;
        pSite->ReleaseControl();
        pSite->Release();
        return NULL;
    }
    m_sites.push_back(pSite);
    if (pWndCtrl)
        pSite->AttachWrapper(pWndCtrl);
    return pSite;
}

COleControlSite* COleControlContainer::FindItem(UINT nID) const
{
    for (COleControlSite* pSite : m_sites)
        if (pSite->m_nID == nID)
            return pSite;
    return NULL;
}

COleControlSite* COleControlContainer::FindSiteOfWindow(HWND hWnd) const
{
    for (; hWnd && hWnd != m_pWnd->m_hWnd; hWnd = ::GetParent(hWnd)) {
        for (COleControlSite* pSite : m_sites)
            if (pSite->m_hWnd == hWnd)
                return pSite;
        if (!(::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD))
            break;
    }
    return NULL;
}

void COleControlContainer::DestroyControl(COleControlSite* pSite)
{
    auto it = std::find(m_sites.begin(), m_sites.end(), pSite);
    if (it == m_sites.end())
        return;
    // The container is done with the site before the control is called: the
    // calls may destroy the container too.
    m_sites.erase(it);
    if (m_pSiteFocus == pSite)
        m_pSiteFocus = NULL;
    if (m_pSiteUIActive == pSite)
        m_pSiteUIActive = NULL;
    pSite->m_pCtrlCont = NULL;   // no more events to route
    pSite->ReleaseControl();
    pSite->Release();
}

void COleControlContainer::FreezeAllEvents(BOOL bFreeze)
{
    // A copy: a handler of an event let go here may destroy a control, or all of them.
    const std::vector<COleControlSite*> sites = m_sites;
    CContainerWatch watch(this);
    for (COleControlSite* pSite : sites) {
        if (!watch.Alive())
            return;
        if (std::find(m_sites.begin(), m_sites.end(), pSite) == m_sites.end())
            continue;
        if (bFreeze || pSite->m_bEventsFrozen)
            pSite->FreezeEvents(bFreeze);
    }
}

// Takes UI activation from the UI-active control, unless it is pSite; FALSE
// when the container is gone after the control's call.
BOOL COleControlContainer::UIDeactivateOthers(COleControlSite* pSite)
{
    COleControlSite* pSiteOld = m_pSiteUIActive;
    if (!pSiteOld || pSiteOld == pSite)
        return TRUE;
    m_pSiteUIActive = NULL;
    CContainerWatch watch(this);
    CComRef<IOleInPlaceObject> pInPlaceObject = pSiteOld->m_pInPlaceObject;
    if (pInPlaceObject)
        pInPlaceObject->UIDeactivate();
    return watch.Alive();
}

void COleControlContainer::OnUIActivate(COleControlSite* pSite)
{
    CComRef<COleControlSite> hold(pSite);
    if (UIDeactivateOthers(pSite) && pSite->m_pCtrlCont == this)
        m_pSiteUIActive = pSite;
}

void COleControlContainer::OnUIDeactivate(COleControlSite* pSite)
{
    if (m_pSiteUIActive == pSite)
        m_pSiteUIActive = NULL;
}

void COleControlContainer::OnFocusChanged(LPMSG lpMsg)
{
    COleControlSite* pSite = FindSiteOfWindow(::GetFocus());
    if (pSite == m_pSiteFocus)
        return;
    m_pSiteFocus = pSite;
    CComRef<COleControlSite> hold(pSite);
    if (UIDeactivateOthers(pSite) && pSite && pSite->m_pCtrlCont == this && pSite != m_pSiteUIActive)
        pSite->SetFocus(lpMsg);
}

BOOL COleControlContainer::HasMnemonics() const
{
    return std::any_of(m_sites.begin(), m_sites.end(), [](COleControlSite* p) { return p->m_ctlInfo.cAccel > 0; });
}

COleControlSite* COleControlContainer::FindMnemonic(LPMSG lpMsg) const
{
    auto it = std::find_if(m_sites.begin(), m_sites.end(), [&](COleControlSite* p) { return p->IsMatchingMnemonic(lpMsg); });
    return it != m_sites.end() ? *it : NULL;
}

void COleControlContainer::OnChildDestroyed(HWND hWndChild)
{
    for (COleControlSite* pSite : m_sites)
        if (pSite->m_hWnd == hWndChild)
            pSite->OnWindowDestroyed();
}

// --- CWnd::CreateControl ------------------------------------------------------
BOOL CWnd::CreateControl(REFCLSID clsid, LPCTSTR /*lpszWindowName*/, DWORD dwStyle, const RECT& rect,
                         CWnd* pParentWnd, UINT nID, CFile* pPersist, BOOL /*bStorage*/, BSTR bstrLicKey)
{
    if (m_hWnd || m_pCtrlSite || !pParentWnd || !pParentWnd->m_hWnd)
        return FALSE;
    // The container lives on the parent object and goes at its window's
    // WM_DESTROY: a temporary object (deleted when the dispatch ends) or one
    // whose messages the framework doesn't see would leave the controls behind.
    if (CWnd::FromHandlePermanent(pParentWnd->m_hWnd) != pParentWnd || !pParentWnd->m_pfnSuper) {
        TRACE("Error: a control's parent must be a window the framework subclassed.\n");
        return FALSE;
    }
    if (pPersist) {
        TRACE("Error: loading a control's state from a file is not supported.\n");
        return FALSE;
    }
    if (!pParentWnd->m_pCtrlCont)
        pParentWnd->m_pCtrlCont = new COleControlContainer(pParentWnd);
    return pParentWnd->m_pCtrlCont->CreateControl(this, clsid, dwStyle, rect, nID, NULL, NULL, bstrLicKey, FALSE) !=
           NULL;
}

// --- Controls of a dialog template -------------------------------------------
// A copy of the saved bytes in movable memory, which a stream or storage
// over it may grow.
static HGLOBAL CopyToGlobal(const BYTE* pData, DWORD cb)
{
    HGLOBAL hGlobal = ::GlobalAlloc(GMEM_MOVEABLE, cb ? cb : 1);
    if (!hGlobal)
        return NULL;
    void* pDest = ::GlobalLock(hGlobal);
    if (!pDest) {
        ::GlobalFree(hGlobal);
        return NULL;
    }
    memcpy(pDest, pData, cb);
    ::GlobalUnlock(hGlobal);
    return hGlobal;
}

// A stream over a copy of the saved bytes.
static HRESULT MakeStateStream(const BYTE* pData, DWORD cb, IStream** ppStream)
{
    HGLOBAL hGlobal = CopyToGlobal(pData, cb);
    if (!hGlobal)
        return E_OUTOFMEMORY;
    HRESULT hr = ::CreateStreamOnHGlobal(hGlobal, TRUE, ppStream);
    if (FAILED(hr)) {
        ::GlobalFree(hGlobal);
        return hr;
    }
    ULARGE_INTEGER size;
    size.QuadPart = cb;
    return (*ppStream)->SetSize(size);
}

// The storage (a compound file) the saved bytes hold, opened on a copy.
static HRESULT MakeStateStorage(const BYTE* pData, DWORD cb, IStorage** ppStorage)
{
    HGLOBAL hGlobal = CopyToGlobal(pData, cb);
    if (!hGlobal)
        return E_OUTOFMEMORY;
    ILockBytes* pBytes = NULL;
    HRESULT hr = ::CreateILockBytesOnHGlobal(hGlobal, TRUE, &pBytes);
    if (FAILED(hr)) {
        ::GlobalFree(hGlobal);
        return hr;
    }
    ULARGE_INTEGER size;
    size.QuadPart = cb;
    pBytes->SetSize(size);
    hr = ::StgOpenStorageOnILockBytes(pBytes, NULL, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT, NULL, 0,
                                      ppStorage);
    pBytes->Release();
    return hr;
}

// Creates one control of a dialog template with its saved state; NULL when
// it can't be made or its state can't be read.
static COleControlSite* CreateDlgControl(CWnd* pWndDlg, const _AFX_OCC_DIALOG_INFO::ItemInfo& item,
                                         const RECT& rect, LPCVOID lpDlgInit, DWORD dwDlgInitSize)
{
    AFX_OCC_CONTROL_STATE state;
    if (!AfxGetControlState(lpDlgInit, dwDlgInitSize, item.m_nID, &state)) {
        TRACE("Error: the saved state of control %u in the dialog init data can't be read.\n", item.m_nID);
        return NULL;
    }
    IStream* pStream = NULL;
    IStorage* pStorage = NULL;
    HRESULT hr = S_OK;
    if (state.m_nMsg == WM_OCC_LOADFROMSTREAM)
        hr = MakeStateStream(state.m_pData, state.m_cbData, &pStream);
    else if (state.m_nMsg == WM_OCC_LOADFROMSTORAGE)
        hr = MakeStateStorage(state.m_pData, state.m_cbData, &pStorage);
    BSTR bstrLicKey = NULL;
    if (SUCCEEDED(hr) && !state.m_strLicKey.IsEmpty() &&
        !(bstrLicKey = ::SysAllocStringLen(state.m_strLicKey, UINT(state.m_strLicKey.GetLength()))))
        hr = E_OUTOFMEMORY;
    COleControlSite* pSite = NULL;
    if (SUCCEEDED(hr)) {
        // Its events wait until the dialog has run OnInitDialog.
        pSite = pWndDlg->m_pCtrlCont->CreateControl(NULL, item.m_clsid, item.m_dwStyle, rect, item.m_nID, pStream,
                                                     pStorage, bstrLicKey, TRUE);
    } else {
        TRACE("Error: the saved state of control %u can't be opened (0x%08lX).\n", item.m_nID,
              static_cast<unsigned long>(hr));
    }
    ::SysFreeString(bstrLicKey);
    if (pStream)
        pStream->Release();
    if (pStorage)
        pStorage->Release();
    return pSite;
}

BOOL COccManager::CreateDlgControls(CWnd* pWndDlg, LPCVOID lpDlgInit, DWORD dwDlgInitSize,
                                    _AFX_OCC_DIALOG_INFO* pInfo)
{
    if (pInfo->m_items.empty())
        return TRUE;
    // The dialog's ordinary controls, in template order, to place each OLE
    // control after the item before it.
    std::vector<HWND> plain;
    for (HWND hChild = ::GetWindow(pWndDlg->m_hWnd, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT))
        plain.push_back(hChild);

    if (!pWndDlg->m_pCtrlCont)
        pWndDlg->m_pCtrlCont = new COleControlContainer(pWndDlg);
    HWND hWndPrevOle = NULL;
    UINT nPrevOleIndex = UINT(-1);
    for (const _AFX_OCC_DIALOG_INFO::ItemInfo& item : pInfo->m_items) {
        RECT rc = item.m_rcDialogUnits;
        ::MapDialogRect(pWndDlg->m_hWnd, &rc);
        COleControlSite* pSite = CreateDlgControl(pWndDlg, item, rc, lpDlgInit, dwDlgInitSize);
        if (!pSite)
            return FALSE;
        if (!pSite->m_hWnd)
            continue;   // invisible at run time: no window to place

        HWND hWndAfter = HWND_TOP;
        if (item.m_nIndex > 0)
            hWndAfter = nPrevOleIndex == item.m_nIndex - 1 ? hWndPrevOle
                        : item.m_nPlainBefore > 0 && item.m_nPlainBefore <= plain.size()
                            ? plain[item.m_nPlainBefore - 1]
                            : HWND_TOP;
        ::SetWindowPos(pSite->m_hWnd, hWndAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        hWndPrevOle = pSite->m_hWnd;
        nPrevOleIndex = item.m_nIndex;
    }
    return TRUE;
}

// --- Keys -----------------------------------------------------------------------
// Whether the window with the focus takes typed characters itself, so that a
// plain letter is no mnemonic there.
static bool FocusWantsChars(LPMSG lpMsg)
{
    HWND hWndFocus = ::GetFocus();
    return hWndFocus && (::SendMessageW(hWndFocus, WM_GETDLGCODE, lpMsg->wParam, reinterpret_cast<LPARAM>(lpMsg)) &
                         (DLGC_WANTCHARS | DLGC_WANTALLKEYS | DLGC_WANTMESSAGE));
}

BOOL COccManager::IsDialogMessage(CWnd* pWndDlg, LPMSG lpMsg)
{
    const HWND hWndDlg = pWndDlg->m_hWnd;
    COleControlContainer* pCtrlCont = pWndDlg->m_pCtrlCont;
    const UINT uMsg = lpMsg->message;
    if (!pCtrlCont || uMsg < WM_KEYFIRST || uMsg > WM_KEYLAST)
        return ::IsDialogMessageW(hWndDlg, lpMsg);

    // A control that took the focus (by a click, say) is UI-active before it sees the key.
    CContainerWatch watch(pCtrlCont);
    pCtrlCont->OnFocusChanged(lpMsg);
    // The dialog (and its container) may be gone after any call into a control.
    if (!watch.Alive())
        return TRUE;

    // The focused control first: its active object takes what it wants, and
    // Enter and Escape go to a control that declared it eats them, not to the dialog.
    if (COleControlSite* pSite = pCtrlCont->m_pSiteFocus) {
        switch (pSite->PreTranslateKey(lpMsg)) {
        case COleControlSite::keyTaken:
            return TRUE;
        case COleControlSite::keyForControlWindow:
            return !watch.Alive();
        case COleControlSite::keyNotTaken:
            if (!watch.Alive())
                return TRUE;
            break;
        }
    }

    // Then the mnemonics the controls declared: with Alt, or as a plain key
    // where the focus takes no characters (asking the focus is a call out).
    if (pCtrlCont->HasMnemonics() &&
        (uMsg == WM_SYSKEYDOWN || uMsg == WM_SYSCHAR ||
         ((uMsg == WM_KEYDOWN || uMsg == WM_CHAR) && !FocusWantsChars(lpMsg)))) {
        if (!watch.Alive())
            return TRUE;
        if (COleControlSite* pSite = pCtrlCont->FindMnemonic(lpMsg)) {
            pSite->SendMnemonic(lpMsg);   // holds its site; nothing of the container is used after it
            return TRUE;
        }
    }

    // Then the dialog manager; a control it moved the focus to is UI-activated.
    const HWND hWndFocus = ::GetFocus();
    const BOOL bResult = ::IsDialogMessageW(hWndDlg, lpMsg);
    if (bResult && ::GetFocus() != hWndFocus && watch.Alive())
        pCtrlCont->OnFocusChanged(lpMsg);
    return bResult;
}

BOOL CWnd::IsDialogMessage(LPMSG lpMsg)
{
    if (m_pCtrlCont && afxOccManager)
        return afxOccManager->IsDialogMessage(this, lpMsg);
    return ::IsDialogMessageW(m_hWnd, lpMsg);
}
