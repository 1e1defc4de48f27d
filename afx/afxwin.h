// Windows of the framework layer: command targets with message maps, CWnd
// with its per-thread handle map, dialogs and the controls the program binds.
#pragma once

#include "afx.h"
#include <commctrl.h>
#include <type_traits>
#include <map>
#include <utility>

class CCmdTarget;
class CWnd;
class CDataExchange;
class CMenu;
class CFile;
struct CCreateContext;
class COleControlSite;
class COleControlContainer;
struct _AFX_OCC_DIALOG_INFO;

// --- Message maps -----------------------------------------------------------
// Each entry calls its handler through a small thunk that unpacks wParam and
// lParam as the handler's form requires.
typedef LRESULT (*AFX_PMSGTHUNK)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY
{
    UINT nMessage;   // window or thread message
    UINT nCode;      // notification code, for WM_COMMAND
    UINT nID;        // control or command id, for WM_COMMAND
    UINT nLastID;
    AFX_PMSGTHUNK pfn;
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP() \
protected: \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass) \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() \
    { \
        typedef theClass ThisClass; \
        typedef baseClass TheBaseClass; \
        static_assert(std::is_base_of<TheBaseClass, ThisClass>::value, "message map of " #theClass); \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP() \
            { 0, 0, 0, 0, NULL } \
        }; \
        static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, &_messageEntries[0] }; \
        return &messageMap; \
    }

#define AFX_THUNK_(body) \
    [](CCmdTarget* _p, WPARAM wParam, LPARAM lParam) -> LRESULT { \
        ThisClass* _this = static_cast<ThisClass*>(_p); (void)_this; (void)wParam; (void)lParam; body }

// LRESULT Handler(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn) \
    { UINT(message), 0, 0, 0, AFX_THUNK_(return (_this->*(memberFxn))(wParam, lParam);) },
// void Handler(WPARAM, LPARAM), for messages posted to a thread
#define ON_THREAD_MESSAGE(message, memberFxn) \
    { UINT(message), 0, 0, 0, AFX_THUNK_((_this->*(memberFxn))(wParam, lParam); return 0;) },
// void Handler(), for a command or a control's notification
#define ON_CONTROL(wNotifyCode, id, memberFxn) \
    { WM_COMMAND, UINT(wNotifyCode), UINT(id), UINT(id), AFX_THUNK_((_this->*(memberFxn))(); return 0;) },
#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)

#define ON_WM_SIZE() \
    { WM_SIZE, 0, 0, 0, AFX_THUNK_(_this->OnSize(UINT(wParam), short(LOWORD(lParam)), short(HIWORD(lParam))); return 0;) },
#define ON_WM_PAINT() \
    { WM_PAINT, 0, 0, 0, AFX_THUNK_(_this->OnPaint(); return 0;) },
#define ON_WM_TIMER() \
    { WM_TIMER, 0, 0, 0, AFX_THUNK_(_this->OnTimer(UINT_PTR(wParam)); return 0;) },
#define ON_WM_SYSCOMMAND() \
    { WM_SYSCOMMAND, 0, 0, 0, AFX_THUNK_(_this->OnSysCommand(UINT(wParam), lParam); return 0;) },
#define ON_WM_QUERYDRAGICON() \
    { WM_QUERYDRAGICON, 0, 0, 0, AFX_THUNK_(return LRESULT(_this->OnQueryDragIcon());) },
#define ON_WM_ACTIVATE() \
    { WM_ACTIVATE, 0, 0, 0, AFX_THUNK_(_this->OnActivate(UINT(LOWORD(wParam)), \
        CWnd::FromHandle(reinterpret_cast<HWND>(lParam)), BOOL(HIWORD(wParam))); return 0;) },

// --- Event sink maps --------------------------------------------------------
// Events of hosted OLE controls, by control id and DISPID. Like message map
// entries, each entry calls its handler through a thunk, which converts the
// event's arguments to the declared VTS_ types and the handler's parameters,
// in the locale the control gave (the invariant one when it gave none).
typedef HRESULT (*AFX_PEVENTTHUNK)(CCmdTarget* pTarget, DISPPARAMS* pDispParams, LCID lcid);

struct AFX_EVENTSINKMAP_ENTRY
{
    UINT nCtrlID;
    DISPID dispid;
    AFX_PEVENTTHUNK pfn;
};

struct AFX_EVENTSINKMAP
{
    const AFX_EVENTSINKMAP* (*pfnGetBaseMap)();
    const AFX_EVENTSINKMAP_ENTRY* lpEntries;
};

#define DECLARE_EVENTSINK_MAP() \
protected: \
    static const AFX_EVENTSINKMAP* GetThisEventSinkMap(); \
    const AFX_EVENTSINKMAP* GetEventSinkMap() const override;

#define BEGIN_EVENTSINK_MAP(theClass, baseClass) \
    const AFX_EVENTSINKMAP* theClass::GetEventSinkMap() const { return GetThisEventSinkMap(); } \
    const AFX_EVENTSINKMAP* theClass::GetThisEventSinkMap() \
    { \
        typedef baseClass TheBaseClass; \
        static_assert(std::is_base_of<TheBaseClass, theClass>::value, "event sink map of " #theClass); \
        static const AFX_EVENTSINKMAP_ENTRY _eventsinkEntries[] = {

// void (or BOOL) Handler(params...), params matching vtsParams: VTS_BSTR
// LPCTSTR, VTS_I2 short, VTS_I4 long, VTS_BOOL BOOL, VTS_R4 float, VTS_R8 double.
// An argument of another type is converted when it can be, else refused.
#define ON_EVENT(theClass, id, dispid, pfnHandler, vtsParams) \
    { UINT(id), DISPID(dispid), [](CCmdTarget* _p, DISPPARAMS* _pdp, LCID _lcid) -> HRESULT { \
        return AfxCallEventHandler(static_cast<theClass*>(_p), pfnHandler, \
                                   reinterpret_cast<const BYTE*>(vtsParams), _pdp, _lcid); } },

#define END_EVENTSINK_MAP() \
            { 0, 0, NULL } \
        }; \
        static const AFX_EVENTSINKMAP eventsinkMap = { &TheBaseClass::GetThisEventSinkMap, &_eventsinkEntries[0] }; \
        return &eventsinkMap; \
    }

// How a handler parameter is taken from an event argument of the declared type.
template <typename T> struct AfxEventParam;
template <> struct AfxEventParam<LPCTSTR>
{
    static const VARTYPE vt = VT_BSTR;
    // A null BSTR is the empty text.
    static LPCTSTR Get(const VARIANT& var) { return V_BSTR(&var) ? V_BSTR(&var) : L""; }
};
template <> struct AfxEventParam<short>
{
    static const VARTYPE vt = VT_I2;
    static short Get(const VARIANT& var) { return V_I2(&var); }
};
template <> struct AfxEventParam<long>
{
    static const VARTYPE vt = VT_I4;
    static long Get(const VARIANT& var) { return V_I4(&var); }
};
template <> struct AfxEventParam<BOOL>
{
    static const VARTYPE vt = VT_BOOL;
    static BOOL Get(const VARIANT& var) { return V_BOOL(&var) != VARIANT_FALSE; }
};
template <> struct AfxEventParam<float>
{
    static const VARTYPE vt = VT_R4;
    static float Get(const VARIANT& var) { return V_R4(&var); }
};
template <> struct AfxEventParam<double>
{
    static const VARTYPE vt = VT_R8;
    static double Get(const VARIANT& var) { return V_R8(&var); }
};

// The event's arguments, converted to the declared types in declaration order
// (DISPPARAMS holds them last-first) in locale lcid; cleared when the call is over.
class CEventArgs
{
public:
    CEventArgs(const BYTE* pbParams, const VARTYPE* pvtHandler, UINT nParams, DISPPARAMS* pDispParams, LCID lcid);
    ~CEventArgs();
    CEventArgs(const CEventArgs&) = delete;
    CEventArgs& operator=(const CEventArgs&) = delete;
    HRESULT m_hr;   // S_OK, or why the arguments do not fit the declaration
    const VARIANT& operator[](UINT i) const { return m_pArgs[i]; }

private:
    VARIANT m_args[8];
    VARIANT* m_pArgs;
    UINT m_nArgs;
};

template <class T, class C, class R, class... Args, size_t... I>
HRESULT AfxCallEventHandler_(T* pTarget, R (C::*pfn)(Args...), const CEventArgs& args, std::index_sequence<I...>)
{
    (void)args;
    (pTarget->*pfn)(AfxEventParam<Args>::Get(args[UINT(I)])...);
    return S_OK;
}

template <class T, class C, class R, class... Args>
HRESULT AfxCallEventHandler(T* pTarget, R (C::*pfn)(Args...), const BYTE* pbParams, DISPPARAMS* pDispParams,
                            LCID lcid)
{
    static const VARTYPE vtHandler[sizeof...(Args) + 1] = { AfxEventParam<Args>::vt..., VT_EMPTY };
    CEventArgs args(pbParams, vtHandler, UINT(sizeof...(Args)), pDispParams, lcid);
    if (FAILED(args.m_hr))
        return args.m_hr;
    return AfxCallEventHandler_(pTarget, pfn, args, std::index_sequence_for<Args...>());
}

// A failure that an event handler raised: reported with the framework's error
// box once the thread's message loop next reaches hWndContainer, outside the
// control's call; dropped when that window goes first. While one report waits
// or is shown, later ones are dropped.
void AfxPostEventHandlerError(CException* e, HWND hWndContainer);
// Called by the window procedure: shows the waiting report when message is
// the one AfxPostEventHandlerError posted; FALSE for any other message.
BOOL AfxOnEventHandlerErrorMessage(UINT message);

class CCmdTarget : public CObject
{
    DECLARE_DYNAMIC(CCmdTarget)
public:
    // Finds the handler of a message in this class's map or its bases' maps.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, WPARAM wParam) const;
    // Calls the handler of the message, if any; FALSE when there is none.
    BOOL DispatchToMap(UINT nMessage, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Calls the handler of event dispid from control nCtrlID, if any, its
    // arguments converted in locale lcid; FALSE when there is none. *phr
    // tells whether the arguments fitted.
    BOOL DispatchEventToMap(UINT nCtrlID, DISPID dispid, DISPPARAMS* pDispParams, LCID lcid, HRESULT* phr);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_EVENTSINKMAP* GetThisEventSinkMap();
    virtual const AFX_EVENTSINKMAP* GetEventSinkMap() const;
};

// --- Geometry ---------------------------------------------------------------
class CRect : public RECT
{
public:
    CRect() { left = top = right = bottom = 0; }
    CRect(int l, int t, int r, int b) { left = l; top = t; right = r; bottom = b; }
    CRect(const RECT& rc) { *static_cast<RECT*>(this) = rc; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
    bool operator==(const RECT& rc) const { return ::EqualRect(this, &rc) != FALSE; }
};

// --- Windows ----------------------------------------------------------------
class CWnd : public CCmdTarget
{
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd();
    ~CWnd() override;

    HWND m_hWnd;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Handle map of the calling thread: the permanent object bound to hWnd,
    // or (FromHandle) a temporary one made for it, valid until the thread's
    // outermost message or event dispatch ends.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWndNew);
    HWND Detach();
    // Routes the window's messages through this object's message map.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();

    // Creates a window of a registered class bound to this object from its
    // first message on (hWndParent HWND_MESSAGE makes a message-only window).
    virtual BOOL CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, int x,
                          int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam = NULL);
    virtual BOOL DestroyWindow();
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // Keyboard navigation of a dialog; in a window hosting controls, the
    // focused control and the controls' mnemonics come first.
    BOOL IsDialogMessage(LPMSG lpMsg);
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Window operations the program uses. Moving a hosted control's wrapper
    // goes through its site.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE);
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    BOOL ShowWindow(int nCmdShow);
    void GetClientRect(LPRECT lpRect) const;
    void GetWindowRect(LPRECT lpRect) const;
    void SetWindowText(LPCTSTR lpszString);
    void GetWindowText(CString& rString) const;
    CWnd* GetDlgItem(int nID) const;
    void SetDlgItemText(int nID, LPCTSTR lpszString);
    int GetDlgItemText(int nID, CString& rString) const;
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    CWnd* GetParent() const;
    void Invalidate(BOOL bErase = TRUE);
    BOOL RedrawWindow(LPCRECT lpRectUpdate = NULL, HRGN hrgnUpdate = NULL,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE)
    {
        return ::RedrawWindow(m_hWnd, lpRectUpdate, hrgnUpdate, flags);
    }
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = NULL)
    {
        return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
    }
    BOOL KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }
    // The window menu; bRevert restores the system's default one.
    CMenu* GetSystemMenu(BOOL bRevert) const;

    // Hosted OLE controls (the container lives in afxdisp.h). CreateControl
    // makes this object the wrapper of a new control in pParentWnd; a file to
    // load the control's state from is not supported (pPersist must be NULL).
    // The parent must be the permanent object of its window, with its messages
    // routed through the framework (the controls go at its WM_DESTROY).
    BOOL CreateControl(REFCLSID clsid, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                       CWnd* pParentWnd, UINT nID, CFile* pPersist = NULL, BOOL bStorage = FALSE,
                       BSTR bstrLicKey = NULL);
    // Calls the wrapped control through IDispatch; pbParamInfo lists the
    // arguments' VTS_ types (a property put's last one is the value). Failures
    // throw COleDispatchException or COleException.
    void __cdecl InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                              const BYTE* pbParamInfo, ...);
    // Sets a property of the wrapped control to the value of type vtProp that
    // follows (an object by reference); reads one into *pvProp.
    void __cdecl SetProperty(DISPID dwDispID, VARTYPE vtProp, ...);
    void GetProperty(DISPID dwDispID, VARTYPE vtProp, void* pvProp) const;
    LPUNKNOWN GetControlUnknown();
    COleControlSite* m_pCtrlSite;      // the site of the control this object wraps
    COleControlContainer* m_pCtrlCont; // the controls this window hosts

    // The framework's window procedure: every message of a window bound to a
    // CWnd enters here; exceptions stop here and are reported.
    static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Passes the message being handled on to the window's original procedure.
    LRESULT Default();
    // Called after the window is gone (WM_NCDESTROY), once the object is detached.
    virtual void PostNcDestroy();
    // Called when an existing window has just been bound to this object.
    virtual void PreSubclassWindow();

    afx_msg void OnSize(UINT nType, int cx, int cy);
    afx_msg void OnPaint();
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);

    WNDPROC m_pfnSuper;   // the window's procedure before it was bound

    friend LRESULT CALLBACK AfxCbtFilterHook(int, WPARAM, LPARAM);
    friend void AfxHookWindowCreate(CWnd* pWnd);

    DECLARE_MESSAGE_MAP()
};

// The name of a window class with these attributes and the platform's
// default window procedure, registered on first use; valid for the process.
LPCTSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = 0, HBRUSH hbrBackground = 0, HICON hIcon = 0);

// Binds the next window the calling thread creates to pWnd (used around
// CreateWindowEx and the dialog manager's creation calls).
void AfxHookWindowCreate(CWnd* pWnd);
BOOL AfxUnhookWindowCreate();
// Lets the windows under pMsg->hwnd see a message before it is dispatched
// (dialogs use it for keyboard navigation, Enter and Escape).
BOOL AfxPreTranslateMessage(MSG* pMsg);

// Temporary CWnd objects (FromHandle) live while the thread's temporary maps
// are locked: each message dispatch and each event of a hosted control locks
// them, and the outermost unlock deletes the temporaries (with bDeleteTemps).
// TRUE when that unlock was the outermost one.
void AfxLockTempMaps();
BOOL AfxUnlockTempMaps(BOOL bDeleteTemps = TRUE);

class CEdit : public CWnd
{
    DECLARE_DYNAMIC(CEdit)
public:
    void SetLimitText(UINT nMax) { ::SendMessageW(m_hWnd, EM_SETLIMITTEXT, nMax, 0); }
    UINT GetLimitText() const { return UINT(::SendMessageW(m_hWnd, EM_GETLIMITTEXT, 0, 0)); }
    void SetSel(int nStartChar, int nEndChar, BOOL bNoScroll = FALSE);
    void ReplaceSel(LPCTSTR lpszNewText, BOOL bCanUndo = FALSE) { ::SendMessageW(m_hWnd, EM_REPLACESEL, bCanUndo, LPARAM(lpszNewText)); }
    int GetFirstVisibleLine() const { return int(::SendMessageW(m_hWnd, EM_GETFIRSTVISIBLELINE, 0, 0)); }
    int GetLineCount() const { return int(::SendMessageW(m_hWnd, EM_GETLINECOUNT, 0, 0)); }
    void LineScroll(int nLines, int nChars = 0) { ::SendMessageW(m_hWnd, EM_LINESCROLL, nChars, nLines); }
};

// A menu handle; objects for handles found by FromHandle live as long as the thread.
class CMenu : public CObject
{
public:
    CMenu() : m_hMenu(NULL) {}
    HMENU m_hMenu;
    static CMenu* FromHandle(HMENU hMenu);
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCTSTR lpszNewItem = NULL)
    {
        return ::AppendMenuW(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
    }
};

class CDC : public CObject
{
public:
    CDC() : m_hDC(NULL) {}
    HDC m_hDC;
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }
};

// The device context of a WM_PAINT: BeginPaint on construction, EndPaint on destruction.
class CPaintDC : public CDC
{
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps;

protected:
    HWND m_hWnd;
};

// --- Dialog data exchange ---------------------------------------------------
class CDataExchange
{
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    // The dialog's control nIDC; throws CNotSupportedException if there is none.
    HWND PrepareCtrl(int nIDC);
};

// Binds rControl to the dialog's control nIDC, once.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// --- Dialogs ----------------------------------------------------------------
class CDialog : public CWnd
{
    DECLARE_DYNAMIC(CDialog)
public:
    CDialog();
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = NULL);

    // Modeless creation from the template resource; FALSE when it failed.
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = NULL);
    BOOL CreateIndirect(LPCDLGTEMPLATE lpDialogTemplate, CWnd* pParentWnd = NULL);
    // Runs the dialog modally: IDOK, IDCANCEL (or what EndDialog was given),
    // or -1 when the dialog could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    // The text of the dialog's init data record 0x037C for control nIDC, if
    // any (controls read their own set-up from it when they are bound).
    CStringA GetControlInitData(int nIDC) const;

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    afx_msg LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
    // Sends the dialog init data records (resource type 240) to their controls.
    BOOL ExecuteDlgInit(LPCVOID lpResource, DWORD dwSize);

    // Loads the template and its init data; NULL when there is no template.
    LPCDLGTEMPLATE LoadTemplate();
    void RunModalLoop();

    UINT m_nIDHelp;
    LPCTSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;
    LPCVOID m_lpDialogInit;
    DWORD m_dwDialogInitSize;
    bool m_bModal;
    bool m_bContinueModal;
    INT_PTR m_nModalResult;
    std::map<int, CStringA> m_mapControlInitData;
    _AFX_OCC_DIALOG_INFO* m_pOccDialogInfo; // OLE control items, while the dialog is created

    DECLARE_MESSAGE_MAP()
};

// --- Threads and the application ---------------------------------------------
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

// A user-interface thread: InitInstance, then a message loop until WM_QUIT,
// then ExitInstance, whose result is the thread's exit code. Thread messages
// (no window) go through the thread's message map (ON_THREAD_MESSAGE).
class CWinThread : public CCmdTarget
{
    DECLARE_DYNAMIC(CWinThread)
public:
    CWinThread();
    ~CWinThread() override;

    // Starts the thread; returns once it has a message queue (unless
    // CREATE_SUSPENDED is given), so PostThreadMessage works at once.
    BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = NULL);
    BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual CWnd* GetMainWnd() { return m_pMainWnd; }

    virtual BOOL InitInstance() { return FALSE; }
    // The message loop: PumpMessage until it says stop, then ExitInstance,
    // whose result it returns.
    virtual int Run();
    // Takes one message, waiting for it, and dispatches it; FALSE for WM_QUIT.
    virtual BOOL PumpMessage();
    // Thread messages go to the message map, window messages to the windows
    // they are for; TRUE when the message needs no dispatch.
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual int ExitInstance();
    // Called on the thread after ExitInstance: deletes the object when
    // m_bAutoDelete is set.
    virtual void Delete();

    CWnd* m_pMainWnd;
    BOOL m_bAutoDelete;   // TRUE unless the owner clears it
    HANDLE m_hThread;     // closed by the destructor
    DWORD m_nThreadID;
    operator HANDLE() const { return m_hThread; }

protected:
    MSG m_msgCur;         // the message being handled; WM_QUIT's wParam is the exit code

    DECLARE_MESSAGE_MAP()
};

// The CWinThread of the calling thread (the application object on the main thread).
CWinThread* AfxGetThread();
// Frees the calling thread's window map; a CWinThread's thread does so as it ends.
void AfxTermThreadState();

class CWinApp : public CWinThread
{
    DECLARE_DYNAMIC(CWinApp)
public:
    // With no name, the name is string AFX_IDS_APP_TITLE (57344).
    explicit CWinApp(LPCTSTR lpszAppName = NULL);
    ~CWinApp() override;

    BOOL InitInstance() override { return TRUE; }
    int ExitInstance() override;
    // Names the per-user key the application's settings would live under.
    void SetRegistryKey(LPCTSTR lpszRegistryKey);
    HICON LoadIcon(UINT nIDResource) const;

    // Called with the ID_HELP command.
    afx_msg void OnHelp();

    LPCTSTR m_pszAppName;
    LPCTSTR m_pszRegistryKey;

    DECLARE_MESSAGE_MAP()
};

// The one application object, or NULL when the program has none.
CWinApp* AfxGetApp();
// The program's entry: InitInstance of the application object, then its
// message loop if it returned TRUE, else straight to ExitInstance; returns
// the exit code. Programs get wWinMain, which calls it, from the afxmain
// library.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);
