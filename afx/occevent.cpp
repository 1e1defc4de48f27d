// The events of a hosted control: its default source interface found and
// connected, the sink that receives them, and their routing to the
// container window's event sink map.
#include "occimpl.h"

#include <shlwapi.h>

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

// --- The sink -----------------------------------------------------------------
STDMETHODIMP COleControlSite::XEventSink::QueryInterface(REFIID riid, void** ppv)
{
    static const QITAB s_interfaces[] = { QITABENT(XEventSink, IDispatch), { NULL, 0 } };
    // The event interface is a dispatch interface: asked for by its IID, the sink is its IDispatch.
    const bool bEvents = riid == m_pSite->m_iidEvents && riid != IID_NULL;
    return ::QISearch(this, s_interfaces, bEvents ? IID_IDispatch : riid, ppv);
}

STDMETHODIMP COleControlSite::XEventSink::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD,
                                                 DISPPARAMS* pDispParams, VARIANT*, EXCEPINFO*, UINT*)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
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
