// The OLE interfaces of COleControlSite that a hosted control calls back:
// client site, in-place sites, control site, service provider, and the
// container and in-place frame it is given.
#include "occimpl.h"

#include <shlwapi.h>

// --- IUnknown -----------------------------------------------------------------
STDMETHODIMP COleControlSite::QueryInterface(REFIID riid, void** ppv)
{
    static const QITAB s_interfaces[] = {
        QITABENT(COleControlSite, IOleClientSite),   // the first is also its IUnknown
        QITABENTMULTI(COleControlSite, IOleWindow, IOleInPlaceSiteWindowless),
        QITABENTMULTI(COleControlSite, IOleInPlaceSite, IOleInPlaceSiteWindowless),
        QITABENTMULTI(COleControlSite, IOleInPlaceSiteEx, IOleInPlaceSiteWindowless),
        QITABENT(COleControlSite, IOleInPlaceSiteWindowless),
        QITABENT(COleControlSite, IOleControlSite),
        QITABENT(COleControlSite, IDispatch),
        QITABENT(COleControlSite, IServiceProvider),
        { NULL, 0 },
    };
    return ::QISearch(this, s_interfaces, riid, ppv);
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
        UpdateControlWindow();   // a control activating itself may have made a new window
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
// Windowless activation is declined (a control that can work with or without
// a window takes one here), so the calls only a windowless control makes are not implemented.
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
STDMETHODIMP COleControlSite::InvalidateRect(LPCRECT, BOOL) { return AFX_OCC_NOTIMPL("InvalidateRect"); }
STDMETHODIMP COleControlSite::InvalidateRgn(HRGN, BOOL) { return AFX_OCC_NOTIMPL("InvalidateRgn"); }
STDMETHODIMP COleControlSite::ScrollRect(INT, INT, LPCRECT, LPCRECT) { return AFX_OCC_NOTIMPL("ScrollRect"); }
STDMETHODIMP COleControlSite::AdjustRect(LPRECT) { return AFX_OCC_NOTIMPL("AdjustRect"); }
STDMETHODIMP COleControlSite::OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) { return S_FALSE; }

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
    const SIZE perInch = AfxPixelsPerInch(ContainerWindow());
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

// --- IServiceProvider -------------------------------------------------------------
STDMETHODIMP COleControlSite::QueryService(REFGUID, REFIID, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = NULL;
    return E_NOINTERFACE;
}

// --- The container ------------------------------------------------------------------
STDMETHODIMP COleControlSite::XOleContainer::QueryInterface(REFIID riid, void** ppv)
{
    static const QITAB s_interfaces[] = {
        QITABENT(XOleContainer, IOleContainer),
        QITABENTMULTI(XOleContainer, IParseDisplayName, IOleContainer),
        { NULL, 0 },
    };
    return ::QISearch(this, s_interfaces, riid, ppv);
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
    static const QITAB s_interfaces[] = {
        QITABENT(XInPlaceFrame, IOleInPlaceFrame),
        QITABENTMULTI(XInPlaceFrame, IOleWindow, IOleInPlaceFrame),
        QITABENTMULTI(XInPlaceFrame, IOleInPlaceUIWindow, IOleInPlaceFrame),
        { NULL, 0 },
    };
    return ::QISearch(this, s_interfaces, riid, ppv);
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


// --- Dispatch objects without type information ------------------------------------
STDMETHODIMP COleDispatchNoTypeInfo::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP COleDispatchNoTypeInfo::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = NULL;
    return AFX_OCC_NOTIMPL("GetTypeInfo");
}

STDMETHODIMP COleDispatchNoTypeInfo::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return AFX_OCC_NOTIMPL("GetIDsOfNames");
}
