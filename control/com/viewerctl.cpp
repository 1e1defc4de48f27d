// The stand-in viewer control object.
//
// Journal lines (DORSA_STANDIN_JOURNAL, see standinswitches.h), one per call:
//   <dispid> <Name>(<arg>, ...)   each dispatch call as received, arguments in
//                                 call order: BSTR:"<text>", BSTR:null for a
//                                 NULL BSTR, R4:<%g>, other types VT<n>;
//                                 an unknown DISPID gives the name "Unknown"
//   Load extent=<cx>x<cy>         persisted state loaded (HIMETRIC)
//   Advise / Unadvise             on the TimeStamp connection point
//   Close                         IOleObject::Close
//   Events raised: <n> for session <id>
//                                 the session's TimeStamp count, when
//                                 StopStream ends it or the control closes
//   Picture says: <text> for session <id>
//                                 a camera stream's status changed (what
//                                 its picture says in place of frames)
//   Frames: received <n>, shown <n>, dropped <n>, undecodable <n> for session <id>
//   Frame times: decode median <ms> p99 <ms>, draw median <ms> p99 <ms> for session <id>
//                                 after that, for a session streamed from a
//                                 camera through the plug-in
#include "viewerctl.h"

#include "standinswitches.h"
#include "viewerctlcommon.h"
#include "viewerctlids.h"

#include <cwchar>

// "YYYY-MM-DD hh:mm:ss.mmm"
std::wstring TimeText(const SYSTEMTIME& st)
{
    wchar_t szText[32];
    swprintf(szText, 32, L"%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth, st.wDay,
             st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return szText;
}

HRESULT CtlLoadTypeLib(ITypeLib** ppTypeLib)
{
    wchar_t szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameW(g_hCtlModule, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return E_FAIL;
    return LoadTypeLibEx(szPath, REGKIND_NONE, ppTypeLib);
}

CViewerCtl::CViewerCtl()
    : m_cRef(1), m_eventPoint(this), m_pClientSite(nullptr), m_pInPlaceSite(nullptr),
      m_pOleAdviseHolder(nullptr), m_hWnd(nullptr), m_hWndClock(nullptr),
      m_sizeExtent{ DEFAULT_EXTENT_CX, DEFAULT_EXTENT_CY }, m_bDirty(false),
      m_bClockRunning(false), m_nEventPeriod(DEFAULT_EVENT_PERIOD_MS),
      m_nEventsPerTick(DEFAULT_EVENTS_PER_TICK), m_nFrame(0),
      m_dwNextCookie(0), m_strNoPlugin(NO_PLUGIN_FOLDER)
{
    CtlModuleLock();
}

CViewerCtl::~CViewerCtl()
{
    // A control released without Close still lets go of its cameras.
    for (auto& entry : m_sessions)
        if (entry.second.m_pStream)
            entry.second.m_pStream->Stop();
    InPlaceDeactivate();
    if (m_hWndClock)
        DestroyWindow(m_hWndClock);
    for (auto& sink : m_sinks)
        sink.second->Release();
    if (m_pClientSite)
        m_pClientSite->Release();
    if (m_pOleAdviseHolder)
        m_pOleAdviseHolder->Release();
    CtlModuleUnlock();
}

// ---- IUnknown

STDMETHODIMP CViewerCtl::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleObject)
        *ppv = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
        *ppv = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IPersist || riid == IID_IPersistStreamInit)
        *ppv = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IPersistStream)
        *ppv = static_cast<IPersistStream*>(this);
    else if (riid == IID_IDispatch || riid == DIID__DDorsaAPICOMViewer)
        *ppv = static_cast<IDispatch*>(this);
    else if (riid == IID_IConnectionPointContainer)
        *ppv = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IProvideClassInfo)
        *ppv = static_cast<IProvideClassInfo2*>(this);
    else if (riid == IID_IProvideClassInfo2 && !standin::SwitchIsOn(L"DORSA_STANDIN_NO_CLASSINFO2"))
        *ppv = static_cast<IProvideClassInfo2*>(this);
    if (*ppv == nullptr)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CViewerCtl::AddRef()
{
    return InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) CViewerCtl::Release()
{
    LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0)
        delete this;
    return cRef;
}
