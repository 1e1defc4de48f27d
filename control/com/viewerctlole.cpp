// The stand-in viewer control as an OLE object: its site, verbs, extent and
// in-place activation in a child window of the container.
#include "viewerctl.h"

#include "standinswitches.h"
#include "viewerctlcommon.h"
#include "viewerctlids.h"

// ---- IOleObject

STDMETHODIMP CViewerCtl::SetClientSite(IOleClientSite* pClientSite)
{
    // Leaving the site ends in-place activity, which needs the old site.
    if (pClientSite == nullptr)
        InPlaceDeactivate();
    if (pClientSite)
        pClientSite->AddRef();
    if (m_pClientSite)
        m_pClientSite->Release();
    m_pClientSite = pClientSite;
    return S_OK;
}

STDMETHODIMP CViewerCtl::GetClientSite(IOleClientSite** ppClientSite)
{
    if (ppClientSite == nullptr)
        return E_POINTER;
    *ppClientSite = m_pClientSite;
    if (m_pClientSite)
        m_pClientSite->AddRef();
    return S_OK;
}

STDMETHODIMP CViewerCtl::SetHostNames(LPCOLESTR, LPCOLESTR)
{
    return S_OK;
}

STDMETHODIMP CViewerCtl::Close(DWORD)
{
    standin::Journal("Close");
    // A closed control shows nothing and streams nothing.
    for (auto& entry : m_sessions)
        EndSession(entry.first, entry.second);
    m_sessions.clear();
    m_strLastPlayed.clear();
    UpdateClock();
    InPlaceDeactivate();
    if (m_pOleAdviseHolder)
        m_pOleAdviseHolder->SendOnClose();
    return S_OK;
}

STDMETHODIMP CViewerCtl::SetMoniker(DWORD, IMoniker*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CViewerCtl::GetMoniker(DWORD, DWORD, IMoniker** ppmk)
{
    if (ppmk)
        *ppmk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CViewerCtl::InitFromData(IDataObject*, BOOL, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CViewerCtl::GetClipboardData(DWORD, IDataObject** ppDataObject)
{
    if (ppDataObject)
        *ppDataObject = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CViewerCtl::DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT lprcPosRect)
{
    switch (iVerb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
    case OLEIVERB_INPLACEACTIVATE: {
        HRESULT hr = InPlaceActivate(lprcPosRect);
        if (SUCCEEDED(hr) && m_hWnd)
            ShowWindow(m_hWnd, SW_SHOW);
        return hr;
    }
    case OLEIVERB_HIDE:
        if (m_hWnd)
            ShowWindow(m_hWnd, SW_HIDE);
        return S_OK;
    case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
    default:
        if (iVerb < 0)
            return E_NOTIMPL;
        // An unknown positive verb does the primary one, as OLE asks.
        HRESULT hr = InPlaceActivate(lprcPosRect);
        return SUCCEEDED(hr) ? OLEOBJ_S_INVALIDVERB : hr;
    }
}

STDMETHODIMP CViewerCtl::EnumVerbs(IEnumOLEVERB** ppEnumOleVerb)
{
    if (ppEnumOleVerb)
        *ppEnumOleVerb = nullptr;
    return OLEOBJ_E_NOVERBS;
}

STDMETHODIMP CViewerCtl::Update()
{
    return S_OK;
}

STDMETHODIMP CViewerCtl::IsUpToDate()
{
    return S_OK;
}

STDMETHODIMP CViewerCtl::GetUserClassID(CLSID* pClsid)
{
    if (pClsid == nullptr)
        return E_POINTER;
    *pClsid = CLSID_DorsaAPICOMViewer;
    return S_OK;
}

STDMETHODIMP CViewerCtl::GetUserType(DWORD, LPOLESTR* pszUserType)
{
    if (pszUserType)
        *pszUserType = nullptr;
    return OLE_S_USEREG;
}

STDMETHODIMP CViewerCtl::SetExtent(DWORD dwDrawAspect, SIZEL* psizel)
{
    if (dwDrawAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (psizel == nullptr)
        return E_POINTER;
    if (psizel->cx != m_sizeExtent.cx || psizel->cy != m_sizeExtent.cy) {
        m_sizeExtent = *psizel;
        m_bDirty = true;
    }
    return S_OK;
}

STDMETHODIMP CViewerCtl::GetExtent(DWORD dwDrawAspect, SIZEL* psizel)
{
    if (dwDrawAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (psizel == nullptr)
        return E_POINTER;
    *psizel = m_sizeExtent;
    return S_OK;
}

STDMETHODIMP CViewerCtl::Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection)
{
    if (m_pOleAdviseHolder == nullptr) {
        HRESULT hr = CreateOleAdviseHolder(&m_pOleAdviseHolder);
        if (FAILED(hr))
            return hr;
    }
    return m_pOleAdviseHolder->Advise(pAdvSink, pdwConnection);
}

STDMETHODIMP CViewerCtl::Unadvise(DWORD dwConnection)
{
    if (m_pOleAdviseHolder == nullptr)
        return OLE_E_NOCONNECTION;
    return m_pOleAdviseHolder->Unadvise(dwConnection);
}

STDMETHODIMP CViewerCtl::EnumAdvise(IEnumSTATDATA** ppenumAdvise)
{
    if (ppenumAdvise == nullptr)
        return E_POINTER;
    *ppenumAdvise = nullptr;
    return m_pOleAdviseHolder ? m_pOleAdviseHolder->EnumAdvise(ppenumAdvise) : S_OK;
}

STDMETHODIMP CViewerCtl::GetMiscStatus(DWORD, DWORD* pdwStatus)
{
    if (pdwStatus == nullptr)
        return E_POINTER;
    *pdwStatus = s_dwMiscStatus;
    return S_OK;
}

STDMETHODIMP CViewerCtl::SetColorScheme(LOGPALETTE*)
{
    return E_NOTIMPL;
}

// ---- IOleWindow / IOleInPlaceObject

STDMETHODIMP CViewerCtl::GetWindow(HWND* phwnd)
{
    if (phwnd == nullptr)
        return E_POINTER;
    *phwnd = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP CViewerCtl::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP CViewerCtl::InPlaceDeactivate()
{
    if (m_hWnd) {
        HWND hWnd = m_hWnd;
        m_hWnd = nullptr;
        DestroyWindow(hWnd);
        ShowStreams();
    }
    if (m_pInPlaceSite) {
        IOleInPlaceSite* pSite = m_pInPlaceSite;
        m_pInPlaceSite = nullptr;
        pSite->OnInPlaceDeactivate();
        pSite->Release();
    }
    return S_OK;
}

STDMETHODIMP CViewerCtl::UIDeactivate()
{
    return S_OK;
}

STDMETHODIMP CViewerCtl::SetObjectRects(LPCRECT lprcPosRect, LPCRECT)
{
    if (lprcPosRect == nullptr)
        return E_POINTER;
    if (m_hWnd)
        MoveWindow(m_hWnd, lprcPosRect->left, lprcPosRect->top,
                   lprcPosRect->right - lprcPosRect->left, lprcPosRect->bottom - lprcPosRect->top,
                   TRUE);
    return S_OK;
}

STDMETHODIMP CViewerCtl::ReactivateAndUndo()
{
    return INPLACE_E_NOTUNDOABLE;
}

// Called by DoVerb: asks the site, then creates the control window in the
// site's window at the given place (or the one the site reports).
HRESULT CViewerCtl::InPlaceActivate(LPCRECT lprcPosRect)
{
    if (m_hWnd) {
        if (lprcPosRect)
            SetObjectRects(lprcPosRect, lprcPosRect);
        return S_OK;
    }
    // Still active although the window went (destroyed from outside): start afresh.
    if (m_pInPlaceSite)
        InPlaceDeactivate();
    if (m_pClientSite == nullptr)
        return E_UNEXPECTED;
    IOleInPlaceSite* pSite = nullptr;
    HRESULT hr = m_pClientSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&pSite));
    if (FAILED(hr))
        return hr;
    if (pSite->CanInPlaceActivate() != S_OK) {
        pSite->Release();
        return E_FAIL;
    }
    hr = pSite->OnInPlaceActivate();
    if (FAILED(hr)) {
        pSite->Release();
        return hr;
    }
    HWND hwndParent = nullptr;
    if (FAILED(pSite->GetWindow(&hwndParent)) || hwndParent == nullptr) {
        pSite->OnInPlaceDeactivate();
        pSite->Release();
        return E_FAIL;
    }
    IOleInPlaceFrame* pFrame = nullptr;
    IOleInPlaceUIWindow* pUIWindow = nullptr;
    RECT rcPos = {}, rcClip = {};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof frameInfo;
    hr = pSite->GetWindowContext(&pFrame, &pUIWindow, &rcPos, &rcClip, &frameInfo);
    // The control negotiates no menus or tools, so it keeps neither.
    if (pFrame)
        pFrame->Release();
    if (pUIWindow)
        pUIWindow->Release();
    RECT rc = lprcPosRect ? *lprcPosRect : rcPos;
    if (lprcPosRect == nullptr && FAILED(hr))
        SetRect(&rc, 0, 0, MulDiv(m_sizeExtent.cx, 96, 2540), MulDiv(m_sizeExtent.cy, 96, 2540));

    EnsureClockWindow(); // registers the window class too
    m_hWnd = CreateWindowExW(0, CTL_WND_CLASS, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                             rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, hwndParent,
                             nullptr, g_hCtlModule, this);
    if (m_hWnd == nullptr) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        pSite->OnInPlaceDeactivate();
        pSite->Release();
        return FAILED(hr) ? hr : E_FAIL;
    }
    m_pInPlaceSite = pSite;
    ShowStreams(); // streams started before the window learn it shows them, and its size
    return S_OK;
}
