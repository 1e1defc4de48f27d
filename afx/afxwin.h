// Windows of the framework layer: command targets with message maps, CWnd
// with its per-thread handle map, dialogs and the controls the program binds.
#pragma once

#include "afx.h"
#include <commctrl.h>
#include <type_traits>

class CCmdTarget;
class CWnd;
class CDataExchange;

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
#define ON_WM_SYSCOMMAND() \
    { WM_SYSCOMMAND, 0, 0, 0, AFX_THUNK_(_this->OnSysCommand(UINT(wParam), lParam); return 0;) },
#define ON_WM_QUERYDRAGICON() \
    { WM_QUERYDRAGICON, 0, 0, 0, AFX_THUNK_(return LRESULT(_this->OnQueryDragIcon());) },
#define ON_WM_ACTIVATE() \
    { WM_ACTIVATE, 0, 0, 0, AFX_THUNK_(_this->OnActivate(UINT(LOWORD(wParam)), \
        CWnd::FromHandle(reinterpret_cast<HWND>(lParam)), BOOL(HIWORD(wParam))); return 0;) },

class CCmdTarget : public CObject
{
    DECLARE_DYNAMIC(CCmdTarget)
public:
    // Finds the handler of a message in this class's map or its bases' maps.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, WPARAM wParam) const;
    // Calls the handler of the message, if any; FALSE when there is none.
    BOOL DispatchToMap(UINT nMessage, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
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
    // outermost message dispatch ends.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWndNew);
    HWND Detach();
    // Routes the window's messages through this object's message map.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();

    virtual BOOL DestroyWindow();
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Window operations the program uses.
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

    afx_msg void OnSize(UINT nType, int cx, int cy);
    afx_msg void OnPaint();
    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);

    WNDPROC m_pfnSuper;   // the window's procedure before it was bound

    friend LRESULT CALLBACK AfxCbtFilterHook(int, WPARAM, LPARAM);
    friend void AfxHookWindowCreate(CWnd* pWnd);

    DECLARE_MESSAGE_MAP()
};

// Binds the next window the calling thread creates to pWnd (used around
// CreateWindowEx and the dialog manager's creation calls).
void AfxHookWindowCreate(CWnd* pWnd);
BOOL AfxUnhookWindowCreate();
// Lets the windows under pMsg->hwnd see a message before it is dispatched
// (dialogs use it for keyboard navigation, Enter and Escape).
BOOL AfxPreTranslateMessage(MSG* pMsg);

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
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    afx_msg LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
    // Sends the dialog init data records (resource type 240) to their controls.
    BOOL ExecuteDlgInit(LPCVOID lpResource, DWORD dwSize);

    UINT m_nIDHelp;
    LPCTSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;
    LPCVOID m_lpDialogInit;
    DWORD m_dwDialogInitSize;

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
    // The message loop; returns ExitInstance's result once WM_QUIT arrives.
    virtual int Run();
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

    LPCTSTR m_pszAppName;
    LPCTSTR m_pszRegistryKey;

protected:
    // Called with the ID_HELP command.
    afx_msg void OnHelp();

    DECLARE_MESSAGE_MAP()
};

// The one application object, or NULL when the program has none.
CWinApp* AfxGetApp();
// The program's entry: InitInstance of the application object, then its
// message loop if it returned TRUE, else straight to ExitInstance; returns
// the exit code. Programs get wWinMain, which calls it, from the afxmain
// library.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);
