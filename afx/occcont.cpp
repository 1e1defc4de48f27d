// COleControlContainer and the dialog side of control hosting: a dialog
// template's OLE control items are taken out before the dialog manager sees
// the template, and the controls are made at their places during
// WM_INITDIALOG, each with its state from the dialog init data.
#include "afxdisp.h"

COccManager* afxOccManager = NULL;

void AfxEnableControlContainer()
{
    static COccManager s_occManager;
    afxOccManager = &s_occManager;
}

// Hosting needs OLE on the thread. A thread that did not initialise it gets
// it here, for the rest of its life; one that did keeps its own count.
static void AfxOleInitThread()
{
    static thread_local bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    HRESULT hr = ::OleInitialize(NULL);
    if (hr == S_FALSE)
        ::OleUninitialize();
}

// --- COleControlContainer -----------------------------------------------------
COleControlContainer::COleControlContainer(CWnd* pWnd) : m_pWnd(pWnd) {}

COleControlContainer::~COleControlContainer()
{
    // Last created, first released.
    while (!m_sites.empty())
        DestroyControl(m_sites.back());
}

COleControlSite* COleControlContainer::CreateControl(CWnd* pWndCtrl, REFCLSID clsid, DWORD dwStyle, const RECT& rect,
                                                     UINT nID, IStream* pStream, BSTR bstrLicKey)
{
    AfxOleInitThread();
    COleControlSite* pSite = new COleControlSite(this);
    HRESULT hr = pSite->CreateControl(clsid, dwStyle, rect, nID, pStream, bstrLicKey);
    if (FAILED(hr)) {
        TRACE("Error: control %u could not be created (0x%08lX).\n", nID, static_cast<unsigned long>(hr));
        pSite->ReleaseControl();
        pSite->m_pCtrlCont = NULL;
        pSite->Release();
        return NULL;
    }
    m_sites.push_back(pSite);
    if (pWndCtrl)
        pSite->AttachWindow(pWndCtrl);
    return pSite;
}

COleControlSite* COleControlContainer::FindItem(UINT nID) const
{
    for (COleControlSite* pSite : m_sites)
        if (pSite->m_nID == nID)
            return pSite;
    return NULL;
}

void COleControlContainer::DestroyControl(COleControlSite* pSite)
{
    for (auto it = m_sites.begin(); it != m_sites.end(); ++it) {
        if (*it == pSite) {
            m_sites.erase(it);
            pSite->ReleaseControl();
            pSite->m_pCtrlCont = NULL;   // no more events to route
            pSite->Release();
            return;
        }
    }
}

// --- CWnd::CreateControl ------------------------------------------------------
BOOL CWnd::CreateControl(REFCLSID clsid, LPCTSTR /*lpszWindowName*/, DWORD dwStyle, const RECT& rect,
                         CWnd* pParentWnd, UINT nID, CFile* pPersist, BOOL /*bStorage*/, BSTR bstrLicKey)
{
    if (m_hWnd || m_pCtrlSite || !pParentWnd || !pParentWnd->m_hWnd)
        return FALSE;
    // The container lives on the parent object and goes at its window's
    // WM_DESTROY: a temporary object (deleted when the dispatch ends) or one
    // whose messages the framework doesn't see would leave the controls behind.
    if (CWnd::FromHandlePermanent(pParentWnd->m_hWnd) != pParentWnd || !pParentWnd->m_pfnSuper) {
        TRACE("Error: a control's parent must be a window the framework subclassed.\n");
        return FALSE;
    }
    if (pPersist) {
        TRACE("Error: loading a control's state from a file is not supported.\n");
        return FALSE;
    }
    if (!pParentWnd->m_pCtrlCont)
        pParentWnd->m_pCtrlCont = new COleControlContainer(pParentWnd);
    return pParentWnd->m_pCtrlCont->CreateControl(this, clsid, dwStyle, rect, nID, NULL, bstrLicKey) != NULL;
}

// --- Dialog templates ---------------------------------------------------------
namespace {

// A name or ordinal field: 0 (none), 0xFFFF and an ordinal, or a string.
const WORD* SkipSzOrOrd(const WORD* p)
{
    if (*p == 0)
        return p + 1;
    if (*p == 0xFFFF)
        return p + 2;
    while (*p++)
        ;
    return p;
}

const BYTE* AlignDword(const BYTE* p, const BYTE* pBase)
{
    return pBase + ((p - pBase + 3) & ~size_t(3));
}

// The parts of one dialog item that the container needs.
struct CDlgItem
{
    const BYTE* pStart;
    const BYTE* pEnd;       // past its creation data, before alignment
    DWORD dwStyle;
    short x, y, cx, cy;
    UINT nID;
    const WORD* pClass;
};

// Reads the item at p (DWORD-aligned), plain or extended.
CDlgItem ReadItem(const BYTE* p, bool bEx)
{
    CDlgItem item;
    item.pStart = p;
    const short* pCoords;
    if (bEx) {
        item.dwStyle = *reinterpret_cast<const DWORD*>(p + 8);
        pCoords = reinterpret_cast<const short*>(p + 12);
        item.nID = *reinterpret_cast<const DWORD*>(p + 20);
        item.pClass = reinterpret_cast<const WORD*>(p + 24);
    } else {
        item.dwStyle = *reinterpret_cast<const DWORD*>(p);
        pCoords = reinterpret_cast<const short*>(p + 8);
        item.nID = *reinterpret_cast<const WORD*>(p + 16);
        item.pClass = reinterpret_cast<const WORD*>(p + 18);
    }
    item.x = pCoords[0];
    item.y = pCoords[1];
    item.cx = pCoords[2];
    item.cy = pCoords[3];
    const WORD* pw = SkipSzOrOrd(SkipSzOrOrd(item.pClass));   // class, then title
    const WORD cbExtra = *pw++;
    item.pEnd = reinterpret_cast<const BYTE*>(pw) + ((cbExtra + 1) & ~1);
    return item;
}

// An item whose class is a braced class identifier names an OLE control.
bool IsOleControlClass(const WORD* pClass, CLSID* pClsid)
{
    if (*pClass != L'{')
        return false;
    return SUCCEEDED(::CLSIDFromString(reinterpret_cast<LPCOLESTR>(pClass), pClsid));
}

} // namespace

LPCDLGTEMPLATE COccManager::PreCreateDialog(_AFX_OCC_DIALOG_INFO* pInfo, LPCDLGTEMPLATE pTemplate)
{
    const BYTE* pBase = reinterpret_cast<const BYTE*>(pTemplate);
    const WORD* pw = reinterpret_cast<const WORD*>(pBase);
    const bool bEx = pw[0] == 1 && pw[1] == 0xFFFF;
    const DWORD dwStyle = *reinterpret_cast<const DWORD*>(pBase + (bEx ? 12 : 0));
    const size_t nCountOffset = bEx ? 16 : 8;
    const WORD nItems = *reinterpret_cast<const WORD*>(pBase + nCountOffset);

    // Header: fixed part, menu, class, caption, then the font when DS_SETFONT.
    pw = reinterpret_cast<const WORD*>(pBase + (bEx ? 26 : 18));
    pw = SkipSzOrOrd(SkipSzOrOrd(SkipSzOrOrd(pw)));
    if (dwStyle & DS_SETFONT) {
        pw += bEx ? 3 : 1;   // point size (, weight, italic and charset)
        while (*pw++)
            ;
    }
    const BYTE* pItems = AlignDword(reinterpret_cast<const BYTE*>(pw), pBase);

    std::vector<CDlgItem> items;
    std::vector<CLSID> clsids(nItems);
    std::vector<bool> isOle(nItems, false);
    const BYTE* p = pItems;
    for (UINT i = 0; i < nItems; ++i) {
        items.push_back(ReadItem(p, bEx));
        isOle[i] = IsOleControlClass(items.back().pClass, &clsids[i]);
        p = AlignDword(items.back().pEnd, pBase);
    }

    UINT nPlain = 0;
    for (UINT i = 0; i < nItems; ++i) {
        if (!isOle[i]) {
            ++nPlain;
            continue;
        }
        const CDlgItem& item = items[i];
        _AFX_OCC_DIALOG_INFO::ItemInfo info;
        info.m_clsid = clsids[i];
        info.m_nID = item.nID;
        info.m_dwStyle = item.dwStyle;
        info.m_rcDialogUnits = { item.x, item.y, item.x + item.cx, item.y + item.cy };
        info.m_nIndex = i;
        info.m_nPlainBefore = nPlain;
        pInfo->m_items.push_back(info);
    }
    if (pInfo->m_items.empty())
        return pTemplate;

    // The copy: the header as it is, then the other items, each DWORD-aligned.
    std::vector<BYTE> copy(pBase, pItems);
    for (UINT i = 0; i < nItems; ++i) {
        if (isOle[i])
            continue;
        copy.resize((copy.size() + 3) & ~size_t(3));
        copy.insert(copy.end(), items[i].pStart, items[i].pEnd);
    }
    *reinterpret_cast<WORD*>(&copy[nCountOffset]) = WORD(nPlain);
    pInfo->m_newTemplate.assign((copy.size() + 3) / 4, 0);
    memcpy(pInfo->m_newTemplate.data(), copy.data(), copy.size());
    return reinterpret_cast<LPCDLGTEMPLATE>(pInfo->m_newTemplate.data());
}

// The record of the dialog init data that holds control nID's state, if any.
static const BYTE* FindPersistedState(LPCVOID lpDlgInit, DWORD dwSize, UINT nID, DWORD* pcb)
{
    const BYTE* p = static_cast<const BYTE*>(lpDlgInit);
    const BYTE* pEnd = p + (lpDlgInit ? dwSize : 0);
    while (p + 8 <= pEnd) {
        const WORD nIDC = *reinterpret_cast<const WORD*>(p);
        const WORD nMsg = *reinterpret_cast<const WORD*>(p + 2);
        const DWORD cb = *reinterpret_cast<const DWORD*>(p + 4);
        if (nIDC == 0 || cb > DWORD(pEnd - (p + 8)))
            break;
        if (nIDC == nID && nMsg == WM_OCC_LOADFROMSTREAM) {
            *pcb = cb;
            return p + 8;
        }
        p += 8 + cb;
    }
    return NULL;
}

// A stream over a copy of the persisted bytes.
static IStream* MakeStateStream(const BYTE* pData, DWORD cb)
{
    HGLOBAL hGlobal = ::GlobalAlloc(GMEM_MOVEABLE, cb ? cb : 1);
    if (!hGlobal)
        return NULL;
    if (void* pDest = ::GlobalLock(hGlobal)) {
        memcpy(pDest, pData, cb);
        ::GlobalUnlock(hGlobal);
    }
    IStream* pStream = NULL;
    if (FAILED(::CreateStreamOnHGlobal(hGlobal, TRUE, &pStream))) {
        ::GlobalFree(hGlobal);
        return NULL;
    }
    ULARGE_INTEGER size;
    size.QuadPart = cb;
    pStream->SetSize(size);
    return pStream;
}

BOOL COccManager::CreateDlgControls(CWnd* pWndDlg, LPCVOID lpDlgInit, DWORD dwDlgInitSize,
                                    _AFX_OCC_DIALOG_INFO* pInfo)
{
    if (pInfo->m_items.empty())
        return TRUE;
    // The dialog's ordinary controls, in template order, to place each OLE
    // control after the item before it.
    std::vector<HWND> plain;
    for (HWND hChild = ::GetWindow(pWndDlg->m_hWnd, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT))
        plain.push_back(hChild);

    if (!pWndDlg->m_pCtrlCont)
        pWndDlg->m_pCtrlCont = new COleControlContainer(pWndDlg);
    HWND hWndPrevOle = NULL;
    UINT nPrevOleIndex = UINT(-1);
    for (const _AFX_OCC_DIALOG_INFO::ItemInfo& item : pInfo->m_items) {
        RECT rc = item.m_rcDialogUnits;
        ::MapDialogRect(pWndDlg->m_hWnd, &rc);

        IStream* pStream = NULL;
        DWORD cb = 0;
        if (const BYTE* pData = FindPersistedState(lpDlgInit, dwDlgInitSize, item.m_nID, &cb)) {
            pStream = MakeStateStream(pData, cb);
            if (!pStream)
                return FALSE;
        }
        COleControlSite* pSite =
            pWndDlg->m_pCtrlCont->CreateControl(NULL, item.m_clsid, item.m_dwStyle, rc, item.m_nID, pStream, NULL);
        if (pStream)
            pStream->Release();
        if (!pSite)
            return FALSE;
        if (!pSite->m_hWnd)
            continue;   // invisible at run time: no window to place

        HWND hWndAfter = HWND_TOP;
        if (item.m_nIndex > 0)
            hWndAfter = nPrevOleIndex == item.m_nIndex - 1 ? hWndPrevOle
                        : item.m_nPlainBefore > 0 && item.m_nPlainBefore <= plain.size()
                            ? plain[item.m_nPlainBefore - 1]
                            : HWND_TOP;
        ::SetWindowPos(pSite->m_hWnd, hWndAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        hWndPrevOle = pSite->m_hWnd;
        nPrevOleIndex = item.m_nIndex;
    }
    return TRUE;
}
