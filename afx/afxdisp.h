// OLE dispatch and the OLE control container: the framework's OLE
// exceptions, the VTS_ parameter strings, and the sites through which a
// window hosts ActiveX controls (created from a dialog template or by
// CWnd::CreateControl), calls them and receives their events.
#pragma once

#include "afxwin.h"

#include <ole2.h>
#include <olectl.h>
#include <ocidl.h>
#include <servprov.h>

#include <vector>

// An owning reference to a COM object (an interface, or a reference-counted
// class of ours): released when replaced or destroyed. A copy made for the
// length of a call is what keeps an object alive while the call may release
// it elsewhere.
template <class T> class CComRef
{
public:
    CComRef() : m_p(NULL) {}
    CComRef(T* p) : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    CComRef(const CComRef& other) : CComRef(other.m_p) {}
    ~CComRef() { Release(); }
    CComRef& operator=(T* p)
    {
        if (p)
            p->AddRef();
        T* pOld = m_p;
        m_p = p;
        if (pOld)
            pOld->Release();
        return *this;
    }
    CComRef& operator=(const CComRef& other) { return *this = other.m_p; }
    // Lets go of the object (NULL afterwards), releasing it last.
    void Release()
    {
        T* p = m_p;
        m_p = NULL;
        if (p)
            p->Release();
    }
    // Gives up the reference without releasing it.
    T* Detach()
    {
        T* p = m_p;
        m_p = NULL;
        return p;
    }
    // The place for an interface an out parameter returns; it must be empty.
    T** Receive() { return &m_p; }
    void** ReceiveVoid() { return reinterpret_cast<void**>(&m_p); }
    // pUnk's interface riid (NULL and a failure when it has none or pUnk is NULL).
    HRESULT QueryFrom(IUnknown* pUnk, REFIID riid)
    {
        Release();
        return pUnk ? pUnk->QueryInterface(riid, ReceiveVoid()) : E_POINTER;
    }
    operator T*() const { return m_p; }
    T* operator->() const { return m_p; }

private:
    T* m_p;
};

// Releases p once the thread's message loop next runs, outside every call in
// progress: for an object that a call on the stack may still be running in.
void AfxReleaseLater(IUnknown* p);

// Parameter types for InvokeHelper and ON_EVENT: one VARTYPE byte per
// parameter, concatenated; the literal's terminator ends the list.
#define VTS_NONE ""
#define VTS_I2 "\x02"
#define VTS_I4 "\x03"
#define VTS_R4 "\x04"
#define VTS_R8 "\x05"
#define VTS_BSTR "\x08"
#define VTS_DISPATCH "\x09"
#define VTS_BOOL "\x0B"
#define VTS_UNKNOWN "\x0D"

// A failed OLE call, by its status code.
class COleException : public CException
{
    DECLARE_DYNAMIC(COleException)
public:
    SCODE m_sc;
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext = NULL) const override;
};

// An error that a dispatch call reported through EXCEPINFO.
class COleDispatchException : public CException
{
    DECLARE_DYNAMIC(COleDispatchException)
public:
    COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode);
    // The description, or the status code's text when there is none.
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext = NULL) const override;

    WORD m_wCode;
    SCODE m_scError;
    DWORD m_dwHelpContext;
    CString m_strHelpFile;
    CString m_strDescription;
    CString m_strSource;
};

[[noreturn]] void AfxThrowOleException(SCODE sc);
// Throws the dispatch error described by pExcepInfo (filled in first when it
// defers that), freeing its texts.
[[noreturn]] void AfxThrowOleDispatchException(EXCEPINFO* pExcepInfo);

// Makes dialogs host the OLE controls their templates name by class
// identifier. Until it is called such a dialog can't be created.
void AfxEnableControlContainer();

// The OLE control items of a dialog template, found while the template is
// copied without them; the controls are made from them during WM_INITDIALOG.
struct _AFX_OCC_DIALOG_INFO
{
    struct ItemInfo
    {
        CLSID m_clsid;
        UINT m_nID;
        DWORD m_dwStyle;
        RECT m_rcDialogUnits;   // left, top, right, bottom
        UINT m_nIndex;          // position in the template, which is the tab order
        UINT m_nPlainBefore;    // ordinary items before it in the template
    };
    std::vector<ItemInfo> m_items;
    std::vector<DWORD> m_newTemplate; // DWORD storage keeps the copy aligned
    BOOL m_bCreateFailed = FALSE;     // a control could not be created
};

// The container's part in making dialogs; installed by AfxEnableControlContainer.
class COccManager
{
public:
    virtual ~COccManager() {}
    // The template to give the dialog manager: a copy without the OLE
    // control items when there are any, else pTemplate itself.
    virtual LPCDLGTEMPLATE PreCreateDialog(_AFX_OCC_DIALOG_INFO* pInfo, LPCDLGTEMPLATE pTemplate);
    // Creates the dialog's OLE controls at their items' places, each with its
    // state from the dialog init data, their events held until
    // FreezeAllEvents(FALSE); FALSE when one could not be created.
    virtual BOOL CreateDlgControls(CWnd* pWndDlg, LPCVOID lpDlgInit, DWORD dwDlgInitSize,
                                   _AFX_OCC_DIALOG_INFO* pInfo);
    // A key message for a window hosting controls: the focused control's
    // active object sees it first, then the controls' mnemonics, then the
    // dialog manager; TRUE when it needs no dispatch.
    virtual BOOL IsDialogMessage(CWnd* pWndDlg, LPMSG lpMsg);
};
extern COccManager* afxOccManager;

// Dialog init data messages that carry a control's saved state; the
// container consumes them, they are not sent to any window. The _EX forms
// start with the licence key of a licensed control.
const WORD WM_OCC_LOADFROMSTREAM = 0x0376;
const WORD WM_OCC_LOADFROMSTORAGE = 0x0377;
const WORD WM_OCC_INITNEW = 0x0378;
const WORD WM_OCC_LOADFROMSTREAM_EX = 0x037A;
const WORD WM_OCC_LOADFROMSTORAGE_EX = 0x037B;
inline bool AfxIsOccInitMessage(WORD nMsg)
{
    return nMsg == WM_OCC_LOADFROMSTREAM || nMsg == WM_OCC_LOADFROMSTORAGE || nMsg == WM_OCC_INITNEW ||
           nMsg == WM_OCC_LOADFROMSTREAM_EX || nMsg == WM_OCC_LOADFROMSTORAGE_EX;
}

class COleControlContainer;

// A dispatch object of the container's own (ambient properties, event sink):
// it has no type information and names no members.
class COleDispatchNoTypeInfo : public IDispatch
{
public:
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
};


// The site of one hosted control: its client site, in-place sites (with the
// Ex and windowless forms, declining windowless activation), control site,
// service provider (no services) and ambient properties, and the sink of its
// default event interface. It owns the control's place and window handle:
// the wrapper attached to it shows the same handle and moves the control
// through it. Reference counted; the container holds one reference while the
// control lives, and the site holds itself and the control across each call
// out to the control. Its work is in occplace.cpp, the interfaces the control
// calls in occsite.cpp, events in occevent.cpp, ambient properties in
// occambient.cpp.
class COleControlSite final : public IOleClientSite,
                        public IOleInPlaceSiteWindowless,
                        public IOleControlSite,
                        public COleDispatchNoTypeInfo,
                        public IServiceProvider
{
public:
    explicit COleControlSite(COleControlContainer* pCtrlCont);

    // Creates the control (through IClassFactory2::CreateInstanceLic when
    // bstrLicKey is given), loads its state from pStream or pStorage (or
    // starts it anew), connects its events (held from the start when
    // bFreezeEvents), and activates it in place at rect in the container's
    // window with id nID and the WS_VISIBLE/WS_TABSTOP/WS_GROUP/WS_DISABLED
    // bits of dwStyle. A control invisible at run time is not activated and
    // has no window (m_hWnd NULL).
    HRESULT CreateControl(REFCLSID clsid, DWORD dwStyle, const RECT& rect, UINT nID, IStream* pStream,
                          IStorage* pStorage, BSTR bstrLicKey, BOOL bFreezeEvents);
    // Disconnects events, closes the control without saving, leaves it and
    // releases it; the wrapper attached to the site is detached. Once only:
    // a call made while it runs returns at once.
    void ReleaseControl();
    // Makes pWnd the wrapper of this control (m_hWnd = the control's window),
    // or lets go of the wrapper (its m_hWnd and m_pCtrlSite cleared).
    void AttachWrapper(CWnd* pWnd);
    void DetachWrapper();
    void InvokeHelperV(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet, const BYTE* pbParamInfo,
                       va_list argList);

    // Places the control at x, y (the container's client coordinates) with
    // the size it accepts for nWidth x nHeight: the extent first, then the
    // rectangles of the in-place object, which moves its window.
    void MoveWindow(int x, int y, int nWidth, int nHeight);
    // Moves and sizes through MoveWindow; Z order and showing concern the window.
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    // Gives the control the focus: UI-activated through its verb (lpMsg the
    // message that asked), unless it is never UI-active; its window gets the
    // focus if the control didn't take it.
    void SetFocus(LPMSG lpMsg = NULL);
    // Holds (or lets go) the control's events through IOleControl::FreezeEvents;
    // events the control raises while they are held are ignored.
    void FreezeEvents(BOOL bFreeze);
    // Reads the control's keys (mnemonics, Enter, Escape) from IOleControl.
    void GetControlInfo();
    // What became of a key offered to the control that holds the focus.
    enum KeyAnswer
    {
        keyTaken,             // its active object took it
        keyForControlWindow,  // an Enter or Escape it declared it eats: its window gets it, not the dialog
        keyNotTaken,
    };
    KeyAnswer PreTranslateKey(LPMSG lpMsg);
    // TRUE when lpMsg is one of the mnemonics the control declared.
    BOOL IsMatchingMnemonic(LPMSG lpMsg) const;
    // Focuses the control (unless it is never UI-active) and hands it the mnemonic.
    void SendMnemonic(LPMSG lpMsg);
    // Asks the control for its window again: a new one takes the item's id
    // and bits and is the wrapper's; the old one is kept only while it lives.
    void UpdateControlWindow();
    // Forgets the window, which is gone.
    void OnWindowDestroyed();

    COleControlContainer* m_pCtrlCont;
    CWnd* m_pWndCtrl;        // the attached wrapper, if any
    HWND m_hWnd;             // the control's window, NULL while it has none
    UINT m_nID;
    DWORD m_dwStyle;         // the item's style, whose tab stop, group and enabled bits its window takes
    RECT m_rect;             // its place, in the container's client coordinates
    CComRef<IUnknown> m_pObject;
    CComRef<IOleObject> m_pOleObject;
    CComRef<IOleInPlaceObject> m_pInPlaceObject;
    CComRef<IOleInPlaceActiveObject> m_pActiveObject; // named by the control while it is UI-active
    CComRef<IDispatch> m_pDispatch;
    CComRef<IConnectionPoint> m_pEventPoint;
    DWORD m_dwEventCookie;
    IID m_iidEvents;
    DWORD m_dwMiscStatus;
    CONTROLINFO m_ctlInfo;   // the keys the control declared
    BOOL m_bEventsFrozen;    // the container ignores the control's events meanwhile

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IOleClientSite
    STDMETHODIMP SaveObject() override;
    STDMETHODIMP GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
    STDMETHODIMP GetContainer(IOleContainer** ppContainer) override;
    STDMETHODIMP ShowObject() override;
    STDMETHODIMP OnShowWindow(BOOL fShow) override;
    STDMETHODIMP RequestNewObjectLayout() override;
    // IOleWindow / IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override;
    STDMETHODIMP CanInPlaceActivate() override;
    STDMETHODIMP OnInPlaceActivate() override;
    STDMETHODIMP OnUIActivate() override;
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                  LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) override;
    STDMETHODIMP Scroll(SIZE scrollExtant) override;
    STDMETHODIMP OnUIDeactivate(BOOL fUndoable) override;
    STDMETHODIMP OnInPlaceDeactivate() override;
    STDMETHODIMP DiscardUndoState() override;
    STDMETHODIMP DeactivateAndUndo() override;
    STDMETHODIMP OnPosRectChange(LPCRECT lprcPosRect) override;
    // IOleInPlaceSiteEx
    STDMETHODIMP OnInPlaceActivateEx(BOOL* pfNoRedraw, DWORD dwFlags) override;
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL fNoRedraw) override;
    STDMETHODIMP RequestUIActivate() override;
    // IOleInPlaceSiteWindowless: windowless activation is declined, so only
    // what a windowed control might still ask is answered.
    STDMETHODIMP CanWindowlessActivate() override;
    STDMETHODIMP GetCapture() override;
    STDMETHODIMP SetCapture(BOOL fCapture) override;
    STDMETHODIMP GetFocus() override;
    STDMETHODIMP SetFocus(BOOL fFocus) override;
    STDMETHODIMP GetDC(LPCRECT pRect, DWORD grfFlags, HDC* phDC) override;
    STDMETHODIMP ReleaseDC(HDC hDC) override;
    STDMETHODIMP InvalidateRect(LPCRECT pRect, BOOL fErase) override;
    STDMETHODIMP InvalidateRgn(HRGN hRGN, BOOL fErase) override;
    STDMETHODIMP ScrollRect(INT dx, INT dy, LPCRECT pRectScroll, LPCRECT pRectClip) override;
    STDMETHODIMP AdjustRect(LPRECT prc) override;
    STDMETHODIMP OnDefWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* plResult) override;
    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override;
    STDMETHODIMP LockInPlaceActive(BOOL fLock) override;
    STDMETHODIMP GetExtendedControl(IDispatch** ppDisp) override;
    STDMETHODIMP TransformCoords(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) override;
    STDMETHODIMP TranslateAccelerator(MSG* pMsg, DWORD grfModifiers) override;
    STDMETHODIMP OnFocus(BOOL fGotFocus) override;
    STDMETHODIMP ShowPropertyFrame() override;
    // IDispatch: the ambient properties
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    // IServiceProvider: the container offers no services.
    STDMETHODIMP QueryService(REFGUID guidService, REFIID riid, void** ppv) override;

private:
    // The sink of the control's default event interface; shares the site's count.
    class XEventSink : public COleDispatchNoTypeInfo
    {
    public:
        explicit XEventSink(COleControlSite* pSite) : m_pSite(pSite) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return m_pSite->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pSite->Release(); }
        STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                            VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    private:
        COleControlSite* m_pSite;
    };

    // The frame the control sees while in place: the container's top window.
    // It negotiates no menus, tools or borders.
    class XInPlaceFrame : public IOleInPlaceFrame
    {
    public:
        explicit XInPlaceFrame(COleControlSite* pSite) : m_pSite(pSite) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return m_pSite->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pSite->Release(); }
        STDMETHODIMP GetWindow(HWND* phwnd) override;
        STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override;
        STDMETHODIMP GetBorder(LPRECT lprectBorder) override;
        STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS pborderwidths) override;
        STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS pborderwidths) override;
        STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR pszObjName) override;
        STDMETHODIMP InsertMenus(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) override;
        STDMETHODIMP SetMenu(HMENU hmenuShared, HOLEMENU holemenu, HWND hwndActiveObject) override;
        STDMETHODIMP RemoveMenus(HMENU hmenuShared) override;
        STDMETHODIMP SetStatusText(LPCOLESTR pszStatusText) override;
        STDMETHODIMP EnableModeless(BOOL fEnable) override;
        STDMETHODIMP TranslateAccelerator(LPMSG lpmsg, WORD wID) override;

    private:
        COleControlSite* m_pSite;
    };

    // The container the control sees: it enumerates nothing and parses no names.
    class XOleContainer : public IOleContainer
    {
    public:
        explicit XOleContainer(COleControlSite* pSite) : m_pSite(pSite) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return m_pSite->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pSite->Release(); }
        STDMETHODIMP ParseDisplayName(IBindCtx* pbc, LPOLESTR pszDisplayName, ULONG* pchEaten,
                                      IMoniker** ppmkOut) override;
        STDMETHODIMP EnumObjects(DWORD grfFlags, IEnumUnknown** ppenum) override;
        STDMETHODIMP LockContainer(BOOL fLock) override;

    private:
        COleControlSite* m_pSite;
    };

    ~COleControlSite();
    HRESULT LoadState(IStream* pStream, IStorage* pStorage);
    HRESULT LoadOrInitNew(IStream* pStream, IStorage* pStorage);
    HRESULT ConnectEvents();
    HRESULT OnEvent(DISPID dispid, LCID lcid, DISPPARAMS* pDispParams);
    HRESULT AmbientFont(VARIANT* pVarResult) const;
    HWND ContainerWindow() const;
    // Forgets m_hWnd when that window is gone.
    void ForgetDeadWindow();
    // The one place the window handle changes: the site's and the wrapper's.
    void SetWindowHandle(HWND hWnd);
    void SetActiveObject(IOleInPlaceActiveObject* pActiveObject);

    LONG m_cRef;
    BOOL m_bReleasing;       // ReleaseControl has begun
    XEventSink m_xEventSink;
    XInPlaceFrame m_xInPlaceFrame;
    XOleContainer m_xOleContainer;
};

// The controls one window hosts. Deleted with the window (at WM_DESTROY, while
// the controls' windows still exist), which releases every control.
class COleControlContainer
{
public:
    explicit COleControlContainer(CWnd* pWnd);
    ~COleControlContainer();

    // A new control in this window; attached to pWndCtrl when given. NULL when
    // it could not be created (nothing of it is left then).
    COleControlSite* CreateControl(CWnd* pWndCtrl, REFCLSID clsid, DWORD dwStyle, const RECT& rect, UINT nID,
                                   IStream* pStream, IStorage* pStorage, BSTR bstrLicKey, BOOL bFreezeEvents);
    COleControlSite* FindItem(UINT nID) const;
    // The control whose window is hWnd or holds it.
    COleControlSite* FindSiteOfWindow(HWND hWnd) const;
    // Releases one control and forgets its site.
    void DestroyControl(COleControlSite* pSite);
    // Holds or lets go the events of every control (those held, when letting go).
    void FreezeAllEvents(BOOL bFreeze);
    // Called when a control becomes UI-active: the one UI-active before is UI-deactivated.
    void OnUIActivate(COleControlSite* pSite);
    // Called when a control stops being UI-active.
    void OnUIDeactivate(COleControlSite* pSite);
    // Called while a key is routed: the control holding the focus is made
    // UI-active (lpMsg the key), one that lost it UI-deactivated.
    void OnFocusChanged(LPMSG lpMsg);
    // Whether any control declared mnemonics, and the one that declared lpMsg.
    BOOL HasMnemonics() const;
    COleControlSite* FindMnemonic(LPMSG lpMsg) const;
    // Called when a child window of the container is destroyed.
    void OnChildDestroyed(HWND hWndChild);
    // Takes UI activation from the UI-active control, unless it is pSite;
    // FALSE when the container is gone after the control's call.
    BOOL UIDeactivateOthers(COleControlSite* pSite);

    CWnd* m_pWnd;
    std::vector<COleControlSite*> m_sites;
    COleControlSite* m_pSiteUIActive; // the UI-active control, if any
    COleControlSite* m_pSiteFocus;    // the control that held the focus when last looked at
};
