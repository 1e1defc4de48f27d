// COleControlSite's own work: creating one hosted control and loading its
// state, activating it in place, its window and its place, focus and keys,
// and releasing it.
#include "occimpl.h"

COleControlSite::COleControlSite(COleControlContainer* pCtrlCont)
    : m_pCtrlCont(pCtrlCont), m_pWndCtrl(NULL), m_hWnd(NULL), m_nID(0), m_dwStyle(0), m_rect(),
      m_dwEventCookie(0), m_iidEvents(IID_NULL), m_dwMiscStatus(0), m_ctlInfo(), m_bEventsFrozen(FALSE), m_cRef(1),
      m_bReleasing(FALSE), m_xEventSink(this), m_xInPlaceFrame(this), m_xOleContainer(this)
{
}

COleControlSite::~COleControlSite()
{
    ReleaseControl();
}

HWND COleControlSite::ContainerWindow() const
{
    return m_pCtrlCont && m_pCtrlCont->m_pWnd ? m_pCtrlCont->m_pWnd->m_hWnd : NULL;
}

// What a method the container does not implement answers; the trace line

SIZE AfxPixelsPerInch(HWND hWnd)
{
    HDC hdc = ::GetDC(hWnd);
    SIZE size = { ::GetDeviceCaps(hdc, LOGPIXELSX), ::GetDeviceCaps(hdc, LOGPIXELSY) };
    ::ReleaseDC(hWnd, hdc);
    if (size.cx <= 0 || size.cy <= 0)
        size.cx = size.cy = 96;
    return size;
}

namespace {

// A control's extent for a size in pixels, and back.
SIZEL PixelsToHimetric(SIZE perInch, LONG cx, LONG cy)
{
    return { ::MulDiv(cx, kHimetricPerInch, perInch.cx), ::MulDiv(cy, kHimetricPerInch, perInch.cy) };
}

SIZE HimetricToPixels(SIZE perInch, SIZEL sizeExtent)
{
    return { ::MulDiv(sizeExtent.cx, perInch.cx, kHimetricPerInch),
             ::MulDiv(sizeExtent.cy, perInch.cy, kHimetricPerInch) };
}

// Starts a control that persists in a storage anew, in a new storage in
// memory that it keeps to save into.
HRESULT InitNewStorage(IPersistStorage* pPersist)
{
    ILockBytes* pBytes = NULL;
    IStorage* pStorage = NULL;
    HRESULT hr = ::CreateILockBytesOnHGlobal(NULL, TRUE, &pBytes);
    if (SUCCEEDED(hr))
        hr = ::StgCreateDocfileOnILockBytes(pBytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &pStorage);
    if (SUCCEEDED(hr)) {
        hr = pPersist->InitNew(pStorage);
        pStorage->Release();
    }
    if (pBytes)
        pBytes->Release();
    return hr;
}

} // namespace

// --- Creation -----------------------------------------------------------------
HRESULT COleControlSite::CreateControl(REFCLSID clsid, DWORD dwStyle, const RECT& rect, UINT nID,
                                       IStream* pStream, IStorage* pStorage, BSTR bstrLicKey, BOOL bFreezeEvents)
{
    m_nID = nID;
    m_dwStyle = dwStyle;
    m_rect = rect;
    HWND hWndParent = ContainerWindow();

    HRESULT hr;
    if (bstrLicKey) {
        CComRef<IClassFactory2> pFactory;
        hr = ::CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, NULL, IID_IClassFactory2, pFactory.ReceiveVoid());
        if (SUCCEEDED(hr))
            hr = pFactory->CreateInstanceLic(NULL, NULL, IID_IUnknown, bstrLicKey, m_pObject.ReceiveVoid());
    } else {
        hr = ::CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, m_pObject.ReceiveVoid());
    }
    if (FAILED(hr)) {
        m_pObject.Detach();   // whatever a failed call left there is no reference
        return hr;
    }
    if (FAILED(hr = m_pOleObject.QueryFrom(m_pObject, IID_IOleObject)))
        return hr;
    m_pOleObject->GetMiscStatus(DVASPECT_CONTENT, &m_dwMiscStatus);
    // Held before anything could raise one.
    if (bFreezeEvents)
        FreezeEvents(TRUE);

    // Some controls read ambient properties while they load: they ask for the site first.
    const bool bSiteFirst = (m_dwMiscStatus & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (bSiteFirst && FAILED(hr = m_pOleObject->SetClientSite(this)))
        return hr;
    if (FAILED(hr = LoadState(pStream, pStorage)))
        return hr;
    if (!bSiteFirst && FAILED(hr = m_pOleObject->SetClientSite(this)))
        return hr;

    // The extent in HIMETRIC, from the place in pixels of the container's screen.
    SIZEL sizeExtent = PixelsToHimetric(AfxPixelsPerInch(hWndParent), rect.right - rect.left, rect.bottom - rect.top);
    m_pOleObject->SetExtent(DVASPECT_CONTENT, &sizeExtent);
    GetControlInfo();

    // A control without events, or one that can't connect them, still works.
    if (FAILED(ConnectEvents()))
        TRACE("Warning: the events of control %u are not connected.\n", nID);

    m_pDispatch.QueryFrom(m_pObject, IID_IDispatch);

    // A control invisible at run time (a timer, a connection) works without a
    // window: it is called and raises events, but is never activated.
    if (m_dwMiscStatus & OLEMISC_INVISIBLEATRUNTIME)
        return S_OK;

    // Asked for before activating, so a place the control asks for meanwhile is applied.
    if (FAILED(hr = m_pInPlaceObject.QueryFrom(m_pObject, IID_IOleInPlaceObject)))
        return hr;
    hr = m_pOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, NULL, this, 0, hWndParent, &m_rect);
    if (FAILED(hr))
        return hr;
    // Only windowed controls are hosted.
    UpdateControlWindow();
    if (!m_hWnd)
        return E_FAIL;
    ::ShowWindow(m_hWnd, (dwStyle & WS_VISIBLE) ? SW_SHOWNA : SW_HIDE);
    return S_OK;
}

// The state saved in pStorage or pStream, or (with neither) a new start,
// through whichever way the control persists. State in a form the control
// can't load fails it (E_NOINTERFACE): it is never replaced by a new start.
// A new start answered with E_NOTIMPL means there is nothing to initialise.
HRESULT COleControlSite::LoadState(IStream* pStream, IStorage* pStorage)
{
    const HRESULT hr = LoadOrInitNew(pStream, pStorage);
    return hr == E_NOTIMPL && !pStream && !pStorage ? S_OK : hr;
}

HRESULT COleControlSite::LoadOrInitNew(IStream* pStream, IStorage* pStorage)
{
    HRESULT hr = E_NOINTERFACE;
    if (pStorage) {
        AfxWithInterface<IPersistStorage>(m_pObject, IID_IPersistStorage,
                                       [&](IPersistStorage* p) { hr = p->Load(pStorage); });
        return hr;
    }
    if (AfxWithInterface<IPersistStreamInit>(m_pObject, IID_IPersistStreamInit, [&](IPersistStreamInit* p) {
            hr = pStream ? p->Load(pStream) : p->InitNew();
        }))
        return hr;
    if (pStream) {
        AfxWithInterface<IPersistStream>(m_pObject, IID_IPersistStream,
                                      [&](IPersistStream* p) { hr = p->Load(pStream); });
        return hr;
    }
    if (AfxWithInterface<IPersistStorage>(m_pObject, IID_IPersistStorage,
                                       [&](IPersistStorage* p) { hr = InitNewStorage(p); }) ||
        AfxWithInterface<IPersistPropertyBag>(m_pObject, IID_IPersistPropertyBag,
                                           [&](IPersistPropertyBag* p) { hr = p->InitNew(); }))
        return hr;
    return S_OK;   // nothing to load, nothing to initialise
}

// The control's default source interface: named by the control when it
// offers IProvideClassInfo2, else found in its class's type information. The
// sink implements IDispatch only, so a source that is a vtable or dual
// --- Release ------------------------------------------------------------------
void COleControlSite::ReleaseControl()
{
    if (m_bReleasing)
        return;
    m_bReleasing = TRUE;
    DetachWrapper();
    // Taken off the site first: what the control does meanwhile finds it let go.
    CComRef<IConnectionPoint> pEventPoint = m_pEventPoint;
    CComRef<IOleObject> pOleObject = m_pOleObject;
    CComRef<IUnknown> pObject = m_pObject;
    m_pEventPoint.Release();
    m_pActiveObject.Release();
    m_pInPlaceObject.Release();
    m_pDispatch.Release();
    m_pOleObject.Release();
    m_pObject.Release();
    SetWindowHandle(NULL);
    CComRef<COleControlSite> hold(this);   // the calls below may let go of the site
    if (pEventPoint)
        pEventPoint->Unadvise(m_dwEventCookie);
    if (pOleObject) {
        pOleObject->Close(OLECLOSE_NOSAVE);
        pOleObject->SetClientSite(NULL);
    }
    SetWindowHandle(NULL);   // a window the control made meanwhile is not kept either
}

void COleControlSite::AttachWrapper(CWnd* pWnd)
{
    DetachWrapper();
    m_pWndCtrl = pWnd;
    pWnd->m_pCtrlSite = this;
    pWnd->m_hWnd = m_hWnd;
}

void COleControlSite::DetachWrapper()
{
    if (m_pWndCtrl) {
        m_pWndCtrl->m_pCtrlSite = NULL;
        m_pWndCtrl->m_hWnd = NULL;
        m_pWndCtrl = NULL;
    }
}

// --- The window and the place ---------------------------------------------------
void COleControlSite::SetWindowHandle(HWND hWnd)
{
    m_hWnd = hWnd;
    if (m_pWndCtrl)
        m_pWndCtrl->m_hWnd = hWnd;
}

void COleControlSite::ForgetDeadWindow()
{
    if (m_hWnd && !::IsWindow(m_hWnd))
        SetWindowHandle(NULL);
}

void COleControlSite::UpdateControlWindow()
{
    HWND hWnd = NULL;
    if (!m_pInPlaceObject || FAILED(m_pInPlaceObject->GetWindow(&hWnd)) || !::IsWindow(hWnd))
        hWnd = NULL;
    if (!hWnd || hWnd == m_hWnd) {
        ForgetDeadWindow();   // a live one stays until it goes
        return;
    }
    // The control's window takes the item's id, so the dialog finds it, and
    // the item's tab stop and group.
    ::SetWindowLongPtrW(hWnd, GWLP_ID, LONG_PTR(m_nID));
    const DWORD dwTaken = WS_TABSTOP | WS_GROUP;
    const DWORD dwOwn = DWORD(::GetWindowLongW(hWnd, GWL_STYLE));
    ::SetWindowLongW(hWnd, GWL_STYLE, LONG((dwOwn & ~dwTaken) | (m_dwStyle & dwTaken)));
    // The container hears when it is destroyed (WM_PARENTNOTIFY), or its handle would outlive it.
    const DWORD dwOwnEx = DWORD(::GetWindowLongW(hWnd, GWL_EXSTYLE));
    if (dwOwnEx & WS_EX_NOPARENTNOTIFY)
        ::SetWindowLongW(hWnd, GWL_EXSTYLE, LONG(dwOwnEx & ~WS_EX_NOPARENTNOTIFY));
    SetWindowHandle(hWnd);
    // The item's enabled state, told to the control (WM_ENABLE), which may do anything meanwhile.
    CComRef<COleControlSite> hold(this);
    ::EnableWindow(hWnd, !(m_dwStyle & WS_DISABLED));
}

void COleControlSite::OnWindowDestroyed()
{
    SetWindowHandle(NULL);
}

void COleControlSite::MoveWindow(int x, int y, int nWidth, int nHeight)
{
    // The size the control takes is the extent it answers; one that refuses
    // a new extent keeps its size and is only moved.
    // Held across the calls, which may let go of the site.
    CComRef<COleControlSite> hold(this);
    CComRef<IOleObject> pOleObject = m_pOleObject;
    CComRef<IOleInPlaceObject> pInPlaceObject = m_pInPlaceObject;
    const SIZE perInch = AfxPixelsPerInch(ContainerWindow());
    SIZEL sizeExtent = PixelsToHimetric(perInch, nWidth, nHeight);
    const bool bSized = pOleObject && SUCCEEDED(pOleObject->SetExtent(DVASPECT_CONTENT, &sizeExtent));
    if (!bSized) {
        nWidth = m_rect.right - m_rect.left;
        nHeight = m_rect.bottom - m_rect.top;
    } else if (SUCCEEDED(pOleObject->GetExtent(DVASPECT_CONTENT, &sizeExtent))) {
        const SIZE size = HimetricToPixels(perInch, sizeExtent);
        nWidth = size.cx;
        nHeight = size.cy;
    }
    m_rect = { x, y, x + nWidth, y + nHeight };
    // An inactive control finds the place in GetWindowContext when it is activated again.
    const RECT rect = m_rect;
    if (pInPlaceObject)
        pInPlaceObject->SetObjectRects(&rect, &rect);
}

BOOL COleControlSite::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
{
    CComRef<COleControlSite> hold(this);
    if ((nFlags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) {
        if (nFlags & SWP_NOMOVE) {
            x = m_rect.left;
            y = m_rect.top;
        }
        if (nFlags & SWP_NOSIZE) {
            cx = m_rect.right - m_rect.left;
            cy = m_rect.bottom - m_rect.top;
        }
        MoveWindow(x, y, cx, cy);
    }
    ForgetDeadWindow();
    if (!m_hWnd)
        return TRUE;
    return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : NULL, 0, 0, 0, 0,
                          nFlags | SWP_NOMOVE | SWP_NOSIZE);
}

// --- Focus, keys and events -------------------------------------------------------
void COleControlSite::SetFocus(LPMSG lpMsg)
{
    CComRef<COleControlSite> hold(this);
    if (!(m_dwMiscStatus & OLEMISC_NOUIACTIVATE) && m_pOleObject) {
        CComRef<IOleObject> pOleObject = m_pOleObject;
        RECT rect = m_rect;
        pOleObject->DoVerb(OLEIVERB_UIACTIVATE, lpMsg, this, 0, ContainerWindow(), &rect);
        UpdateControlWindow();   // activating may have made it a new window
    }
    const HWND hWndFocus = ::GetFocus();
    ForgetDeadWindow();
    if (m_hWnd && hWndFocus != m_hWnd && !::IsChild(m_hWnd, hWndFocus))
        ::SetFocus(m_hWnd);
    if (m_pCtrlCont)
        m_pCtrlCont->m_pSiteFocus = m_pCtrlCont->FindSiteOfWindow(::GetFocus());
}

void COleControlSite::SetActiveObject(IOleInPlaceActiveObject* pActiveObject)
{
    // A control that keeps its site after it was let go is not held by it.
    m_pActiveObject = m_pObject ? pActiveObject : NULL;
}

void COleControlSite::FreezeEvents(BOOL bFreeze)
{
    CComRef<COleControlSite> hold(this);   // events let go of here may let go of the site
    m_bEventsFrozen = bFreeze;
    AfxWithInterface<IOleControl>(m_pObject, IID_IOleControl,
                               [&](IOleControl* pControl) { pControl->FreezeEvents(bFreeze); });
}

void COleControlSite::GetControlInfo()
{
    m_ctlInfo = CONTROLINFO();
    m_ctlInfo.cb = sizeof m_ctlInfo;
    AfxWithInterface<IOleControl>(m_pObject, IID_IOleControl, [&](IOleControl* pControl) {
        if (FAILED(pControl->GetControlInfo(&m_ctlInfo))) {
            m_ctlInfo = CONTROLINFO();
            m_ctlInfo.cb = sizeof m_ctlInfo;
        }
    });
}

COleControlSite::KeyAnswer COleControlSite::PreTranslateKey(LPMSG lpMsg)
{
    const DWORD dwCtlFlags = m_ctlInfo.dwFlags;   // the site may be let go during the call
    if (CComRef<IOleInPlaceActiveObject> pActiveObject = m_pActiveObject)
        if (pActiveObject->TranslateAccelerator(lpMsg) == S_OK)
            return keyTaken;
    const UINT uMsg = lpMsg->message;
    if ((uMsg == WM_KEYDOWN || uMsg == WM_KEYUP || uMsg == WM_CHAR) &&
        ((lpMsg->wParam == VK_RETURN && (dwCtlFlags & CTRLINFO_EATS_RETURN)) ||
         (lpMsg->wParam == VK_ESCAPE && (dwCtlFlags & CTRLINFO_EATS_ESCAPE))))
        return keyForControlWindow;
    return keyNotTaken;
}

BOOL COleControlSite::IsMatchingMnemonic(LPMSG lpMsg) const
{
    // A control the user can't reach has no mnemonics.
    if (!m_ctlInfo.hAccel || !m_ctlInfo.cAccel ||
        (m_hWnd && (::GetWindowLongW(m_hWnd, GWL_STYLE) & (WS_VISIBLE | WS_DISABLED)) != WS_VISIBLE))
        return FALSE;
    WORD wCmd = 0;
    return ::IsAccelerator(m_ctlInfo.hAccel, m_ctlInfo.cAccel, lpMsg, &wCmd);
}

void COleControlSite::SendMnemonic(LPMSG lpMsg)
{
    CComRef<COleControlSite> hold(this);
    if (!(m_dwMiscStatus & OLEMISC_NOUIACTIVATE))
        SetFocus(lpMsg);
    AfxWithInterface<IOleControl>(m_pObject, IID_IOleControl,
                               [&](IOleControl* pControl) { pControl->OnMnemonic(lpMsg); });
}
