// The stand-in viewer control's TimeStamp event: its connection point, the
// class information containers read the source interface from, and raising it.
#include "viewerctl.h"

#include "standinswitches.h"
#include "viewerctlcommon.h"
#include "viewerctlids.h"

// ---- IConnectionPointContainer

STDMETHODIMP CViewerCtl::EnumConnectionPoints(IEnumConnectionPoints** ppEnum)
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CViewerCtl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP)
{
    if (ppCP == nullptr)
        return E_POINTER;
    *ppCP = nullptr;
    if (riid != DIID__DDorsaAPICOMViewerEvents)
        return CONNECT_E_NOCONNECTION;
    *ppCP = &m_eventPoint;
    AddRef();
    return S_OK;
}

// ---- IProvideClassInfo2

STDMETHODIMP CViewerCtl::GetClassInfo(ITypeInfo** ppTI)
{
    if (ppTI == nullptr)
        return E_POINTER;
    *ppTI = nullptr;
    ITypeLib* pTypeLib = nullptr;
    HRESULT hr = CtlLoadTypeLib(&pTypeLib);
    if (FAILED(hr))
        return hr;
    hr = pTypeLib->GetTypeInfoOfGuid(CLSID_DorsaAPICOMViewer, ppTI);
    pTypeLib->Release();
    return hr;
}

STDMETHODIMP CViewerCtl::GetGUID(DWORD dwGuidKind, GUID* pGUID)
{
    if (pGUID == nullptr)
        return E_POINTER;
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *pGUID = GUID_NULL;
        return E_INVALIDARG;
    }
    *pGUID = DIID__DDorsaAPICOMViewerEvents;
    return S_OK;
}

// ---- The TimeStamp connection point

STDMETHODIMP CViewerCtl::CEventPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CViewerCtl::CEventPoint::AddRef()
{
    return m_pCtl->AddRef();
}

STDMETHODIMP_(ULONG) CViewerCtl::CEventPoint::Release()
{
    return m_pCtl->Release();
}

STDMETHODIMP CViewerCtl::CEventPoint::GetConnectionInterface(IID* pIID)
{
    if (pIID == nullptr)
        return E_POINTER;
    *pIID = DIID__DDorsaAPICOMViewerEvents;
    return S_OK;
}

STDMETHODIMP CViewerCtl::CEventPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (ppCPC == nullptr)
        return E_POINTER;
    *ppCPC = static_cast<IConnectionPointContainer*>(m_pCtl);
    m_pCtl->AddRef();
    return S_OK;
}

STDMETHODIMP CViewerCtl::CEventPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    if (pUnkSink == nullptr || pdwCookie == nullptr)
        return E_POINTER;
    *pdwCookie = 0;
    standin::Journal("Advise");
    // A sink must answer for the event interface itself, as with the real control.
    IDispatch* pSink = nullptr;
    if (FAILED(pUnkSink->QueryInterface(DIID__DDorsaAPICOMViewerEvents,
                                        reinterpret_cast<void**>(&pSink))) || pSink == nullptr)
        return CONNECT_E_CANNOTCONNECT;
    try {
        m_pCtl->m_sinks.emplace_back(++m_pCtl->m_dwNextCookie, pSink);
    } catch (...) {
        pSink->Release();
        return E_OUTOFMEMORY;
    }
    *pdwCookie = m_pCtl->m_dwNextCookie;
    return S_OK;
}

STDMETHODIMP CViewerCtl::CEventPoint::Unadvise(DWORD dwCookie)
{
    standin::Journal("Unadvise");
    auto& sinks = m_pCtl->m_sinks;
    for (auto it = sinks.begin(); it != sinks.end(); ++it) {
        if (it->first == dwCookie) {
            IDispatch* pSink = it->second;
            sinks.erase(it);
            pSink->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP CViewerCtl::CEventPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}


void CViewerCtl::FireTimeStamp(const std::wstring& strSession, const std::wstring& strTimeStamp)
{
    // Sinks may advise or unadvise from inside the call: work on a copy.
    std::vector<IDispatch*> sinks;
    for (auto& sink : m_sinks) {
        sink.second->AddRef();
        sinks.push_back(sink.second);
    }
    VARIANTARG args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = SysAllocStringLen(strSession.data(), static_cast<UINT>(strSession.size()));
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = SysAllocStringLen(strTimeStamp.data(), static_cast<UINT>(strTimeStamp.size()));
    for (IDispatch* pSink : sinks) {
        DISPPARAMS dispParams = { args, nullptr, 2, 0 };
        pSink->Invoke(DISPID_DORSA_TIMESTAMP, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                      &dispParams, nullptr, nullptr, nullptr);
        pSink->Release();
    }
    VariantClear(&args[0]);
    VariantClear(&args[1]);
}
