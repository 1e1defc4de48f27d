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

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace {

const wchar_t s_szWndClass[] = L"DorsaViewerStandInWnd";
INIT_ONCE s_initWndClass = INIT_ONCE_STATIC_INIT;
ATOM s_atomWndClass = 0;

// Timers of the hidden clock window.
const UINT_PTR TIMER_EVENT = 1;
const UINT_PTR TIMER_FRAME = 2;
const UINT FRAME_PERIOD_MS = 200;
// Why a session started before any SetPluginPath is simulated.
const wchar_t NO_PLUGIN_FOLDER[] = L"no plug-in folder was given";
const UINT DEFAULT_EVENT_PERIOD_MS = 1000;
const UINT DEFAULT_EVENTS_PER_TICK = 1;
// Fastest play: the stream clock must stay a valid time for as long as it plays.
const float MAX_SPEED = 64.0f;

// Persisted block: five little-endian words, the third and fourth the extent.
const ULONG PERSIST_BLOCK_SIZE = 20;
const DWORD PERSIST_VERSION = 0x00010000;

// Extent of a new control (HIMETRIC): 320 x 240 pixels at 96 dpi.
const LONG DEFAULT_EXTENT_CX = 8467;
const LONG DEFAULT_EXTENT_CY = 6350;

const wchar_t s_szErrorSource[] = L"DorsaAPICOMViewer";

// What a dispatch method takes; Invoke checks calls against this table.
struct CMethodInfo
{
    DISPID m_dispid;
    const wchar_t* m_pszName;
    UINT m_cArgs;
    VARTYPE m_vtArgs[8];
};

const CMethodInfo s_methods[] = {
    { DISPID_DORSA_SETPLUGINPATH, L"SetPluginPath", 1, { VT_BSTR } },
    { DISPID_DORSA_STARTSTREAM, L"StartStream", 8,
      { VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR } },
    { DISPID_DORSA_STOPSTREAM, L"StopStream", 1, { VT_BSTR } },
    { DISPID_DORSA_PLAYFORWARD, L"PlayForward", 2, { VT_BSTR, VT_R4 } },
};

const CMethodInfo* FindMethod(DISPID dispid)
{
    for (const CMethodInfo& method : s_methods)
        if (method.m_dispid == dispid)
            return &method;
    return nullptr;
}

// Argument n in call order; DISPPARAMS holds them last-first.
const VARIANTARG& Arg(const DISPPARAMS* pDispParams, UINT n)
{
    return pDispParams->rgvarg[pDispParams->cArgs - 1 - n];
}

// A BSTR argument as text; a NULL BSTR is the empty text.
std::wstring ArgText(const DISPPARAMS* pDispParams, UINT n)
{
    BSTR bstr = V_BSTR(&Arg(pDispParams, n));
    return bstr ? std::wstring(bstr, SysStringLen(bstr)) : std::wstring();
}

std::string JournalArg(const VARIANTARG& var)
{
    switch (V_VT(&var)) {
    case VT_BSTR:
        if (V_BSTR(&var) == nullptr)
            return "BSTR:null";
        return "BSTR:\"" + standin::ToUtf8(V_BSTR(&var), SysStringLen(V_BSTR(&var))) + "\"";
    case VT_R4: {
        char szValue[64];
        snprintf(szValue, sizeof szValue, "%g", static_cast<double>(V_R4(&var)));
        return std::string("R4:") + szValue;
    }
    default:
        return "VT" + std::to_string(V_VT(&var));
    }
}

void JournalCall(DISPID dispid, const wchar_t* pszName, const DISPPARAMS* pDispParams)
{
    std::string strLine = std::to_string(dispid) + " " + standin::ToUtf8(pszName) + "(";
    for (UINT n = 0; pDispParams->rgvarg != nullptr && n < pDispParams->cArgs; ++n) {
        if (n > 0)
            strLine += ", ";
        strLine += JournalArg(Arg(pDispParams, n));
    }
    standin::Journal(strLine + ")");
}

// Decimal digits only, at most nMaxDigits of them, giving their value.
bool ParseDecimal(const std::wstring& str, size_t nMaxDigits, ULONG* pnValue)
{
    if (str.empty() || str.size() > nMaxDigits)
        return false;
    ULONG nValue = 0;
    for (wchar_t ch : str) {
        if (ch < L'0' || ch > L'9')
            return false;
        nValue = nValue * 10 + (ch - L'0');
    }
    *pnValue = nValue;
    return true;
}

// Four dotted decimal fields 0-255 and nothing else, not 0.0.0.0.
bool IsCameraAddress(const std::wstring& str)
{
    ULONG nSum = 0;
    size_t nStart = 0;
    for (int nField = 0; nField < 4; ++nField) {
        size_t nEnd = nField < 3 ? str.find(L'.', nStart) : str.size();
        if (nEnd == std::wstring::npos)
            return false;
        ULONG nValue = 0;
        if (!ParseDecimal(str.substr(nStart, nEnd - nStart), 3, &nValue) || nValue > 255)
            return false;
        nSum += nValue;
        nStart = nEnd + 1;
    }
    return nSum != 0;
}

bool IsPort(const std::wstring& str)
{
    ULONG nValue = 0;
    return ParseDecimal(str, 5, &nValue) && nValue >= 1 && nValue <= 65535;
}

bool IsChannel(const std::wstring& str)
{
    ULONG nValue = 0;
    return ParseDecimal(str, 9, &nValue);
}

// A session ID unique in this process (counter) and among processes (pid).
std::wstring NewSessionId()
{
    static LONG s_nCounter = 0;
    wchar_t szId[64];
    swprintf(szId, 64, L"S-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&s_nCounter));
    return szId;
}

ULONGLONG LocalFileTimeNow()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

BOOL CALLBACK RegisterWndClassOnce(PINIT_ONCE, PVOID, PVOID*)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = CViewerCtl::WindowProc;
    wc.hInstance = g_hCtlModule;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.lpszClassName = s_szWndClass;
    s_atomWndClass = RegisterClassExW(&wc);
    return TRUE;
}

void PutWord(BYTE* pb, DWORD dw)
{
    for (int n = 0; n < 4; ++n)
        pb[n] = static_cast<BYTE>(dw >> (8 * n));
}

DWORD GetWord(const BYTE* pb)
{
    return pb[0] | (pb[1] << 8) | (pb[2] << 16) | (static_cast<DWORD>(pb[3]) << 24);
}

} // namespace

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

void CtlUnregisterWindowClass()
{
    if (s_atomWndClass != 0) {
        UnregisterClassW(s_szWndClass, g_hCtlModule);
        s_atomWndClass = 0;
    }
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
    m_hWnd = CreateWindowExW(0, s_szWndClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                             rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, hwndParent,
                             nullptr, g_hCtlModule, this);
    if (m_hWnd == nullptr) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        pSite->OnInPlaceDeactivate();
        pSite->Release();
        return FAILED(hr) ? hr : E_FAIL;
    }
    m_pInPlaceSite = pSite;
    ShowStreams();
    return S_OK;
}

// ---- IPersistStreamInit / IPersistStream

STDMETHODIMP CViewerCtl::GetClassID(CLSID* pClassID)
{
    if (pClassID == nullptr)
        return E_POINTER;
    *pClassID = CLSID_DorsaAPICOMViewer;
    return S_OK;
}

STDMETHODIMP CViewerCtl::IsDirty()
{
    return m_bDirty ? S_OK : S_FALSE;
}

STDMETHODIMP CViewerCtl::Load(LPSTREAM pStm)
{
    if (pStm == nullptr)
        return E_POINTER;
    BYTE block[PERSIST_BLOCK_SIZE];
    ULONG cbRead = 0;
    HRESULT hr = pStm->Read(block, sizeof block, &cbRead);
    if (FAILED(hr))
        return hr;
    if (cbRead != sizeof block)
        return STG_E_READFAULT;
    if (GetWord(block + 4) != PERSIST_VERSION)
        return E_FAIL;
    m_sizeExtent.cx = static_cast<LONG>(GetWord(block + 8));
    m_sizeExtent.cy = static_cast<LONG>(GetWord(block + 12));
    m_bDirty = false;
    standin::Journal("Load extent=" + std::to_string(m_sizeExtent.cx) + "x" +
                     std::to_string(m_sizeExtent.cy));
    return S_OK;
}

STDMETHODIMP CViewerCtl::Save(LPSTREAM pStm, BOOL fClearDirty)
{
    if (pStm == nullptr)
        return E_POINTER;
    BYTE block[PERSIST_BLOCK_SIZE] = {};
    PutWord(block + 4, PERSIST_VERSION);
    PutWord(block + 8, static_cast<DWORD>(m_sizeExtent.cx));
    PutWord(block + 12, static_cast<DWORD>(m_sizeExtent.cy));
    ULONG cbWritten = 0;
    HRESULT hr = pStm->Write(block, sizeof block, &cbWritten);
    if (FAILED(hr))
        return hr;
    if (cbWritten != sizeof block)
        return STG_E_WRITEFAULT;
    if (fClearDirty)
        m_bDirty = false;
    return S_OK;
}

STDMETHODIMP CViewerCtl::GetSizeMax(ULARGE_INTEGER* pCbSize)
{
    if (pCbSize == nullptr)
        return E_POINTER;
    pCbSize->QuadPart = PERSIST_BLOCK_SIZE;
    return S_OK;
}

STDMETHODIMP CViewerCtl::InitNew()
{
    m_sizeExtent.cx = DEFAULT_EXTENT_CX;
    m_sizeExtent.cy = DEFAULT_EXTENT_CY;
    m_bDirty = false;
    return S_OK;
}

// ---- IDispatch

STDMETHODIMP CViewerCtl::GetTypeInfoCount(UINT* pctinfo)
{
    if (pctinfo == nullptr)
        return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

STDMETHODIMP CViewerCtl::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo == nullptr)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    ITypeLib* pTypeLib = nullptr;
    HRESULT hr = CtlLoadTypeLib(&pTypeLib);
    if (FAILED(hr))
        return hr;
    hr = pTypeLib->GetTypeInfoOfGuid(DIID__DDorsaAPICOMViewer, ppTInfo);
    pTypeLib->Release();
    return hr;
}

STDMETHODIMP CViewerCtl::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                       DISPID* rgDispId)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0 || rgszNames == nullptr || rgDispId == nullptr)
        return E_INVALIDARG;
    // Only method names are known; argument names are not.
    HRESULT hr = S_OK;
    for (UINT n = 0; n < cNames; ++n)
        rgDispId[n] = DISPID_UNKNOWN;
    for (const CMethodInfo& method : s_methods)
        if (rgszNames[0] && lstrcmpiW(rgszNames[0], method.m_pszName) == 0)
            rgDispId[0] = method.m_dispid;
    if (rgDispId[0] == DISPID_UNKNOWN || cNames > 1)
        hr = DISP_E_UNKNOWNNAME;
    return hr;
}

STDMETHODIMP CViewerCtl::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (pDispParams == nullptr || (pDispParams->cArgs > 0 && pDispParams->rgvarg == nullptr))
        return E_INVALIDARG;
    try {
        const CMethodInfo* pMethod = FindMethod(dispIdMember);
        JournalCall(dispIdMember, pMethod ? pMethod->m_pszName : L"Unknown", pDispParams);
        if (pMethod == nullptr || (wFlags & DISPATCH_METHOD) == 0)
            return DISP_E_MEMBERNOTFOUND;
        if (pDispParams->cNamedArgs > 0)
            return DISP_E_NONAMEDARGS;
        if (pDispParams->cArgs != pMethod->m_cArgs)
            return DISP_E_BADPARAMCOUNT;
        for (UINT n = 0; n < pMethod->m_cArgs; ++n) {
            if (V_VT(&Arg(pDispParams, n)) != pMethod->m_vtArgs[n]) {
                if (puArgErr)
                    *puArgErr = pDispParams->cArgs - 1 - n;
                return DISP_E_TYPEMISMATCH;
            }
        }

        if (standin::SwitchValue(L"DORSA_STANDIN_FAIL") == pMethod->m_pszName) {
            if (pExcepInfo) {
                ZeroMemory(pExcepInfo, sizeof *pExcepInfo);
                pExcepInfo->wCode = 0;
                pExcepInfo->scode = E_FAIL;
                pExcepInfo->bstrSource = SysAllocString(s_szErrorSource);
                const std::wstring strDescription =
                    std::wstring(pMethod->m_pszName) + L" failed: requested by DORSA_STANDIN_FAIL";
                pExcepInfo->bstrDescription = SysAllocString(strDescription.c_str());
            }
            return DISP_E_EXCEPTION;
        }

        VARIANT varResult;
        VariantInit(&varResult);
        HRESULT hr = E_UNEXPECTED;
        switch (dispIdMember) {
        case DISPID_DORSA_SETPLUGINPATH:
            hr = CallSetPluginPath(pDispParams, &varResult, puArgErr);
            break;
        case DISPID_DORSA_STARTSTREAM:
            hr = CallStartStream(pDispParams, &varResult, puArgErr);
            break;
        case DISPID_DORSA_STOPSTREAM:
            hr = CallStopStream(pDispParams, &varResult, puArgErr);
            break;
        case DISPID_DORSA_PLAYFORWARD:
            hr = CallPlayForward(pDispParams, &varResult, puArgErr);
            break;
        }
        if (FAILED(hr))
            return hr;

        // DORSA_STANDIN_RESULT=<Name>=<n> overrides a short result.
        const std::wstring strOverride = standin::SwitchValue(L"DORSA_STANDIN_RESULT");
        const std::wstring strPrefix = std::wstring(pMethod->m_pszName) + L"=";
        if (V_VT(&varResult) == VT_I2 && strOverride.compare(0, strPrefix.size(), strPrefix) == 0)
            V_I2(&varResult) = static_cast<SHORT>(_wtoi(strOverride.c_str() + strPrefix.size()));

        if (pVarResult)
            *pVarResult = varResult;
        else
            VariantClear(&varResult);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// SetPluginPath(path): 0 when path is an existing folder, else -1.
HRESULT CViewerCtl::CallSetPluginPath(DISPPARAMS* pDispParams, VARIANT* pResult, UINT*)
{
    const std::wstring strPath = ArgText(pDispParams, 0);
    DWORD dwAttributes = strPath.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(strPath.c_str());
    bool bFolder = dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
    // Streams started from now on use this folder's plug-in, if it has one.
    m_plugin = bFolder ? CPluginFile::Load(strPath) : CPluginFile();
    if (strPath.empty())
        m_strNoPlugin = NO_PLUGIN_FOLDER;
    else if (!bFolder)
        m_strNoPlugin = L"the folder " + strPath + L" does not exist";
    else if (!m_plugin.IsPresent())
        m_strNoPlugin = std::wstring(L"no ") + CPluginFile::s_szFileName + L" in " + strPath;
    V_VT(pResult) = VT_I2;
    V_I2(pResult) = bFolder ? 0 : -1;
    return S_OK;
}

// StartStream(from, to, cameraIP, port, channel, ...): a new session ID for a
// plausible camera, else the empty text. The session is known, not playing.
HRESULT CViewerCtl::CallStartStream(DISPPARAMS* pDispParams, VARIANT* pResult, UINT*)
{
    CSession session;
    session.m_strCameraIP = ArgText(pDispParams, 2);
    session.m_strPort = ArgText(pDispParams, 3);
    session.m_strChannel = ArgText(pDispParams, 4);
    std::wstring strId;
    if (IsCameraAddress(session.m_strCameraIP) && IsPort(session.m_strPort) &&
        IsChannel(session.m_strChannel) && !standin::SwitchIsOn(L"DORSA_STANDIN_EMPTY_SESSION")) {
        strId = NewSessionId();
        if (m_plugin.IsPresent())
            StartCameraStream(session);
        else
            session.m_strSimulated = m_strNoPlugin;
        m_sessions[strId] = session;
        if (!m_plugin.IsPresent())
            JournalPictureSays(L"Simulated picture: " + session.m_strSimulated, strId);
    }
    BSTR bstrId = SysAllocStringLen(strId.data(), static_cast<UINT>(strId.size()));
    if (bstrId == nullptr)
        return E_OUTOFMEMORY;
    V_VT(pResult) = VT_BSTR;
    V_BSTR(pResult) = bstrId;
    return S_OK;
}

// StopStream(sessionId): 0 and the session is forgotten, or -1 when unknown.
HRESULT CViewerCtl::CallStopStream(DISPPARAMS* pDispParams, VARIANT* pResult, UINT*)
{
    auto it = m_sessions.find(ArgText(pDispParams, 0));
    const bool bKnown = it != m_sessions.end();
    if (bKnown) {
        EndSession(it->first, it->second);
        m_sessions.erase(it);
        UpdateClock();
        if (m_hWnd)
            InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    V_VT(pResult) = VT_I2;
    V_I2(pResult) = bKnown ? 0 : -1;
    return S_OK;
}

// PlayForward(sessionId, speed): 0 and the session plays, or -1 for an
// unknown session or a speed that is not in (0, MAX_SPEED] (NaN and infinity too).
HRESULT CViewerCtl::CallPlayForward(DISPPARAMS* pDispParams, VARIANT* pResult, UINT*)
{
    const std::wstring strId = ArgText(pDispParams, 0);
    const float fSpeed = V_R4(&Arg(pDispParams, 1));
    auto it = m_sessions.find(strId);
    const bool bPlays = it != m_sessions.end() && fSpeed > 0.0f && fSpeed <= MAX_SPEED;
    if (bPlays) {
        CSession& session = it->second;
        // A first play starts the stream now; a new speed goes on from where it is.
        const ULONGLONG nNow = GetTickCount64();
        if (session.m_bPlaying)
            session.m_nStreamStartTime += static_cast<ULONGLONG>(
                static_cast<double>(nNow - session.m_nPlayStartTick) * session.m_fSpeed * 10000.0);
        else
            session.m_nStreamStartTime = LocalFileTimeNow();
        session.m_nPlayStartTick = nNow;
        session.m_fSpeed = fSpeed;
        session.m_bPlaying = true;
        m_strLastPlayed = strId;
        ShowStreams();
        // The event period is read now, so a test can set it per play.
        m_nEventPeriod = standin::SwitchNumber(L"DORSA_STANDIN_EVENT_MS", DEFAULT_EVENT_PERIOD_MS);
        m_nEventsPerTick = standin::SwitchNumber(L"DORSA_STANDIN_EVENTS_PER_TICK", DEFAULT_EVENTS_PER_TICK);
        m_bClockRunning = false; // restart the timers with this period
        UpdateClock();
        if (m_hWnd)
            InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    V_VT(pResult) = VT_I2;
    V_I2(pResult) = bPlays ? 0 : -1;
    return S_OK;
}

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

// ---- Clock, events and drawing

void CViewerCtl::EnsureClockWindow()
{
    InitOnceExecuteOnce(&s_initWndClass, RegisterWndClassOnce, nullptr, nullptr);
    if (m_hWndClock == nullptr)
        m_hWndClock = CreateWindowExW(0, s_szWndClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      g_hCtlModule, this);
}

// Runs the event and frame timers while any session plays, and only then.
void CViewerCtl::UpdateClock()
{
    // Only simulated sessions need the clock; a camera's frames set the pace.
    bool bAnyPlaying = false;
    for (const auto& entry : m_sessions)
        bAnyPlaying = bAnyPlaying || (entry.second.m_bPlaying && !entry.second.m_pStream);
    if (bAnyPlaying && !m_bClockRunning) {
        EnsureClockWindow();
        if (m_hWndClock) {
            SetTimer(m_hWndClock, TIMER_EVENT, m_nEventPeriod, nullptr);
            SetTimer(m_hWndClock, TIMER_FRAME, FRAME_PERIOD_MS, nullptr);
            m_bClockRunning = true;
        }
    } else if (!bAnyPlaying && m_hWndClock) {
        KillTimer(m_hWndClock, TIMER_EVENT);
        KillTimer(m_hWndClock, TIMER_FRAME);
        m_bClockRunning = false;
    }
}

std::wstring CViewerCtl::StreamTimeText(const CSession& session) const
{
    ULONGLONG nTime = session.m_nStreamStartTime;
    if (session.m_bPlaying)
        nTime += static_cast<ULONGLONG>(static_cast<double>(GetTickCount64() - session.m_nPlayStartTick) *
                                        session.m_fSpeed * 10000.0);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(nTime);
    ft.dwHighDateTime = static_cast<DWORD>(nTime >> 32);
    SYSTEMTIME st = {};
    FileTimeToSystemTime(&ft, &st);
    return TimeText(st);
}

// Called on each event tick: m_nEventsPerTick TimeStamps per playing session.
void CViewerCtl::OnEventTimer()
{
    std::vector<std::wstring> playing;
    for (const auto& entry : m_sessions)
        if (entry.second.m_bPlaying && !entry.second.m_pStream)
            playing.push_back(entry.first);
    AddRef(); // a sink may release the control while it handles the event
    for (const std::wstring& strId : playing) {
        for (UINT n = 0; n < m_nEventsPerTick; ++n) {
            // An earlier sink call may have stopped this session.
            auto it = m_sessions.find(strId);
            if (it == m_sessions.end() || !it->second.m_bPlaying)
                break;
            ++it->second.m_nEventsRaised;
            FireTimeStamp(strId, StreamTimeText(it->second));
        }
    }
    Release();
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

// The session the picture shows: the one played last, if it still plays.
const CViewerCtl::CSession* CViewerCtl::ShownSession(std::wstring* pstrId) const
{
    auto it = m_sessions.find(m_strLastPlayed);
    if (it == m_sessions.end() || !it->second.m_bPlaying)
        return nullptr;
    *pstrId = it->first;
    return &it->second;
}

void CViewerCtl::OnPaint(HWND hWnd)
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hWnd, &ps);
    RECT rc;
    GetClientRect(hWnd, &rc);
    // Drawn off screen first so the moving picture does not flicker.
    HDC hdcMem = CreateCompatibleDC(hdc);
    HBITMAP hbm = hdcMem ? CreateCompatibleBitmap(hdc, rc.right > 0 ? rc.right : 1,
                                                  rc.bottom > 0 ? rc.bottom : 1)
                         : nullptr;
    if (hbm) {
        HGDIOBJ hbmOld = SelectObject(hdcMem, hbm);
        DrawPicture(hdcMem, rc);
        BitBlt(hdc, 0, 0, rc.right, rc.bottom, hdcMem, 0, 0, SRCCOPY);
        SelectObject(hdcMem, hbmOld);
        DeleteObject(hbm);
    } else {
        DrawPicture(hdc, rc);
    }
    if (hdcMem)
        DeleteDC(hdcMem);
    EndPaint(hWnd, &ps);
}

void CViewerCtl::DrawPicture(HDC hdc, const RECT& rc)
{
    HGDIOBJ hFontOld = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(hdc, TRANSPARENT);
    std::wstring strId;
    const CSession* pSession = ShownSession(&strId);
    if (pSession && (pSession->m_pStream || !pSession->m_strProblem.empty())) {
        SelectObject(hdc, hFontOld);
        DrawStreamPicture(hdc, rc, *pSession);
        return;
    }
    if (pSession == nullptr) {
        HBRUSH hbr = CreateSolidBrush(RGB(20, 20, 28));
        FillRect(hdc, &rc, hbr);
        DeleteObject(hbr);
        SetTextColor(hdc, RGB(170, 170, 170));
        RECT rcText = rc;
        DrawTextW(hdc, L"No stream", -1, &rcText, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(hdc, hFontOld);
        return;
    }

    static const COLORREF s_bars[] = { RGB(192, 192, 192), RGB(192, 192, 0), RGB(0, 192, 192),
                                       RGB(0, 192, 0),     RGB(192, 0, 192), RGB(192, 0, 0),
                                       RGB(0, 0, 192),     RGB(16, 16, 16) };
    const int nBars = 8;
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    const int cxBar = cx / nBars > 0 ? cx / nBars : 1;
    const int cyBars = cy * 2 / 3;
    // Colour bars scrolling to the right, a few pixels per frame.
    const int nShift = static_cast<int>(m_nFrame * 6);
    for (int n = -1; n <= nBars; ++n) {
        RECT rcBar = { rc.left + n * cxBar + nShift % cxBar, rc.top, 0, rc.top + cyBars };
        rcBar.right = rcBar.left + cxBar;
        int nColour = ((n - nShift / cxBar) % nBars + nBars) % nBars;
        HBRUSH hbr = CreateSolidBrush(s_bars[nColour]);
        FillRect(hdc, &rcBar, hbr);
        DeleteObject(hbr);
    }
    RECT rcLower = { rc.left, rc.top + cyBars, rc.right, rc.bottom };
    HBRUSH hbrLower = CreateSolidBrush(RGB(32, 32, 40));
    FillRect(hdc, &rcLower, hbrLower);
    DeleteObject(hbrLower);

    // A box bouncing along the bottom edge of the bars.
    const int cBox = cy / 10 > 4 ? cy / 10 : 4;
    const int nTravel = cx - cBox > 1 ? cx - cBox : 1;
    int nPos = static_cast<int>((m_nFrame * 10) % (2 * nTravel));
    if (nPos > nTravel)
        nPos = 2 * nTravel - nPos;
    RECT rcBox = { rc.left + nPos, rc.top + cyBars - cBox, rc.left + nPos + cBox, rc.top + cyBars };
    FillRect(hdc, &rcBox, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t szNow[32];
    swprintf(szNow, 32, L"%02u:%02u:%02u", st.wHour, st.wMinute, st.wSecond);
    // It must not read like a camera's: it says why there is no camera.
    const std::wstring strText = L"Simulated picture: " + pSession->m_strSimulated + L"\nAsked for " +
                                 pSession->m_strCameraIP + L":" + pSession->m_strPort + L" channel " +
                                 pSession->m_strChannel + L", session " + strId + L"\nStream " +
                                 StreamTimeText(*pSession) + L"   now " + szNow;
    RECT rcText = rcLower;
    InflateRect(&rcText, -6, -4);
    SetTextColor(hdc, RGB(240, 240, 240));
    DrawTextW(hdc, strText.c_str(), -1, &rcText, DT_LEFT | DT_TOP | DT_NOPREFIX);
    SelectObject(hdc, hFontOld);
}

LRESULT CALLBACK CViewerCtl::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_NCCREATE) {
        auto pCreate = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
    }
    auto pCtl = reinterpret_cast<CViewerCtl*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pCtl == nullptr)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    try {
        switch (uMsg) {
        case WM_TIMER:
            if (wParam == TIMER_EVENT) {
                pCtl->OnEventTimer();
            } else if (wParam == TIMER_FRAME) {
                ++pCtl->m_nFrame;
                if (pCtl->m_hWnd)
                    InvalidateRect(pCtl->m_hWnd, nullptr, FALSE);
            }
            return 0;
        case WM_STREAM_NOTIFY:
            pCtl->OnStreamNotify();
            return 0;
        case WM_SIZE:
            if (hWnd == pCtl->m_hWnd)
                pCtl->ShowStreams();
            break;
        case WM_ERASEBKGND:
            return 1; // WM_PAINT covers every pixel
        case WM_PAINT:
            pCtl->OnPaint(hWnd);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            if (pCtl->m_hWndClock == hWnd)
                pCtl->m_hWndClock = nullptr;
            // Destroyed from outside too: a dead handle is no window to report.
            if (pCtl->m_hWnd == hWnd)
                pCtl->m_hWnd = nullptr;
            break;
        }
    } catch (...) {
        // Nothing may escape into the container's message loop.
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}
