// A small ActiveX control for the container's tests, made in the test process
// and registered there for the suite (CoRegisterClassObject), so it needs no
// registry; a licensed form of it is made only with the right licence key.
// Each instance takes the behaviour set in g_testCtlSetup when it is made: an
// undemanding windowed control by default, or one that wants keys, declares a
// mnemonic, asks for a place, raises an event while it activates, persists in
// another form, or misbehaves. It journals what it asks of its site, what it
// is given, and what its sinks answer.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>
#include <vector>

// The classes the test dialog templates name (TESTCTL_CLSID_TEXT and
// TESTCTL_LICENSED_CLSID_TEXT in viewertestres.h).
extern const CLSID CLSID_TestControl;
extern const CLSID CLSID_TestLicensedControl;
// The key the licensed class asks for; without it nothing is made.
extern const wchar_t kTestLicenceKey[];
// The events the control raises by default (IProvideClassInfo2 names it).
extern const IID DIID_TestControlEvents;
// The test type library's coclasses (testcontrol.idl): their default sources
// are a vtable, a dual and a dispatch interface.
extern const CLSID CLSID_TestVtableSource;
extern const CLSID CLSID_TestDualSource;
extern const CLSID CLSID_TestDispSource;
extern const IID IID_ITestVtableEvents;
extern const IID IID_ITestDualEvents;
extern const IID DIID_DTestEvents;

enum TestCtlBehaviour : DWORD
{
    TCB_ASKS_WINDOWLESS = 0x01, // asks for IOleInPlaceSiteWindowless, then IOleInPlaceSiteEx, to activate
    TCB_INVISIBLE = 0x02,       // OLEMISC_INVISIBLEATRUNTIME
    TCB_FAIL_DOVERB = 0x04,     // DoVerb fails
    TCB_NO_WINDOW = 0x08,       // activates, but GetWindow gives S_OK and no window
    TCB_KEEP_SINK = 0x10,       // Unadvise keeps the sink and goes on calling it
    TCB_KEEP_SITE = 0x20,       // SetClientSite(NULL) is ignored: the site is kept
    TCB_CLASSINFO_ONLY = 0x40,  // no IProvideClassInfo2: the source is read from m_clsidClassInfo's coclass
    TCB_WANTS_KEYS = 0x80,      // its TranslateAccelerator takes Enter and the arrows
    TCB_EATS_RETURN = 0x100,    // GetControlInfo says CTRLINFO_EATS_RETURN: Enter goes to its window
    TCB_MNEMONIC = 0x200,       // GetControlInfo declares the mnemonic Alt+m
    TCB_ASKS_PLACE = 0x400,     // asks for kAskedSize through OnPosRectChange while it activates
    TCB_EVENT_ON_ACTIVATE = 0x800, // raises event DISPID_TESTEVT_ACTIVATED while it activates
    TCB_STORAGE = 0x1000,       // persists through IPersistStorage, not IPersistStreamInit
    TCB_PROPERTY_BAG = 0x2000,  // persists through IPersistPropertyBag, not IPersistStreamInit
    TCB_FIRES_WHILE_FROZEN = 0x4000, // raises its events while frozen instead of holding them
    TCB_INITNEW_NOTIMPL = 0x8000,    // every InitNew answers E_NOTIMPL: it has nothing to initialise
    TCB_UNGUARDED = 0x10000,    // holds neither itself nor its sink while it raises an event or runs Raise
    TCB_ASKS_NO_BORDER = 0x20000, // asks its frame for no border space (SetBorderSpace(NULL)) when UI-activated,
                                  // and fails the activation when that is refused
    TCB_NO_PARENT_NOTIFY = 0x40000, // its window has WS_EX_NOPARENTNOTIFY
};

// The size in pixels a control with TCB_ASKS_PLACE asks for.
const SIZE kAskedSize = { 120, 45 };

struct CTestCtlSetup
{
    DWORD m_dwBehaviour = 0;
    IID m_iidSource = DIID_TestControlEvents; // the interface its connection point serves
    CLSID m_clsidClassInfo = CLSID_NULL;      // with TCB_CLASSINFO_ONLY
};
extern CTestCtlSetup g_testCtlSetup;

// One argument of an event, in call order.
struct CTestArg
{
    VARTYPE m_vt;            // with VT_BYREF for a BSTR by reference
    LONGLONG m_n = 0;
    double m_d = 0.0;
    std::wstring m_str;
};
CTestArg TestUI4(ULONG n);
CTestArg TestI2(SHORT n);
CTestArg TestI4(LONG n);
CTestArg TestR8(double d);
CTestArg TestText(const wchar_t* psz);
CTestArg TestTextByRef(const wchar_t* psz);

struct CTestEvent
{
    DISPID m_dispid;
    std::vector<CTestArg> m_args;
    LCID m_lcid = LOCALE_USER_DEFAULT;   // the locale the event names
    bool m_bNamed = false;   // every argument passed named, in call order (the reverse of positional order)
};

// Its dispatch members: Raise() raises m_eventsToRaise and returns (VT_I2)
// how many it raised; Caption, a text property; Object, an object property.
// A put is refused without the named argument DISPID_PROPERTYPUT, as by
// controls that dispatch through their type information.
const DISPID DISPID_TESTCTL_RAISE = 1;
const DISPID DISPID_TESTCTL_CAPTION = 2;
const DISPID DISPID_TESTCTL_OBJECT = 3;
// The event a control with TCB_EVENT_ON_ACTIVATE raises.
const DISPID DISPID_TESTEVT_ACTIVATED = 9;

class CTestCtl final : public IOleObject,
                       public IOleInPlaceObject,
                       public IOleInPlaceActiveObject,
                       public IOleControl,
                       public IPersistStreamInit,
                       public IPersistStorage,
                       public IPersistPropertyBag,
                       public IDispatch,
                       public IConnectionPointContainer,
                       public IConnectionPoint,
                       public IProvideClassInfo2
{
public:
    CTestCtl();

    // The control made last, and how many are alive.
    static CTestCtl* Last();
    static LONG LiveCount();
    // How many controls were deleted while one of their own calls (Fire, Invoke) was still running.
    static LONG DeletedInOwnCall();

    // Raises one event to every connected sink, recording each sink's
    // answer; while its events are frozen it holds the event until they thaw.
    void Fire(const CTestEvent& event);

    std::vector<std::string> m_calls;   // what it asked of its site, in order
    std::vector<HRESULT> m_sinkResults; // the answers of its sinks' Invoke
    std::vector<CTestEvent> m_eventsToRaise;
    IOleClientSite* m_pSite = nullptr;
    IUnknown* m_pSink = nullptr;        // the connected sink (as asked for by the source IID)
    HWND m_hWnd = nullptr;
    LONG RefCount() const { return m_cRef; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* pClientSite) override;
    STDMETHODIMP GetClientSite(IOleClientSite** ppClientSite) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD dwSaveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppmk) override { *ppmk = nullptr; return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** ppData) override { *ppData = nullptr; return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT lprcPosRect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** ppEnum) override { *ppEnum = nullptr; return OLEOBJ_E_NOVERBS; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* pClsid) override { *pClsid = CLSID_TestControl; return S_OK; }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* psz) override { *psz = nullptr; return OLE_S_USEREG; }
    STDMETHODIMP SetExtent(DWORD, SIZEL* psizel) override { m_sizeExtent = *psizel; return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL* psizel) override { *psizel = m_sizeExtent; return S_OK; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** ppEnum) override { *ppEnum = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* pdwStatus) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }
    // IOleInPlaceObject (and IOleInPlaceActiveObject's IOleWindow)
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT lprcPosRect, LPCRECT) override;
    STDMETHODIMP ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }
    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG pMsg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* pCI) override;
    STDMETHODIMP OnMnemonic(MSG* pMsg) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
    STDMETHODIMP FreezeEvents(BOOL bFreeze) override;
    // IPersistStreamInit, IPersistStorage, IPersistPropertyBag (InitNew() serves both)
    STDMETHODIMP GetClassID(CLSID* pClsid) override { *pClsid = CLSID_TestControl; return S_OK; }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(LPSTREAM pStm) override;
    STDMETHODIMP Save(LPSTREAM, BOOL) override { return S_OK; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcb) override { pcb->QuadPart = 0; return S_OK; }
    STDMETHODIMP InitNew() override;
    STDMETHODIMP InitNew(IStorage*) override;
    STDMETHODIMP Load(IStorage* pStg) override;
    STDMETHODIMP Save(IStorage*, BOOL) override { return S_OK; }
    STDMETHODIMP SaveCompleted(IStorage*) override { return S_OK; }
    STDMETHODIMP HandsOffStorage() override { return S_OK; }
    STDMETHODIMP Load(IPropertyBag*, IErrorLog*) override { return E_NOTIMPL; }
    STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return S_OK; }
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override { *pctinfo = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override { *ppTInfo = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                        EXCEPINFO*, UINT*) override;
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override { *ppEnum = nullptr; return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* piid) override { *piid = m_setup.m_iidSource; return S_OK; }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    // Serves IOleObject::Unadvise too (same signature); the container calls only this one.
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override { *ppEnum = nullptr; return E_NOTIMPL; }
    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override;
    STDMETHODIMP GetGUID(DWORD dwGuidKind, GUID* pGUID) override;

private:
    ~CTestCtl();
    HRESULT InPlaceActivate(LPCRECT lprcPosRect);
    HRESULT UIActivate();
    HRESULT Property(DISPID dispid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult);
    bool Has(DWORD dwBehaviour) const { return (m_setup.m_dwBehaviour & dwBehaviour) != 0; }
    // Tells a running call of this control that the control was deleted under it.
    class COwnCall
    {
    public:
        explicit COwnCall(CTestCtl* pCtl) : m_pCtl(pCtl), m_pOuter(pCtl->m_pOwnCall) { pCtl->m_pOwnCall = this; }
        ~COwnCall()
        {
            if (m_bDeleted && m_pOuter)
                m_pOuter->m_bDeleted = true;
            else if (!m_bDeleted)
                m_pCtl->m_pOwnCall = m_pOuter;
        }
        bool m_bDeleted = false;

    private:
        CTestCtl* m_pCtl;
        COwnCall* m_pOuter;
    };
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    LONG m_cRef = 1;
    CTestCtlSetup m_setup;
    IOleInPlaceSite* m_pInPlaceSite = nullptr;
    IOleInPlaceFrame* m_pFrame = nullptr;
    bool m_bUIActive = false;
    bool m_bAdvised = false;
    SIZEL m_sizeExtent = { 2540, 2540 };
    HACCEL m_hAccel = nullptr;
    LONG m_nFreeze = 0;
    std::vector<CTestEvent> m_held;   // raised while frozen
    std::wstring m_strCaption;
    IDispatch* m_pObject = nullptr;
    COwnCall* m_pOwnCall = nullptr;   // the innermost of its own calls running
};

// Registers the test control's classes in this process while it lives.
class CTestCtlClass
{
public:
    CTestCtlClass();
    ~CTestCtlClass();
    HRESULT m_hr;

private:
    DWORD m_dwRegister = 0;
    DWORD m_dwRegisterLicensed = 0;
};
