// The container tests' control; see testcontrol.h.
#include "testcontrol.h"

// {6C1E44B0-2F0D-4D9B-8E51-7A3C90D4E612}, as TESTCTL_CLSID_TEXT in viewertestres.h.
const CLSID CLSID_TestControl = { 0x6c1e44b0, 0x2f0d, 0x4d9b, { 0x8e, 0x51, 0x7a, 0x3c, 0x90, 0xd4, 0xe6, 0x12 } };
const IID DIID_TestControlEvents = { 0x6c1e44b0, 0x2f0d, 0x4d9b, { 0x8e, 0x51, 0x7a, 0x3c, 0x90, 0xd4, 0xe6, 0x13 } };
// {6C1E44B0-2F0D-4D9B-8E51-7A3C90D4E614}, as TESTCTL_LICENSED_CLSID_TEXT.
const CLSID CLSID_TestLicensedControl = { 0x6c1e44b0, 0x2f0d, 0x4d9b,
                                          { 0x8e, 0x51, 0x7a, 0x3c, 0x90, 0xd4, 0xe6, 0x14 } };
const wchar_t kTestLicenceKey[] = L"test licence 7F3A";
// The uuids of testcontrol.idl.
const IID IID_ITestVtableEvents = { 0x3f1c2a10, 0x5d7e, 0x4b8a, { 0x9c, 0x61, 0x2e, 0x4f, 0x8a, 0x0b, 0x7d, 0x02 } };
const IID IID_ITestDualEvents = { 0x3f1c2a10, 0x5d7e, 0x4b8a, { 0x9c, 0x61, 0x2e, 0x4f, 0x8a, 0x0b, 0x7d, 0x03 } };
const IID DIID_DTestEvents = { 0x3f1c2a10, 0x5d7e, 0x4b8a, { 0x9c, 0x61, 0x2e, 0x4f, 0x8a, 0x0b, 0x7d, 0x04 } };
const CLSID CLSID_TestVtableSource = { 0x3f1c2a10, 0x5d7e, 0x4b8a, { 0x9c, 0x61, 0x2e, 0x4f, 0x8a, 0x0b, 0x7d, 0x05 } };
const CLSID CLSID_TestDualSource = { 0x3f1c2a10, 0x5d7e, 0x4b8a, { 0x9c, 0x61, 0x2e, 0x4f, 0x8a, 0x0b, 0x7d, 0x06 } };
const CLSID CLSID_TestDispSource = { 0x3f1c2a10, 0x5d7e, 0x4b8a, { 0x9c, 0x61, 0x2e, 0x4f, 0x8a, 0x0b, 0x7d, 0x07 } };

CTestCtlSetup g_testCtlSetup;

namespace {

CTestCtl* s_pLast = nullptr;
LONG s_cLive = 0;
LONG s_cDeletedInOwnCall = 0;

CTestArg Arg(VARTYPE vt, LONGLONG n, double d, const wchar_t* psz)
{
    CTestArg arg;
    arg.m_vt = vt;
    arg.m_n = n;
    arg.m_d = d;
    arg.m_str = psz ? psz : L"";
    return arg;
}

// Makes the control; the class object lives as long as its registration.
class CTestCtlFactory : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (pOuter)
            return CLASS_E_NOAGGREGATION;
        CTestCtl* pCtl = new CTestCtl;
        HRESULT hr = pCtl->QueryInterface(riid, ppv);
        pCtl->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
CTestCtlFactory s_factory;

// Makes the control only for a caller that gives the licence key: this
// machine holds no licence of its own.
class CTestLicensedFactory : public IClassFactory2
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory || riid == IID_IClassFactory2
                   ? static_cast<IClassFactory2*>(this)
                   : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return CLASS_E_NOTLICENSED;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    STDMETHODIMP GetLicInfo(LICINFO* pLicInfo) override
    {
        pLicInfo->cbLicInfo = sizeof *pLicInfo;
        pLicInfo->fRuntimeKeyAvail = TRUE;
        pLicInfo->fLicVerified = FALSE;
        return S_OK;
    }
    STDMETHODIMP RequestLicKey(DWORD, BSTR* pbstrKey) override
    {
        *pbstrKey = nullptr;
        return CLASS_E_NOTLICENSED;
    }
    STDMETHODIMP CreateInstanceLic(IUnknown* pOuter, IUnknown*, REFIID riid, BSTR bstrKey, void** ppv) override
    {
        if (!bstrKey || wcscmp(bstrKey, kTestLicenceKey) != 0) {
            *ppv = nullptr;
            return CLASS_E_NOTLICENSED;
        }
        return s_factory.CreateInstance(pOuter, riid, ppv);
    }
};
CTestLicensedFactory s_licensedFactory;

const wchar_t s_szWindowClass[] = L"TestControlWindow";
const wchar_t s_szStorageStream[] = L"Contents";

// The text of a stream, read whole (bytes as characters).
std::string ReadText(IStream* pStm)
{
    std::string str;
    char buffer[256];
    ULONG cb = 0;
    while (SUCCEEDED(pStm->Read(buffer, sizeof buffer, &cb)) && cb > 0)
        str.append(buffer, cb);
    return str;
}

} // namespace

CTestArg TestUI4(ULONG n) { return Arg(VT_UI4, n, 0, nullptr); }
CTestArg TestI2(SHORT n) { return Arg(VT_I2, n, 0, nullptr); }
CTestArg TestI4(LONG n) { return Arg(VT_I4, n, 0, nullptr); }
CTestArg TestR8(double d) { return Arg(VT_R8, 0, d, nullptr); }
CTestArg TestText(const wchar_t* psz) { return Arg(VT_BSTR, 0, 0, psz); }
CTestArg TestTextByRef(const wchar_t* psz) { return Arg(VT_BSTR | VT_BYREF, 0, 0, psz); }

CTestCtlClass::CTestCtlClass()
{
    m_hr = ::CoRegisterClassObject(CLSID_TestControl, &s_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                   &m_dwRegister);
    if (SUCCEEDED(m_hr))
        m_hr = ::CoRegisterClassObject(CLSID_TestLicensedControl, &s_licensedFactory, CLSCTX_INPROC_SERVER,
                                       REGCLS_MULTIPLEUSE, &m_dwRegisterLicensed);
}

CTestCtlClass::~CTestCtlClass()
{
    if (m_dwRegister)
        ::CoRevokeClassObject(m_dwRegister);
    if (m_dwRegisterLicensed)
        ::CoRevokeClassObject(m_dwRegisterLicensed);
}

CTestCtl::CTestCtl() : m_setup(g_testCtlSetup)
{
    s_pLast = this;
    ++s_cLive;
    if (Has(TCB_MNEMONIC)) {
        ACCEL accel = { FALT, L'm', 1 };
        m_hAccel = ::CreateAcceleratorTableW(&accel, 1);
    }
}

CTestCtl::~CTestCtl()
{
    InPlaceDeactivate();
    if (m_pSink)
        m_pSink->Release();
    if (m_pSite)
        m_pSite->Release();
    if (m_pObject)
        m_pObject->Release();
    if (m_hAccel)
        ::DestroyAcceleratorTable(m_hAccel);
    if (s_pLast == this)
        s_pLast = nullptr;
    --s_cLive;
    if (m_pOwnCall) {
        m_pOwnCall->m_bDeleted = true;
        ++s_cDeletedInOwnCall;
    }
}

CTestCtl* CTestCtl::Last() { return s_pLast; }
LONG CTestCtl::LiveCount() { return s_cLive; }
LONG CTestCtl::DeletedInOwnCall() { return s_cDeletedInOwnCall; }

STDMETHODIMP CTestCtl::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleObject)
        *ppv = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
        *ppv = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IOleInPlaceActiveObject)
        *ppv = static_cast<IOleInPlaceActiveObject*>(this);
    else if (riid == IID_IOleControl)
        *ppv = static_cast<IOleControl*>(this);
    else if (riid == IID_IPersist)
        *ppv = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IPersistStreamInit && !Has(TCB_STORAGE | TCB_PROPERTY_BAG))
        *ppv = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IPersistStorage && Has(TCB_STORAGE))
        *ppv = static_cast<IPersistStorage*>(this);
    else if (riid == IID_IPersistPropertyBag && Has(TCB_PROPERTY_BAG))
        *ppv = static_cast<IPersistPropertyBag*>(this);
    else if (riid == IID_IDispatch)
        *ppv = static_cast<IDispatch*>(this);
    else if (riid == IID_IConnectionPointContainer)
        *ppv = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IProvideClassInfo)
        *ppv = static_cast<IProvideClassInfo2*>(this);
    else if (riid == IID_IProvideClassInfo2 && !Has(TCB_CLASSINFO_ONLY))
        *ppv = static_cast<IProvideClassInfo2*>(this);
    if (!*ppv)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CTestCtl::AddRef() { return ::InterlockedIncrement(&m_cRef); }

STDMETHODIMP_(ULONG) CTestCtl::Release()
{
    LONG cRef = ::InterlockedDecrement(&m_cRef);
    if (cRef == 0)
        delete this;
    return ULONG(cRef);
}

STDMETHODIMP CTestCtl::SetClientSite(IOleClientSite* pClientSite)
{
    m_calls.push_back(pClientSite ? "SetClientSite" : "SetClientSite(NULL)");
    if (!pClientSite && Has(TCB_KEEP_SITE))
        return S_OK;
    if (!pClientSite)
        InPlaceDeactivate();
    if (pClientSite)
        pClientSite->AddRef();
    if (m_pSite)
        m_pSite->Release();
    m_pSite = pClientSite;
    return S_OK;
}

STDMETHODIMP CTestCtl::GetClientSite(IOleClientSite** ppClientSite)
{
    *ppClientSite = m_pSite;
    if (m_pSite)
        m_pSite->AddRef();
    return S_OK;
}

STDMETHODIMP CTestCtl::Close(DWORD)
{
    m_calls.push_back("Close");
    InPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP CTestCtl::DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT lprcPosRect)
{
    m_calls.push_back("DoVerb " + std::to_string(iVerb));
    if (Has(TCB_FAIL_DOVERB))
        return E_FAIL;
    HRESULT hr = InPlaceActivate(lprcPosRect);
    return SUCCEEDED(hr) && iVerb == OLEIVERB_UIACTIVATE ? UIActivate() : hr;
}

// As a real control: tells the site, names itself the active object and takes the focus.
HRESULT CTestCtl::UIActivate()
{
    if (!m_bUIActive && Has(TCB_ASKS_NO_BORDER)) {
        const HRESULT hr = m_pFrame ? m_pFrame->SetBorderSpace(nullptr) : E_UNEXPECTED;
        m_calls.push_back("SetBorderSpace(NULL) " + std::to_string(hr));
        if (FAILED(hr))
            return hr;
    }
    if (!m_bUIActive) {
        m_bUIActive = true;
        m_pInPlaceSite->OnUIActivate();
        if (m_pFrame)
            m_pFrame->SetActiveObject(this, L"test control");
    }
    if (m_hWnd && ::GetFocus() != m_hWnd)
        ::SetFocus(m_hWnd);
    return S_OK;
}

STDMETHODIMP CTestCtl::UIDeactivate()
{
    m_calls.push_back("UIDeactivate");
    if (m_bUIActive) {
        m_bUIActive = false;
        if (m_pFrame)
            m_pFrame->SetActiveObject(nullptr, nullptr);
        m_pInPlaceSite->OnUIDeactivate(FALSE);
    }
    return S_OK;
}

STDMETHODIMP CTestCtl::GetMiscStatus(DWORD, DWORD* pdwStatus)
{
    *pdwStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                 (Has(TCB_INVISIBLE) ? OLEMISC_INVISIBLEATRUNTIME : 0);
    return S_OK;
}

// As a real control that can work windowless: it asks for the windowless
// site, takes a window when that is declined, and needs the Ex site for that.
HRESULT CTestCtl::InPlaceActivate(LPCRECT lprcPosRect)
{
    if (m_pInPlaceSite)
        return S_OK;
    if (!m_pSite)
        return E_UNEXPECTED;
    IOleInPlaceSite* pSite = nullptr;
    HRESULT hr = m_pSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&pSite));
    if (FAILED(hr))
        return hr;
    if (Has(TCB_ASKS_WINDOWLESS)) {
        IOleInPlaceSiteWindowless* pWindowless = nullptr;
        hr = m_pSite->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&pWindowless));
        m_calls.push_back(SUCCEEDED(hr) ? "IOleInPlaceSiteWindowless" : "no IOleInPlaceSiteWindowless");
        if (SUCCEEDED(hr)) {
            hr = pWindowless->CanWindowlessActivate();
            pWindowless->Release();
            m_calls.push_back(hr == S_OK ? "windowless" : "windowed");
        }
        IOleInPlaceSiteEx* pEx = nullptr;
        if (FAILED(hr) || hr == S_OK ||   // no windowless site, or windowless (which this one can't draw)
            FAILED(m_pSite->QueryInterface(IID_IOleInPlaceSiteEx, reinterpret_cast<void**>(&pEx)))) {
            pSite->Release();
            return E_NOINTERFACE;
        }
        BOOL fNoRedraw = TRUE;
        hr = pEx->OnInPlaceActivateEx(&fNoRedraw, 0);
        pEx->Release();
        m_calls.push_back("OnInPlaceActivateEx");
    } else {
        hr = pSite->CanInPlaceActivate() == S_OK ? pSite->OnInPlaceActivate() : E_FAIL;
    }
    HWND hWndParent = nullptr;
    if (SUCCEEDED(hr))
        hr = pSite->GetWindow(&hWndParent);
    IOleInPlaceFrame* pFrame = nullptr;
    IOleInPlaceUIWindow* pDoc = nullptr;
    RECT rcPos = {}, rcClip = {};
    OLEINPLACEFRAMEINFO info = { sizeof info, FALSE, nullptr, nullptr, 0 };
    if (SUCCEEDED(hr))
        hr = pSite->GetWindowContext(&pFrame, &pDoc, &rcPos, &rcClip, &info);
    if (pDoc)
        pDoc->Release();
    if (FAILED(hr)) {
        if (pFrame)
            pFrame->Release();
        pSite->Release();
        return hr;
    }
    m_pFrame = pFrame;
    const RECT rc = lprcPosRect ? *lprcPosRect : rcPos;
    if (!Has(TCB_NO_WINDOW)) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &CTestCtl::WindowProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = s_szWindowClass;
        ::RegisterClassW(&wc);   // once; later calls fail harmlessly
        m_hWnd = ::CreateWindowExW(Has(TCB_NO_PARENT_NOTIFY) ? WS_EX_NOPARENTNOTIFY : 0, s_szWindowClass, L"test control", WS_CHILD | WS_VISIBLE, rc.left, rc.top,
                                   rc.right - rc.left, rc.bottom - rc.top, hWndParent, nullptr, nullptr, nullptr);
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    m_pInPlaceSite = pSite;
    if (Has(TCB_ASKS_PLACE)) {
        const RECT rcAsked = { rc.left, rc.top, rc.left + kAskedSize.cx, rc.top + kAskedSize.cy };
        pSite->OnPosRectChange(&rcAsked);
    }
    if (Has(TCB_EVENT_ON_ACTIVATE))
        Fire({ DISPID_TESTEVT_ACTIVATED, {} });
    return S_OK;
}

// Journals the keys that reach the window by dispatch.
LRESULT CALLBACK CTestCtl::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_KEYDOWN || uMsg == WM_ENABLE)
        if (CTestCtl* pCtl = reinterpret_cast<CTestCtl*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA)))
            pCtl->m_calls.push_back((uMsg == WM_ENABLE ? "window enabled " : "window key ") + std::to_string(wParam));
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

STDMETHODIMP CTestCtl::GetWindow(HWND* phwnd)
{
    *phwnd = m_hWnd;
    return m_hWnd || Has(TCB_NO_WINDOW) ? S_OK : E_FAIL;
}

STDMETHODIMP CTestCtl::InPlaceDeactivate()
{
    if (m_bUIActive)
        UIDeactivate();
    if (m_pFrame) {
        m_pFrame->Release();
        m_pFrame = nullptr;
    }
    if (m_hWnd) {
        ::DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    if (m_pInPlaceSite) {
        IOleInPlaceSite* pSite = m_pInPlaceSite;
        m_pInPlaceSite = nullptr;
        pSite->OnInPlaceDeactivate();
        pSite->Release();
    }
    return S_OK;
}

STDMETHODIMP CTestCtl::SetObjectRects(LPCRECT lprcPosRect, LPCRECT)
{
    if (m_hWnd)
        ::MoveWindow(m_hWnd, lprcPosRect->left, lprcPosRect->top, lprcPosRect->right - lprcPosRect->left,
                     lprcPosRect->bottom - lprcPosRect->top, TRUE);
    return S_OK;
}

STDMETHODIMP CTestCtl::TranslateAccelerator(LPMSG pMsg)
{
    if (pMsg->message != WM_KEYDOWN)
        return S_FALSE;
    const bool bWanted =
        Has(TCB_WANTS_KEYS) && (pMsg->wParam == VK_RETURN || (pMsg->wParam >= VK_LEFT && pMsg->wParam <= VK_DOWN));
    m_calls.push_back((bWanted ? "key " : "key passed ") + std::to_string(pMsg->wParam));
    return bWanted ? S_OK : S_FALSE;
}

STDMETHODIMP CTestCtl::GetControlInfo(CONTROLINFO* pCI)
{
    pCI->hAccel = m_hAccel;
    pCI->cAccel = m_hAccel ? 1 : 0;
    pCI->dwFlags = Has(TCB_EATS_RETURN) ? CTRLINFO_EATS_RETURN : 0;
    return S_OK;
}

STDMETHODIMP CTestCtl::OnMnemonic(MSG* pMsg)
{
    m_calls.push_back("OnMnemonic " + std::to_string(pMsg->wParam));
    return S_OK;
}

STDMETHODIMP CTestCtl::FreezeEvents(BOOL bFreeze)
{
    m_nFreeze += bFreeze ? 1 : -1;
    if (m_nFreeze == 0) {
        const std::vector<CTestEvent> held = std::move(m_held);
        m_held.clear();
        for (const CTestEvent& event : held)
            Fire(event);
    }
    return S_OK;
}

STDMETHODIMP CTestCtl::Load(LPSTREAM pStm)
{
    m_calls.push_back("Load stream " + ReadText(pStm));
    return S_OK;
}

STDMETHODIMP CTestCtl::InitNew()
{
    m_calls.push_back("InitNew");
    return Has(TCB_INITNEW_NOTIMPL) ? E_NOTIMPL : S_OK;
}

STDMETHODIMP CTestCtl::InitNew(IStorage*)
{
    m_calls.push_back("InitNew storage");
    return Has(TCB_INITNEW_NOTIMPL) ? E_NOTIMPL : S_OK;
}

STDMETHODIMP CTestCtl::Load(IStorage* pStg)
{
    IStream* pStm = nullptr;
    HRESULT hr = pStg->OpenStream(s_szStorageStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &pStm);
    if (FAILED(hr))
        return hr;
    m_calls.push_back("Load storage " + ReadText(pStm));
    pStm->Release();
    return S_OK;
}

HRESULT CTestCtl::Property(DISPID dispid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult)
{
    const bool bObject = dispid == DISPID_TESTCTL_OBJECT;
    if (wFlags & DISPATCH_PROPERTYGET) {
        if (!pVarResult)
            return E_POINTER;
        if (bObject) {
            V_VT(pVarResult) = VT_DISPATCH;
            V_DISPATCH(pVarResult) = m_pObject;
            if (m_pObject)
                m_pObject->AddRef();
        } else {
            V_VT(pVarResult) = VT_BSTR;
            V_BSTR(pVarResult) = ::SysAllocString(m_strCaption.c_str());
        }
        return S_OK;
    }
    if (!(wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
        return DISP_E_MEMBERNOTFOUND;
    if (pDispParams->cArgs != 1 || pDispParams->cNamedArgs != 1 ||
        pDispParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        m_calls.push_back("put refused, arguments " + std::to_string(pDispParams->cArgs) + ", named " +
                          std::to_string(pDispParams->cNamedArgs));
        return DISP_E_PARAMNOTFOUND;
    }
    m_calls.push_back(((wFlags & DISPATCH_PROPERTYPUTREF) ? "putref " : "put ") + std::to_string(dispid));
    VARIANT var;
    ::VariantInit(&var);
    HRESULT hr = ::VariantChangeType(&var, &pDispParams->rgvarg[0], 0, bObject ? VT_DISPATCH : VT_BSTR);
    if (FAILED(hr))
        return hr;
    if (bObject) {
        if (m_pObject)
            m_pObject->Release();
        m_pObject = V_DISPATCH(&var);   // the reference var held
    } else {
        m_strCaption = V_BSTR(&var) ? V_BSTR(&var) : L"";
        ::VariantClear(&var);
    }
    return S_OK;
}

STDMETHODIMP CTestCtl::Invoke(DISPID dispid, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                              EXCEPINFO*, UINT*)
{
    if (dispid == DISPID_TESTCTL_CAPTION || dispid == DISPID_TESTCTL_OBJECT)
        return Property(dispid, wFlags, pDispParams, pVarResult);
    if (dispid != DISPID_TESTCTL_RAISE || !(wFlags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    const bool bGuarded = !Has(TCB_UNGUARDED);
    if (bGuarded)
        AddRef();   // a handler may release the control
    const std::vector<CTestEvent> events = m_eventsToRaise;
    {
        COwnCall call(this);
        for (const CTestEvent& event : events) {
            Fire(event);
            if (call.m_bDeleted)
                return S_OK;
        }
    }
    if (pVarResult) {
        V_VT(pVarResult) = VT_I2;
        V_I2(pVarResult) = SHORT(events.size());
    }
    if (bGuarded)
        Release();
    return S_OK;
}

void CTestCtl::Fire(const CTestEvent& event)
{
    if (m_nFreeze > 0 && !Has(TCB_FIRES_WHILE_FROZEN)) {
        m_held.push_back(event);
        return;
    }
    if (!m_pSink)
        return;
    const UINT cArgs = UINT(event.m_args.size());
    std::vector<VARIANTARG> vars(cArgs);
    std::vector<BSTR> texts(cArgs, nullptr);   // what BSTR arguments by reference point at
    std::vector<DISPID> named(event.m_bNamed ? cArgs : 0);
    for (UINT i = 0; i < cArgs; ++i) {
        const CTestArg& arg = event.m_args[i];
        VARIANTARG& var = event.m_bNamed ? vars[i] : vars[cArgs - 1 - i];   // named by position, or last-first
        if (event.m_bNamed)
            named[i] = DISPID(i);
        ::VariantInit(&var);
        V_VT(&var) = arg.m_vt;
        switch (arg.m_vt & ~VT_BYREF) {
        case VT_UI4: V_UI4(&var) = ULONG(arg.m_n); break;
        case VT_I2: V_I2(&var) = SHORT(arg.m_n); break;
        case VT_I4: V_I4(&var) = LONG(arg.m_n); break;
        case VT_R8: V_R8(&var) = arg.m_d; break;
        case VT_BSTR:
            texts[i] = ::SysAllocString(arg.m_str.c_str());
            if (arg.m_vt & VT_BYREF)
                V_BSTRREF(&var) = &texts[i];
            else
                V_BSTR(&var) = texts[i];
            break;
        }
    }
    const bool bGuarded = !Has(TCB_UNGUARDED);
    IDispatch* pSink = static_cast<IDispatch*>(m_pSink);
    if (bGuarded)
        pSink->AddRef();
    DISPPARAMS params = { cArgs ? vars.data() : nullptr, named.empty() ? nullptr : named.data(), cArgs,
                          UINT(named.size()) };
    COwnCall call(this);
    const HRESULT hr =
        pSink->Invoke(event.m_dispid, IID_NULL, event.m_lcid, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    if (bGuarded)
        pSink->Release();
    for (BSTR bstr : texts)
        ::SysFreeString(bstr);
    if (!call.m_bDeleted)
        m_sinkResults.push_back(hr);
}

STDMETHODIMP CTestCtl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP)
{
    *ppCP = nullptr;
    if (riid != m_setup.m_iidSource)
        return CONNECT_E_NOCONNECTION;
    *ppCP = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP CTestCtl::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    *ppCPC = static_cast<IConnectionPointContainer*>(this);
    AddRef();
    return S_OK;
}

// Asks the sink for the source interface itself, as real controls do.
STDMETHODIMP CTestCtl::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    *pdwCookie = 0;
    if (m_pSink)
        return CONNECT_E_ADVISELIMIT;
    IUnknown* pSink = nullptr;
    HRESULT hr = pUnkSink->QueryInterface(m_setup.m_iidSource, reinterpret_cast<void**>(&pSink));
    m_calls.push_back(SUCCEEDED(hr) ? "Advise" : "Advise refused");
    if (FAILED(hr))
        return CONNECT_E_CANNOTCONNECT;
    m_pSink = pSink;
    m_bAdvised = true;
    *pdwCookie = 1;
    return S_OK;
}

STDMETHODIMP CTestCtl::Unadvise(DWORD dwCookie)
{
    m_calls.push_back("Unadvise");
    if (dwCookie != 1 || !m_bAdvised)
        return CONNECT_E_NOCONNECTION;
    m_bAdvised = false;
    if (!Has(TCB_KEEP_SINK) && m_pSink) {
        m_pSink->Release();
        m_pSink = nullptr;
    }
    return S_OK;
}

STDMETHODIMP CTestCtl::GetClassInfo(ITypeInfo** ppTI)
{
    *ppTI = nullptr;
    if (!Has(TCB_CLASSINFO_ONLY))
        return E_NOTIMPL;
    // The test program carries the library as resource TYPELIB 1.
    wchar_t szPath[MAX_PATH];
    ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    ITypeLib* pLib = nullptr;
    HRESULT hr = ::LoadTypeLibEx(szPath, REGKIND_NONE, &pLib);
    if (FAILED(hr))
        return hr;
    hr = pLib->GetTypeInfoOfGuid(m_setup.m_clsidClassInfo, ppTI);
    pLib->Release();
    return hr;
}

STDMETHODIMP CTestCtl::GetGUID(DWORD dwGuidKind, GUID* pGUID)
{
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID)
        return E_INVALIDARG;
    *pGUID = m_setup.m_iidSource;
    return S_OK;
}
