// Dialog templates and their init data as the control container reads
// them: the OLE control items taken out of a template before the dialog
// manager sees it, and the records that hold the controls' saved state.
#include "occimpl.h"

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

// --- Dialog init data ---------------------------------------------------------
CDlgInitReader::CDlgInitReader(LPCVOID lpData, DWORD dwSize)
    : m_bTruncated(FALSE), m_p(static_cast<const BYTE*>(lpData)), m_pEnd(m_p + (lpData ? dwSize : 0))
{
}

BOOL CDlgInitReader::Next(AFX_DLGINIT_RECORD* pRecord)
{
    // Control id (16 bits), message (16 bits), data length (32 bits), data;
    // the list ends with a zero id.
    if (m_pEnd - m_p < 8)
        return FALSE;
    pRecord->m_nIDC = *reinterpret_cast<const WORD*>(m_p);
    pRecord->m_nMsg = *reinterpret_cast<const WORD*>(m_p + 2);
    pRecord->m_cbData = *reinterpret_cast<const DWORD*>(m_p + 4);
    pRecord->m_pData = m_p + 8;
    if (pRecord->m_nIDC == 0)
        return FALSE;
    // Compared with the bytes left, never added to the pointer (which wraps
    // in a 32-bit process).
    if (pRecord->m_cbData > DWORD(m_pEnd - pRecord->m_pData)) {
        m_bTruncated = TRUE;
        return FALSE;
    }
    m_p = pRecord->m_pData + pRecord->m_cbData;
    return TRUE;
}

BOOL AfxGetControlState(LPCVOID lpDlgInit, DWORD dwSize, UINT nID, AFX_OCC_CONTROL_STATE* pState)
{
    *pState = AFX_OCC_CONTROL_STATE();
    CDlgInitReader reader(lpDlgInit, dwSize);
    AFX_DLGINIT_RECORD record = {};
    while (reader.Next(&record)) {
        if (record.m_nIDC != nID || !AfxIsOccInitMessage(record.m_nMsg))
            continue;
        if (record.m_nMsg == WM_OCC_INITNEW)
            return TRUE;
        const BYTE* pData = record.m_pData;
        DWORD cbData = record.m_cbData;
        const bool bLicensed = record.m_nMsg == WM_OCC_LOADFROMSTREAM_EX || record.m_nMsg == WM_OCC_LOADFROMSTORAGE_EX;
        if (bLicensed) {
            // The key's length in characters, then the key, then the state.
            if (cbData < sizeof(DWORD))
                return FALSE;
            const DWORD cchKey = *reinterpret_cast<const DWORD*>(pData);
            pData += sizeof(DWORD);
            cbData -= sizeof(DWORD);
            if (cchKey > cbData / sizeof(WCHAR))
                return FALSE;
            pState->m_strLicKey = CString(reinterpret_cast<const WCHAR*>(pData), int(cchKey));
            pData += cchKey * sizeof(WCHAR);
            cbData -= cchKey * sizeof(WCHAR);
        }
        const bool bStorage = record.m_nMsg == WM_OCC_LOADFROMSTORAGE || record.m_nMsg == WM_OCC_LOADFROMSTORAGE_EX;
        pState->m_nMsg = bStorage ? WM_OCC_LOADFROMSTORAGE : WM_OCC_LOADFROMSTREAM;
        pState->m_pData = pData;
        pState->m_cbData = cbData;
        return TRUE;
    }
    // A damaged record is the last: the control's state, or no record of it.
    return !(reader.m_bTruncated && record.m_nIDC == nID && AfxIsOccInitMessage(record.m_nMsg));
}
