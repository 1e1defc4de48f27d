// CCmdTarget message maps, CWnd and its per-thread handle map, the
// framework's window procedure and the creation hook that binds new windows.
#include "afxwin.h"
#include "afxdisp.h"
#include "afxmt.h"

#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

// --- Per-thread state -------------------------------------------------------
namespace {

struct ThreadState
{
    std::unordered_map<HWND, CWnd*> permanent;
    std::unordered_map<HWND, CWnd*> temporary;
    std::unordered_map<HMENU, std::unique_ptr<CMenu>> menus;
    CWnd* pWndInit = NULL;        // object to bind to the next window created
    HHOOK hHookCbt = NULL;
    MSG lastSentMsg = {};          // the message being handled, for Default()
    int nTempMapLocks = 0;         // message and event dispatches under way

    ~ThreadState() { DeleteTemporaries(); }
    void DeleteTemporaries()
    {
        for (auto& kv : temporary) {
            kv.second->m_hWnd = NULL;
            delete kv.second;
        }
        temporary.clear();
    }
};

// A plain pointer: a thread-local object with a destructor would be torn
// down by the runtime in an order that can free its storage first.
thread_local ThreadState* t_pState = NULL;

ThreadState& State()
{
    if (!t_pState)
        t_pState = new ThreadState;
    return *t_pState;
}

} // namespace

void AfxLockTempMaps()
{
    ++State().nTempMapLocks;
}

BOOL AfxUnlockTempMaps(BOOL bDeleteTemps)
{
    ThreadState& state = State();
    if (state.nTempMapLocks > 0 && --state.nTempMapLocks == 0) {
        if (bDeleteTemps)
            state.DeleteTemporaries();
        return TRUE;
    }
    return FALSE;
}

void AfxTermThreadState()
{
    delete t_pState;
    t_pState = NULL;
}

// --- Message maps -----------------------------------------------------------
IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, 0, NULL } };
    static const AFX_MSGMAP map = { NULL, &entries[0] };
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT nMessage, WPARAM wParam) const
{
    for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap; pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : NULL) {
        for (const AFX_MSGMAP_ENTRY* e = pMap->lpEntries; e->pfn; ++e) {
            if (e->nMessage != nMessage)
                continue;
            if (nMessage == WM_COMMAND) {
                UINT nID = LOWORD(wParam), nCode = HIWORD(wParam);
                if (e->nCode != nCode || nID < e->nID || nID > e->nLastID)
                    continue;
            }
            return e;
        }
    }
    return NULL;
}

BOOL CCmdTarget::DispatchToMap(UINT nMessage, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(nMessage, wParam);
    if (!e)
        return FALSE;
    LRESULT lResult = e->pfn(this, wParam, lParam);
    if (pResult)
        *pResult = lResult;
    return TRUE;
}

// --- Event sink maps --------------------------------------------------------
const AFX_EVENTSINKMAP* CCmdTarget::GetThisEventSinkMap()
{
    static const AFX_EVENTSINKMAP_ENTRY entries[] = { { 0, 0, NULL } };
    static const AFX_EVENTSINKMAP map = { NULL, &entries[0] };
    return &map;
}

const AFX_EVENTSINKMAP* CCmdTarget::GetEventSinkMap() const { return GetThisEventSinkMap(); }

BOOL CCmdTarget::DispatchEventToMap(UINT nCtrlID, DISPID dispid, DISPPARAMS* pDispParams, LCID lcid, HRESULT* phr)
{
    for (const AFX_EVENTSINKMAP* pMap = GetEventSinkMap(); pMap;
         pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : NULL) {
        for (const AFX_EVENTSINKMAP_ENTRY* e = pMap->lpEntries; e->pfn; ++e) {
            if (e->nCtrlID == nCtrlID && e->dispid == dispid) {
                HRESULT hr = e->pfn(this, pDispParams, lcid);
                if (phr)
                    *phr = hr;
                return TRUE;
            }
        }
    }
    return FALSE;
}

// --- Reports of failed event handlers -----------------------------------------------
namespace {

// Plain data: a thread-local object with a destructor is avoided on purpose.
struct CPendingEventError
{
    CException* m_pException;
    HWND m_hWnd;          // where the report was posted
    bool m_bShowing;      // a report's box is on the screen
};
thread_local CPendingEventError t_eventError = { NULL, NULL, false };

// Registered when the program starts, so that no window procedure ever waits
// on its first use.
const UINT s_nEventErrorMessage = ::RegisterWindowMessageW(L"AfxEventHandlerError");

} // namespace

void AfxPostEventHandlerError(CException* e, HWND hWndContainer)
{
    CPendingEventError& pending = t_eventError;
    // A report still on its way (its window alive) or on the screen covers this one.
    if (pending.m_bShowing || (pending.m_pException && ::IsWindow(pending.m_hWnd)) || !hWndContainer ||
        !::PostMessageW(hWndContainer, s_nEventErrorMessage, 0, 0)) {
        TRACE("Warning: an event handler failed while another failure waits to be reported.\n");
        e->Delete();
        return;
    }
    if (pending.m_pException)   // its window went without the framework seeing it
        pending.m_pException->Delete();
    pending.m_pException = e;
    pending.m_hWnd = hWndContainer;
}

BOOL AfxOnEventHandlerErrorMessage(UINT message)
{
    if (message != s_nEventErrorMessage || !s_nEventErrorMessage)
        return FALSE;
    CPendingEventError& pending = t_eventError;
    CException* e = pending.m_pException;
    pending.m_pException = NULL;
    pending.m_hWnd = NULL;
    if (e) {
        pending.m_bShowing = true;
        e->ReportError(MB_ICONEXCLAMATION);
        pending.m_bShowing = false;
        e->Delete();
    }
    return TRUE;
}

// A report whose window goes before it was shown goes with it.
static void AfxDropEventHandlerError(HWND hWnd)
{
    CPendingEventError& pending = t_eventError;
    if (pending.m_pException && pending.m_hWnd == hWnd) {
        TRACE("Warning: an event handler's failure is not reported, its window is gone.\n");
        pending.m_pException->Delete();
        pending.m_pException = NULL;
        pending.m_hWnd = NULL;
    }
}

// --- CWnd -------------------------------------------------------------------
IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::CWnd() : m_hWnd(NULL), m_pCtrlSite(NULL), m_pCtrlCont(NULL), m_pfnSuper(NULL) {}

CWnd::~CWnd()
{
    if ((m_hWnd && FromHandlePermanent(m_hWnd) == this) || m_pCtrlSite) {
        // The window (or the hosted control) outlives its object: destroy it
        // while the object can still take its last messages.
        DestroyWindow();
    }
    if (m_pCtrlCont) {
        // The window went without the framework seeing it (or was detached):
        // its controls go with the object.
        COleControlContainer* pCtrlCont = m_pCtrlCont;
        m_pCtrlCont = NULL;
        delete pCtrlCont;
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    auto& map = State().permanent;
    auto it = map.find(hWnd);
    return it == map.end() ? NULL : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    if (!hWnd)
        return NULL;
    if (CWnd* p = FromHandlePermanent(hWnd))
        return p;
    auto& temp = State().temporary;
    auto it = temp.find(hWnd);
    if (it != temp.end())
        return it->second;
    CWnd* p = new CWnd;
    p->m_hWnd = hWnd;
    temp[hWnd] = p;
    return p;
}

BOOL CWnd::Attach(HWND hWndNew)
{
    if (!hWndNew || m_hWnd || FromHandlePermanent(hWndNew))
        return FALSE;
    m_hWnd = hWndNew;
    State().permanent[hWndNew] = this;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND hWnd = m_hWnd;
    if (hWnd) {
        auto& map = State().permanent;
        auto it = map.find(hWnd);
        if (it != map.end() && it->second == this)
            map.erase(it);
    }
    m_hWnd = NULL;
    return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!::IsWindow(hWnd) || !Attach(hWnd))
        return FALSE;
    WNDPROC pfnOld = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
    if (pfnOld != &CWnd::AfxWndProc)
        m_pfnSuper = pfnOld;
    PreSubclassWindow();
    return TRUE;
}

void CWnd::PreSubclassWindow() {}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    HWND hWndControl = ::GetDlgItem(pParent->m_hWnd, int(nID));
    return hWndControl ? SubclassWindow(hWndControl) : FALSE;
}

HWND CWnd::UnsubclassWindow()
{
    if (m_pfnSuper) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        m_pfnSuper = NULL;
    }
    return Detach();
}

LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    ThreadState& state = State();
    CWnd* pWnd = FromHandlePermanent(hWnd);
    if (!pWnd)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);

    MSG oldMsg = state.lastSentMsg;
    state.lastSentMsg.hwnd = hWnd;
    state.lastSentMsg.message = message;
    state.lastSentMsg.wParam = wParam;
    state.lastSentMsg.lParam = lParam;
    AfxLockTempMaps();

    // A hosted control's window that goes is no window of its site or wrapper any more.
    if (message == WM_PARENTNOTIFY && LOWORD(wParam) == WM_DESTROY && pWnd->m_pCtrlCont)
        pWnd->m_pCtrlCont->OnChildDestroyed(reinterpret_cast<HWND>(lParam));

    LRESULT lResult = 0;
    try {
        if (!AfxOnEventHandlerErrorMessage(message))
            lResult = pWnd->WindowProc(message, wParam, lParam);
    } catch (CException* e) {
        // An exception must not cross into the platform: report it like the
        // framework does, and go on with the next message.
        e->ReportError(MB_ICONEXCLAMATION);
        e->Delete();
        if (message == WM_CREATE)
            lResult = -1;
    } catch (...) {
        // Nothing that is not a framework exception may leave either.
    }

    if (message == WM_DESTROY && pWnd->m_pCtrlCont) {
        // The hosted controls go while their windows still exist.
        COleControlContainer* pCtrlCont = pWnd->m_pCtrlCont;
        pWnd->m_pCtrlCont = NULL;
        delete pCtrlCont;
    }

    if (message == WM_NCDESTROY)
        AfxDropEventHandlerError(hWnd);
    if (message == WM_NCDESTROY && FromHandlePermanent(hWnd) == pWnd) {
        // Restore the original procedure so the last messages don't come back here.
        if (pWnd->m_pfnSuper &&
            reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == &CWnd::AfxWndProc)
            ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pWnd->m_pfnSuper));
        pWnd->m_pfnSuper = NULL;
        pWnd->Detach();
        // A thread's main window that is gone is no main window any more.
        if (CWinThread* pThread = AfxGetThread())
            if (pThread->m_pMainWnd == pWnd)
                pThread->m_pMainWnd = NULL;
        pWnd->PostNcDestroy();
    }

    state.lastSentMsg = oldMsg;
    AfxUnlockTempMaps();
    return lResult;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = 0;
    if (!OnWndMsg(message, wParam, lParam, &lResult))
        lResult = DefWindowProc(message, wParam, lParam);
    return lResult;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    return DispatchToMap(message, wParam, lParam, pResult);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    const MSG& msg = State().lastSentMsg;
    return DefWindowProc(msg.message, msg.wParam, msg.lParam);
}

void CWnd::PostNcDestroy() {}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, int x, int y,
                    int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam)
{
    if (m_hWnd)
        return FALSE;
    AfxHookWindowCreate(this);
    HWND hWnd = ::CreateWindowExW(dwExStyle, lpszClassName, lpszWindowName, dwStyle, x, y, nWidth, nHeight,
                                  hWndParent, nIDorHMenu, AfxGetInstanceHandle(), lpParam);
    AfxUnhookWindowCreate();
    if (!hWnd && m_hWnd)
        Detach();   // bound, then refused in WM_CREATE: the window is gone
    return hWnd != NULL;
}

LPCTSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon)
{
    static CCriticalSection s_cs;
    static std::set<CString> s_names;   // node-based: the names stay put
    CString strName;
    strName.Format(L"Afx:%p:%x:%p:%p:%p", AfxGetInstanceHandle(), nClassStyle, hCursor, hbrBackground, hIcon);
    CSingleLock lock(&s_cs, TRUE);
    auto it = s_names.find(strName);
    if (it != s_names.end())
        return it->GetString();
    WNDCLASSW wc = {};
    if (!::GetClassInfoW(AfxGetInstanceHandle(), strName, &wc)) {
        wc.style = nClassStyle;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = AfxGetInstanceHandle();
        wc.hIcon = hIcon;
        wc.hCursor = hCursor;
        wc.hbrBackground = hbrBackground;
        wc.lpszClassName = strName;
        ::RegisterClassW(&wc);   // if it fails, so does the creation that uses the name
    }
    return s_names.insert(strName).first->GetString();
}

BOOL CWnd::DestroyWindow()
{
    if (m_pCtrlSite) {
        // A hosted control is released through its container, which destroys its window.
        m_pCtrlSite->m_pCtrlCont->DestroyControl(m_pCtrlSite);
        return TRUE;
    }
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::OnSize(UINT, int, int) { Default(); }
void CWnd::OnPaint() { Default(); }
void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnActivate(UINT, CWnd*, BOOL) { Default(); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint)
{
    if (m_pCtrlSite)
        m_pCtrlSite->MoveWindow(x, y, nWidth, nHeight);
    else
        ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}

void CWnd::MoveWindow(LPCRECT lpRect, BOOL bRepaint)
{
    MoveWindow(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top, bRepaint);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
{
    if (m_pCtrlSite)
        return m_pCtrlSite->SetWindowPos(pWndInsertAfter, x, y, cx, cy, nFlags);
    return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : NULL, x, y, cx, cy, nFlags);
}

BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
void CWnd::GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
void CWnd::GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
void CWnd::SetWindowText(LPCTSTR lpszString) { ::SetWindowTextW(m_hWnd, lpszString); }

static void GetWindowTextOf(HWND hWnd, CString& rString)
{
    int n = ::GetWindowTextLengthW(hWnd);
    ::GetWindowTextW(hWnd, rString.GetBufferSetLength(n), n + 1);
    rString.ReleaseBuffer();
}

void CWnd::GetWindowText(CString& rString) const { GetWindowTextOf(m_hWnd, rString); }

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }

void CWnd::SetDlgItemText(int nID, LPCTSTR lpszString) { ::SetDlgItemTextW(m_hWnd, nID, lpszString); }

int CWnd::GetDlgItemText(int nID, CString& rString) const
{
    rString.Empty();
    if (HWND hWnd = ::GetDlgItem(m_hWnd, nID))
        GetWindowTextOf(hWnd, rString);
    return rString.GetLength();
}

BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon)
{
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, LPARAM(hIcon)));
}

CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const { return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert)); }

CMenu* CMenu::FromHandle(HMENU hMenu)
{
    if (!hMenu)
        return NULL;
    std::unique_ptr<CMenu>& p = State().menus[hMenu];
    if (!p) {
        p.reset(new CMenu);
        p->m_hMenu = hMenu;
    }
    return p.get();
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
void CWnd::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, NULL, bErase); }

// --- Creation hook ----------------------------------------------------------
LRESULT CALLBACK AfxCbtFilterHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    ThreadState& state = State();
    if (nCode == HCBT_CREATEWND && state.pWndInit) {
        CWnd* pWnd = state.pWndInit;
        state.pWndInit = NULL;
        pWnd->SubclassWindow(reinterpret_cast<HWND>(wParam));
    }
    return ::CallNextHookEx(state.hHookCbt, nCode, wParam, lParam);
}

void AfxHookWindowCreate(CWnd* pWnd)
{
    ThreadState& state = State();
    if (!state.hHookCbt)
        state.hHookCbt = ::SetWindowsHookExW(WH_CBT, &AfxCbtFilterHook, NULL, ::GetCurrentThreadId());
    state.pWndInit = pWnd;
}

BOOL AfxUnhookWindowCreate()
{
    ThreadState& state = State();
    if (state.hHookCbt) {
        ::UnhookWindowsHookEx(state.hHookCbt);
        state.hHookCbt = NULL;
    }
    BOOL bBound = state.pWndInit == NULL;
    state.pWndInit = NULL;
    return bBound;
}

BOOL AfxPreTranslateMessage(MSG* pMsg)
{
    for (HWND hWnd = pMsg->hwnd; hWnd; hWnd = ::GetParent(hWnd)) {
        if (CWnd* pWnd = CWnd::FromHandlePermanent(hWnd))
            if (pWnd->PreTranslateMessage(pMsg))
                return TRUE;
        if (!(::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD))
            break;
    }
    return FALSE;
}

// --- Controls ---------------------------------------------------------------
IMPLEMENT_DYNAMIC(CEdit, CWnd)

void CEdit::SetSel(int nStartChar, int nEndChar, BOOL bNoScroll)
{
    ::SendMessageW(m_hWnd, EM_SETSEL, nStartChar, nEndChar);
    if (!bNoScroll)
        ::SendMessageW(m_hWnd, EM_SCROLLCARET, 0, 0);
}
