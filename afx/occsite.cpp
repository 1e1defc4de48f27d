// COleControlSite: creating one hosted control, the interfaces the control
// calls back (client site, in-place sites, frame, container, control site,
// service provider, ambient properties), its event sink, and its release.
#include "afxdisp.h"

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
// shows a control asking for it.
#define AFX_OCC_NOTIMPL(name) (TRACE("Warning: the control container does not implement %s.\n", name), E_NOTIMPL)

namespace {

const int kHimetricPerInch = 2540;   // HIMETRIC units are 0.01 mm

// The screen's pixels per logical inch, as the container's window sees them.
SIZE PixelsPerInch(HWND hWnd)
{
    HDC hdc = ::GetDC(hWnd);
    SIZE size = { ::GetDeviceCaps(hdc, LOGPIXELSX), ::GetDeviceCaps(hdc, LOGPIXELSY) };
    ::ReleaseDC(hWnd, hdc);
    if (size.cx <= 0 || size.cy <= 0)
        size.cx = size.cy = 96;
    return size;
}

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

// Calls fn with the object's interface riid; FALSE when it has none.
template <class T, class F> bool WithInterface(IUnknown* pObject, REFIID riid, F fn)
{
    CComRef<T> p;
    if (FAILED(p.QueryFrom(pObject, riid)))
        return false;
    fn(p);
    return true;
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
    SIZEL sizeExtent = PixelsToHimetric(PixelsPerInch(hWndParent), rect.right - rect.left, rect.bottom - rect.top);
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
    AttachControlWindow();
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
        WithInterface<IPersistStorage>(m_pObject, IID_IPersistStorage,
                                       [&](IPersistStorage* p) { hr = p->Load(pStorage); });
        return hr;
    }
    if (WithInterface<IPersistStreamInit>(m_pObject, IID_IPersistStreamInit, [&](IPersistStreamInit* p) {
            hr = pStream ? p->Load(pStream) : p->InitNew();
        }))
        return hr;
    if (pStream) {
        WithInterface<IPersistStream>(m_pObject, IID_IPersistStream,
                                      [&](IPersistStream* p) { hr = p->Load(pStream); });
        return hr;
    }
    if (WithInterface<IPersistStorage>(m_pObject, IID_IPersistStorage,
                                       [&](IPersistStorage* p) { hr = InitNewStorage(p); }) ||
        WithInterface<IPersistPropertyBag>(m_pObject, IID_IPersistPropertyBag,
                                           [&](IPersistPropertyBag* p) { hr = p->InitNew(); }))
        return hr;
    return S_OK;   // nothing to load, nothing to initialise
}

// The control's default source interface: named by the control when it
// offers IProvideClassInfo2, else found in its class's type information. The
// sink implements IDispatch only, so a source that is a vtable or dual
// interface (the control would call methods the sink doesn't have) is refused.
static HRESULT GetDefaultSourceIID(IUnknown* pObject, IID* piid)
{
    IProvideClassInfo2* pInfo2 = NULL;
    if (SUCCEEDED(pObject->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&pInfo2)))) {
        HRESULT hr = pInfo2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, piid);
        pInfo2->Release();
        if (SUCCEEDED(hr))
            return hr;
    }

    IProvideClassInfo* pInfo = NULL;
    HRESULT hr = pObject->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pInfo));
    if (FAILED(hr))
        return hr;
    ITypeInfo* pClassInfo = NULL;
    hr = pInfo->GetClassInfo(&pClassInfo);
    pInfo->Release();
    if (FAILED(hr))
        return hr;
    TYPEATTR* pClassAttr = NULL;
    hr = pClassInfo->GetTypeAttr(&pClassAttr);
    if (SUCCEEDED(hr)) {
        hr = E_NOINTERFACE;
        for (UINT i = 0; i < pClassAttr->cImplTypes && hr == E_NOINTERFACE; ++i) {
            INT nFlags = 0;
            if (FAILED(pClassInfo->GetImplTypeFlags(i, &nFlags)) ||
                (nFlags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) !=
                    (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
                continue;
            HREFTYPE hRef = 0;
            ITypeInfo* pSourceInfo = NULL;
            if (FAILED(hr = pClassInfo->GetRefTypeOfImplType(i, &hRef)) ||
                FAILED(hr = pClassInfo->GetRefTypeInfo(hRef, &pSourceInfo)))
                break;
            TYPEATTR* pSourceAttr = NULL;
            if (SUCCEEDED(hr = pSourceInfo->GetTypeAttr(&pSourceAttr))) {
                if (pSourceAttr->typekind == TKIND_DISPATCH && !(pSourceAttr->wTypeFlags & TYPEFLAG_FDUAL)) {
                    *piid = pSourceAttr->guid;
                } else {
                    TRACE("Warning: the control's event interface is not a dispatch interface.\n");
                    hr = E_NOINTERFACE;
                }
                pSourceInfo->ReleaseTypeAttr(pSourceAttr);
            }
            pSourceInfo->Release();
        }
        pClassInfo->ReleaseTypeAttr(pClassAttr);
    }
    pClassInfo->Release();
    return hr;
}

HRESULT COleControlSite::ConnectEvents()
{
    HRESULT hr = GetDefaultSourceIID(m_pObject, &m_iidEvents);
    if (FAILED(hr))
        return hr;
    CComRef<IConnectionPointContainer> pPoints;
    if (FAILED(hr = pPoints.QueryFrom(m_pObject, IID_IConnectionPointContainer)))
        return hr;
    CComRef<IConnectionPoint> pPoint;
    if (FAILED(hr = pPoints->FindConnectionPoint(m_iidEvents, pPoint.Receive())))
        return hr;
    if (SUCCEEDED(hr = pPoint->Advise(&m_xEventSink, &m_dwEventCookie)))
        m_pEventPoint = pPoint;
    return hr;
}

// --- Release ------------------------------------------------------------------
void COleControlSite::ReleaseControl()
{
    if (m_bReleasing)
        return;
    m_bReleasing = TRUE;
    DetachWindow();
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

void COleControlSite::AttachWindow(CWnd* pWnd)
{
    DetachWindow();
    m_pWndCtrl = pWnd;
    pWnd->m_pCtrlSite = this;
    pWnd->m_hWnd = m_hWnd;
}

void COleControlSite::DetachWindow()
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

BOOL COleControlSite::HasWindow()
{
    if (m_hWnd && !::IsWindow(m_hWnd))
        SetWindowHandle(NULL);
    return m_hWnd != NULL;
}

void COleControlSite::AttachControlWindow()
{
    HWND hWnd = NULL;
    if (!m_pInPlaceObject || FAILED(m_pInPlaceObject->GetWindow(&hWnd)) || !::IsWindow(hWnd))
        hWnd = NULL;
    if (!hWnd || hWnd == m_hWnd) {
        HasWindow();   // a window that went is forgotten; a live one stays until it goes
        return;
    }
    // The control's window takes the item's id, so the dialog finds it, and
    // the item's tab stop, group and enabled state.
    ::SetWindowLongPtrW(hWnd, GWLP_ID, LONG_PTR(m_nID));
    const DWORD dwTaken = WS_TABSTOP | WS_GROUP | WS_DISABLED;
    const DWORD dwOwn = DWORD(::GetWindowLongW(hWnd, GWL_STYLE));
    ::SetWindowLongW(hWnd, GWL_STYLE, LONG((dwOwn & ~dwTaken) | (m_dwStyle & dwTaken)));
    SetWindowHandle(hWnd);
}

void COleControlSite::OnWindowDestroyed()
{
    SetWindowHandle(NULL);
}

void COleControlSite::MoveWindow(int x, int y, int nWidth, int nHeight)
{
    // The size the control takes is the extent it answers; one that refuses
    // a new extent keeps its size and is only moved.
    const SIZE perInch = PixelsPerInch(ContainerWindow());
    SIZEL sizeExtent = PixelsToHimetric(perInch, nWidth, nHeight);
    const bool bSized = m_pOleObject && SUCCEEDED(m_pOleObject->SetExtent(DVASPECT_CONTENT, &sizeExtent));
    if (!bSized) {
        nWidth = m_rect.right - m_rect.left;
        nHeight = m_rect.bottom - m_rect.top;
    } else if (SUCCEEDED(m_pOleObject->GetExtent(DVASPECT_CONTENT, &sizeExtent))) {
        const SIZE size = HimetricToPixels(perInch, sizeExtent);
        nWidth = size.cx;
        nHeight = size.cy;
    }
    m_rect = { x, y, x + nWidth, y + nHeight };
    // An inactive control finds the place in GetWindowContext when it is activated again.
    if (m_pInPlaceObject)
        m_pInPlaceObject->SetObjectRects(&m_rect, &m_rect);
}

BOOL COleControlSite::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
{
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
    if (!HasWindow())
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
        AttachControlWindow();   // activating may have made it a new window
    }
    const HWND hWndFocus = ::GetFocus();
    if (HasWindow() && hWndFocus != m_hWnd && !::IsChild(m_hWnd, hWndFocus))
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
    m_bEventsFrozen = bFreeze;
    WithInterface<IOleControl>(m_pObject, IID_IOleControl,
                               [&](IOleControl* pControl) { pControl->FreezeEvents(bFreeze); });
}

void COleControlSite::GetControlInfo()
{
    m_ctlInfo = CONTROLINFO();
    m_ctlInfo.cb = sizeof m_ctlInfo;
    WithInterface<IOleControl>(m_pObject, IID_IOleControl, [&](IOleControl* pControl) {
        if (FAILED(pControl->GetControlInfo(&m_ctlInfo))) {
            m_ctlInfo = CONTROLINFO();
            m_ctlInfo.cb = sizeof m_ctlInfo;
        }
    });
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
    WithInterface<IOleControl>(m_pObject, IID_IOleControl,
                               [&](IOleControl* pControl) { pControl->OnMnemonic(lpMsg); });
}

// --- IUnknown -----------------------------------------------------------------
STDMETHODIMP COleControlSite::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite)
        *ppv = static_cast<IOleClientSite*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite || riid == IID_IOleInPlaceSiteEx ||
             riid == IID_IOleInPlaceSiteWindowless)
        *ppv = static_cast<IOleInPlaceSiteWindowless*>(this);
    else if (riid == IID_IOleControlSite)
        *ppv = static_cast<IOleControlSite*>(this);
    else if (riid == IID_IDispatch)
        *ppv = static_cast<IDispatch*>(this);
    else if (riid == IID_IServiceProvider)
        *ppv = static_cast<IServiceProvider*>(this);
    if (!*ppv)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) COleControlSite::AddRef()
{
    return ULONG(::InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) COleControlSite::Release()
{
    LONG cRef = ::InterlockedDecrement(&m_cRef);
    if (cRef == 0) {
        m_cRef = 1;   // a hold taken while it is deleted must not delete it again
        delete this;
    }
    return ULONG(cRef);
}

// --- IOleClientSite -----------------------------------------------------------
STDMETHODIMP COleControlSite::SaveObject() { return AFX_OCC_NOTIMPL("SaveObject"); }

STDMETHODIMP COleControlSite::GetMoniker(DWORD, DWORD, IMoniker** ppmk)
{
    if (ppmk)
        *ppmk = NULL;
    return AFX_OCC_NOTIMPL("GetMoniker");
}

STDMETHODIMP COleControlSite::GetContainer(IOleContainer** ppContainer)
{
    if (!ppContainer)
        return E_POINTER;
    *ppContainer = &m_xOleContainer;
    m_xOleContainer.AddRef();
    return S_OK;
}

STDMETHODIMP COleControlSite::ShowObject() { return S_OK; }
STDMETHODIMP COleControlSite::OnShowWindow(BOOL) { return S_OK; }
STDMETHODIMP COleControlSite::RequestNewObjectLayout() { return AFX_OCC_NOTIMPL("RequestNewObjectLayout"); }

// --- IOleInPlaceSite ----------------------------------------------------------
STDMETHODIMP COleControlSite::GetWindow(HWND* phwnd)
{
    if (!phwnd)
        return E_POINTER;
    *phwnd = ContainerWindow();
    return *phwnd ? S_OK : E_FAIL;
}

STDMETHODIMP COleControlSite::ContextSensitiveHelp(BOOL) { return AFX_OCC_NOTIMPL("ContextSensitiveHelp"); }
STDMETHODIMP COleControlSite::CanInPlaceActivate() { return S_OK; }
STDMETHODIMP COleControlSite::OnInPlaceActivate() { return S_OK; }

STDMETHODIMP COleControlSite::OnUIActivate()
{
    CComRef<COleControlSite> hold(this);
    if (m_pCtrlCont)
        m_pCtrlCont->OnUIActivate(this);
    if (m_pCtrlCont)   // still hosted after the other control was UI-deactivated
        AttachControlWindow();   // a control activating itself may have made a new window
    return S_OK;
}

STDMETHODIMP COleControlSite::GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                               LPRECT lprcPosRect, LPRECT lprcClipRect,
                                               LPOLEINPLACEFRAMEINFO lpFrameInfo)
{
    if (!ppFrame || !ppDoc || !lprcPosRect || !lprcClipRect)
        return E_POINTER;
    *ppFrame = &m_xInPlaceFrame;
    m_xInPlaceFrame.AddRef();
    *ppDoc = NULL;
    *lprcPosRect = m_rect;
    *lprcClipRect = m_rect;
    if (lpFrameInfo) {
        lpFrameInfo->fMDIApp = FALSE;
        lpFrameInfo->hwndFrame = ::GetAncestor(ContainerWindow(), GA_ROOT);
        lpFrameInfo->haccel = NULL;
        lpFrameInfo->cAccelEntries = 0;
    }
    return S_OK;
}

STDMETHODIMP COleControlSite::Scroll(SIZE) { return AFX_OCC_NOTIMPL("Scroll"); }

STDMETHODIMP COleControlSite::OnUIDeactivate(BOOL)
{
    // No longer UI-active, it gets no keys first, even if it didn't say so.
    SetActiveObject(NULL);
    if (m_pCtrlCont)
        m_pCtrlCont->OnUIDeactivate(this);
    return S_OK;
}

STDMETHODIMP COleControlSite::OnInPlaceDeactivate()
{
    OnUIDeactivate(FALSE);
    SetWindowHandle(NULL);   // the window goes with the activation
    return S_OK;
}

STDMETHODIMP COleControlSite::DiscardUndoState() { return S_OK; }

STDMETHODIMP COleControlSite::DeactivateAndUndo()
{
    CComRef<IOleInPlaceObject> pInPlaceObject = m_pInPlaceObject;
    return pInPlaceObject ? pInPlaceObject->UIDeactivate() : S_OK;
}

STDMETHODIMP COleControlSite::OnPosRectChange(LPCRECT lprcPosRect)
{
    if (!lprcPosRect)
        return E_POINTER;
    m_rect = *lprcPosRect;
    const RECT rect = m_rect;
    CComRef<IOleInPlaceObject> pInPlaceObject = m_pInPlaceObject;
    return pInPlaceObject ? pInPlaceObject->SetObjectRects(&rect, &rect) : S_OK;
}

// --- IOleInPlaceSiteEx ----------------------------------------------------------
STDMETHODIMP COleControlSite::OnInPlaceActivateEx(BOOL* pfNoRedraw, DWORD dwFlags)
{
    if (pfNoRedraw)
        *pfNoRedraw = FALSE;
    // Windowless activation was declined; a control that tries it anyway fails.
    return (dwFlags & ACTIVATE_WINDOWLESS) ? E_FAIL : S_OK;
}

STDMETHODIMP COleControlSite::OnInPlaceDeactivateEx(BOOL) { return OnInPlaceDeactivate(); }
STDMETHODIMP COleControlSite::RequestUIActivate() { return S_OK; }

// --- IOleInPlaceSiteWindowless ---------------------------------------------------
// A control that can work with or without a window takes one here.
STDMETHODIMP COleControlSite::CanWindowlessActivate() { return S_FALSE; }
STDMETHODIMP COleControlSite::GetCapture() { return S_FALSE; }
STDMETHODIMP COleControlSite::SetCapture(BOOL) { return AFX_OCC_NOTIMPL("SetCapture"); }
STDMETHODIMP COleControlSite::GetFocus() { return S_FALSE; }
STDMETHODIMP COleControlSite::SetFocus(BOOL) { return AFX_OCC_NOTIMPL("SetFocus"); }

STDMETHODIMP COleControlSite::GetDC(LPCRECT, DWORD, HDC* phDC)
{
    if (!phDC)
        return E_POINTER;
    *phDC = NULL;
    return AFX_OCC_NOTIMPL("GetDC");
}

STDMETHODIMP COleControlSite::ReleaseDC(HDC) { return AFX_OCC_NOTIMPL("ReleaseDC"); }

STDMETHODIMP COleControlSite::InvalidateRect(LPCRECT pRect, BOOL fErase)
{
    HWND hWnd = ContainerWindow();
    return hWnd && ::InvalidateRect(hWnd, pRect ? pRect : &m_rect, fErase) ? S_OK : E_FAIL;
}

STDMETHODIMP COleControlSite::InvalidateRgn(HRGN hRGN, BOOL fErase)
{
    HWND hWnd = ContainerWindow();
    if (!hWnd)
        return E_FAIL;
    if (hRGN)
        ::InvalidateRgn(hWnd, hRGN, fErase);
    else
        ::InvalidateRect(hWnd, &m_rect, fErase);
    return S_OK;
}

STDMETHODIMP COleControlSite::ScrollRect(INT, INT, LPCRECT, LPCRECT) { return AFX_OCC_NOTIMPL("ScrollRect"); }
STDMETHODIMP COleControlSite::AdjustRect(LPRECT) { return AFX_OCC_NOTIMPL("AdjustRect"); }

STDMETHODIMP COleControlSite::OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT* plResult)
{
    if (plResult)
        *plResult = 0;
    return S_FALSE;
}

// --- IOleControlSite ----------------------------------------------------------
STDMETHODIMP COleControlSite::OnControlInfoChanged()
{
    GetControlInfo();
    return S_OK;
}

STDMETHODIMP COleControlSite::LockInPlaceActive(BOOL) { return S_OK; }

STDMETHODIMP COleControlSite::GetExtendedControl(IDispatch** ppDisp)
{
    if (ppDisp)
        *ppDisp = NULL;
    return AFX_OCC_NOTIMPL("GetExtendedControl");
}

STDMETHODIMP COleControlSite::TransformCoords(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags)
{
    if (!pPtlHimetric || !pPtfContainer)
        return E_POINTER;
    const SIZE perInch = PixelsPerInch(ContainerWindow());
    const float fPerInchX = float(perInch.cx), fPerInchY = float(perInch.cy), fHimetric = float(kHimetricPerInch);
    if (dwFlags & XFORMCOORDS_HIMETRICTOCONTAINER) {
        pPtfContainer->x = float(pPtlHimetric->x) * fPerInchX / fHimetric;
        pPtfContainer->y = float(pPtlHimetric->y) * fPerInchY / fHimetric;
    } else if (dwFlags & XFORMCOORDS_CONTAINERTOHIMETRIC) {
        pPtlHimetric->x = LONG(pPtfContainer->x * fHimetric / fPerInchX + 0.5f);
        pPtlHimetric->y = LONG(pPtfContainer->y * fHimetric / fPerInchY + 0.5f);
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

STDMETHODIMP COleControlSite::TranslateAccelerator(MSG*, DWORD) { return S_FALSE; }
STDMETHODIMP COleControlSite::OnFocus(BOOL) { return S_OK; }
STDMETHODIMP COleControlSite::ShowPropertyFrame() { return AFX_OCC_NOTIMPL("ShowPropertyFrame"); }

// --- IDispatch: ambient properties --------------------------------------------
// The container window's font (the dialog's), as a font object.
HRESULT COleControlSite::AmbientFont(VARIANT* pVarResult) const
{
    HWND hWnd = ContainerWindow();
    HFONT hFont = hWnd ? reinterpret_cast<HFONT>(::SendMessageW(hWnd, WM_GETFONT, 0, 0)) : NULL;
    LOGFONTW lf = {};
    if (!::GetObjectW(hFont ? static_cast<HGDIOBJ>(hFont) : ::GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf))
        return DISP_E_MEMBERNOTFOUND;
    const LONG nPixelsY = PixelsPerInch(hWnd).cy;
    FONTDESC desc = { sizeof(FONTDESC), lf.lfFaceName, {}, SHORT(lf.lfWeight), SHORT(lf.lfCharSet),
                      lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut };
    // Points in units of 1/10000: the height in pixels at the screen's resolution.
    desc.cySize.int64 = LONGLONG(lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight) * 72 * 10000 / nPixelsY;
    IFontDisp* pFont = NULL;
    HRESULT hr = ::OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(&pFont));
    if (FAILED(hr))
        return hr;
    V_VT(pVarResult) = VT_DISPATCH;
    V_DISPATCH(pVarResult) = pFont;
    return S_OK;
}

STDMETHODIMP COleControlSite::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP COleControlSite::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = NULL;
    return AFX_OCC_NOTIMPL("GetTypeInfo");
}

STDMETHODIMP COleControlSite::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return AFX_OCC_NOTIMPL("GetIDsOfNames"); }

STDMETHODIMP COleControlSite::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS*,
                                     VARIANT* pVarResult, EXCEPINFO*, UINT*)
{
    if (!(wFlags & DISPATCH_PROPERTYGET))
        return DISP_E_MEMBERNOTFOUND;
    if (!pVarResult)
        return E_POINTER;
    ::VariantInit(pVarResult);
    switch (dispIdMember) {
    case DISPID_AMBIENT_USERMODE:          // running, not being designed
    case DISPID_AMBIENT_AUTOCLIP:          // the container clips the control's window
    case DISPID_AMBIENT_SUPPORTSMNEMONICS:
        V_VT(pVarResult) = VT_BOOL;
        V_BOOL(pVarResult) = VARIANT_TRUE;
        return S_OK;
    case DISPID_AMBIENT_UIDEAD:
    case DISPID_AMBIENT_SHOWGRABHANDLES:
    case DISPID_AMBIENT_SHOWHATCHING:
    case DISPID_AMBIENT_DISPLAYASDEFAULT:
    case DISPID_AMBIENT_MESSAGEREFLECT:    // the container reflects no messages
        V_VT(pVarResult) = VT_BOOL;
        V_BOOL(pVarResult) = VARIANT_FALSE;
        return S_OK;
    case DISPID_AMBIENT_LOCALEID:
        V_VT(pVarResult) = VT_I4;
        V_I4(pVarResult) = LONG(::GetUserDefaultLCID());
        return S_OK;
    case DISPID_AMBIENT_BACKCOLOR:
    case DISPID_AMBIENT_FORECOLOR:
        V_VT(pVarResult) = VT_I4;
        V_I4(pVarResult) =
            LONG(::GetSysColor(dispIdMember == DISPID_AMBIENT_BACKCOLOR ? COLOR_BTNFACE : COLOR_BTNTEXT));
        return S_OK;
    case DISPID_AMBIENT_FONT:
        return AmbientFont(pVarResult);
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

// --- IServiceProvider -------------------------------------------------------------
STDMETHODIMP COleControlSite::QueryService(REFGUID, REFIID, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    return E_NOINTERFACE;
}

// --- The event sink -----------------------------------------------------------
STDMETHODIMP COleControlSite::XEventSink::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (riid == IID_IUnknown || riid == IID_IDispatch || (riid == m_pSite->m_iidEvents && riid != IID_NULL))
        *ppv = static_cast<IDispatch*>(this);
    if (!*ppv)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP COleControlSite::XEventSink::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP COleControlSite::XEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = NULL;
    return AFX_OCC_NOTIMPL("GetTypeInfo");
}

STDMETHODIMP COleControlSite::XEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return AFX_OCC_NOTIMPL("GetIDsOfNames");
}

STDMETHODIMP COleControlSite::XEventSink::Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD,
                                                 DISPPARAMS* pDispParams, VARIANT*, EXCEPINFO*, UINT*)
{
    return m_pSite->OnEvent(dispIdMember, lcid, pDispParams);
}

namespace {

// An event's dispatch counts as a level of the thread's message dispatch:
// events come from the control, not through a window procedure, and the
// temporary objects a handler makes must live until it returns.
struct CTempMapLock
{
    CTempMapLock() { AfxLockTempMaps(); }
    ~CTempMapLock() { AfxUnlockTempMaps(); }
};

} // namespace

HRESULT COleControlSite::OnEvent(DISPID dispid, LCID lcid, DISPPARAMS* pDispParams)
{
    // Nothing is routed once the events are disconnected, nor while the
    // container holds them, even when a control goes on raising them.
    CWnd* pWnd = m_pCtrlCont && m_pEventPoint && !m_bEventsFrozen ? m_pCtrlCont->m_pWnd : NULL;
    if (!pWnd)
        return S_OK;
    // The handler may destroy the wrapper, the window or its object, and so
    // let go of this site and the control while the control's call is still
    // on the stack: both are held, and then let go of once the call is over.
    CComRef<COleControlSite> holdSite(this);
    CComRef<IUnknown> holdControl = m_pObject;
    const HWND hWnd = pWnd->m_hWnd;
    HRESULT hr = S_OK;
    {
        CTempMapLock lock;
        // An exception must not reach the control: it is reported later,
        // outside the control's call, and the program goes on.
        try {
            pWnd->DispatchEventToMap(m_nID, dispid, pDispParams, lcid, &hr);
        } catch (CException* e) {
            AfxPostEventHandlerError(e, hWnd);
        } catch (...) {
        }
    }
    if (m_pObject != holdControl) {
        AfxReleaseLater(holdControl.Detach());
        AfxReleaseLater(static_cast<IOleClientSite*>(holdSite.Detach()));
    }
    return hr;
}

// --- Reports of failed event handlers -----------------------------------------------
namespace {

// Plain data: a thread-local object with a destructor is avoided on purpose.
struct CPendingEventError
{
    CException* m_pException;
    HWND m_hWnd;          // where the report was posted
    bool m_bShowing;      // a report's box is on the screen
};
thread_local CPendingEventError t_eventError = { NULL, NULL, false };

// Registered when the program starts, so that no window procedure ever waits
// on its first use.
const UINT s_nEventErrorMessage = ::RegisterWindowMessageW(L"AfxEventHandlerError");

} // namespace

void AfxPostEventHandlerError(CException* e, HWND hWndContainer)
{
    CPendingEventError& pending = t_eventError;
    // A report still on its way (its window alive) or on the screen covers this one.
    if (pending.m_bShowing || (pending.m_pException && ::IsWindow(pending.m_hWnd)) || !hWndContainer ||
        !::PostMessageW(hWndContainer, s_nEventErrorMessage, 0, 0)) {
        TRACE("Warning: an event handler failed while another failure waits to be reported.\n");
        e->Delete();
        return;
    }
    if (pending.m_pException)   // its window went before it could be shown
        pending.m_pException->Delete();
    pending.m_pException = e;
    pending.m_hWnd = hWndContainer;
}

BOOL AfxOnEventHandlerErrorMessage(UINT message)
{
    if (message != s_nEventErrorMessage || !s_nEventErrorMessage)
        return FALSE;
    CPendingEventError& pending = t_eventError;
    CException* e = pending.m_pException;
    pending.m_pException = NULL;
    pending.m_hWnd = NULL;
    if (e) {
        pending.m_bShowing = true;
        e->ReportError(MB_ICONEXCLAMATION);
        pending.m_bShowing = false;
        e->Delete();
    }
    return TRUE;
}

// --- The container ------------------------------------------------------------------
STDMETHODIMP COleControlSite::XOleContainer::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (riid == IID_IUnknown || riid == IID_IParseDisplayName || riid == IID_IOleContainer)
        *ppv = static_cast<IOleContainer*>(this);
    if (!*ppv)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP COleControlSite::XOleContainer::ParseDisplayName(IBindCtx*, LPOLESTR, ULONG* pchEaten,
                                                              IMoniker** ppmkOut)
{
    if (pchEaten)
        *pchEaten = 0;
    if (ppmkOut)
        *ppmkOut = NULL;
    return AFX_OCC_NOTIMPL("ParseDisplayName");
}

STDMETHODIMP COleControlSite::XOleContainer::EnumObjects(DWORD, IEnumUnknown** ppenum)
{
    if (!ppenum)
        return E_POINTER;
    *ppenum = NULL;
    return AFX_OCC_NOTIMPL("EnumObjects");
}

STDMETHODIMP COleControlSite::XOleContainer::LockContainer(BOOL) { return S_OK; }

// --- The in-place frame -------------------------------------------------------
STDMETHODIMP COleControlSite::XInPlaceFrame::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IOleInPlaceUIWindow ||
        riid == IID_IOleInPlaceFrame)
        *ppv = static_cast<IOleInPlaceFrame*>(this);
    if (!*ppv)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP COleControlSite::XInPlaceFrame::GetWindow(HWND* phwnd)
{
    if (!phwnd)
        return E_POINTER;
    *phwnd = ::GetAncestor(m_pSite->ContainerWindow(), GA_ROOT);
    return *phwnd ? S_OK : E_FAIL;
}

STDMETHODIMP COleControlSite::XInPlaceFrame::ContextSensitiveHelp(BOOL) { return AFX_OCC_NOTIMPL("ContextSensitiveHelp"); }
STDMETHODIMP COleControlSite::XInPlaceFrame::GetBorder(LPRECT) { return INPLACE_E_NOTOOLSPACE; }
STDMETHODIMP COleControlSite::XInPlaceFrame::RequestBorderSpace(LPCBORDERWIDTHS) { return INPLACE_E_NOTOOLSPACE; }
// No space is given; asking for none (NULL) succeeds.
STDMETHODIMP COleControlSite::XInPlaceFrame::SetBorderSpace(LPCBORDERWIDTHS pborderwidths)
{
    return pborderwidths ? INPLACE_E_NOTOOLSPACE : S_OK;
}
STDMETHODIMP COleControlSite::XInPlaceFrame::SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR)
{
    m_pSite->SetActiveObject(pActiveObject);
    return S_OK;
}

// The container adds no menus of its own to a shared menu.
STDMETHODIMP COleControlSite::XInPlaceFrame::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS lpMenuWidths)
{
    if (!lpMenuWidths)
        return E_POINTER;
    lpMenuWidths->width[0] = lpMenuWidths->width[2] = lpMenuWidths->width[4] = 0;
    return S_OK;
}
STDMETHODIMP COleControlSite::XInPlaceFrame::SetMenu(HMENU, HOLEMENU, HWND) { return S_OK; }
STDMETHODIMP COleControlSite::XInPlaceFrame::RemoveMenus(HMENU) { return S_OK; }
STDMETHODIMP COleControlSite::XInPlaceFrame::SetStatusText(LPCOLESTR) { return S_OK; }
STDMETHODIMP COleControlSite::XInPlaceFrame::EnableModeless(BOOL) { return S_OK; }
STDMETHODIMP COleControlSite::XInPlaceFrame::TranslateAccelerator(LPMSG, WORD) { return S_FALSE; }
