// What the control container's files share and the program does not see:
// the units of a control's extent, interface helpers, and the reading of
// dialog init data (occdlg.cpp, with the dialog template's OLE control
// items), kept apart from hosting.
#pragma once

#include "afxdisp.h"

// What a method the container does not implement answers; the trace line
// shows a control asking for it.
#define AFX_OCC_NOTIMPL(name) (TRACE("Warning: the control container does not implement %s.\n", name), E_NOTIMPL)

const int kHimetricPerInch = 2540;   // HIMETRIC units are 0.01 mm

// The screen's pixels per logical inch, as the container's window sees them.
SIZE AfxPixelsPerInch(HWND hWnd);

// Calls fn with the object's interface riid; FALSE when it has none.
template <class T, class F> bool AfxWithInterface(IUnknown* pObject, REFIID riid, F fn)
{
    CComRef<T> p;
    if (FAILED(p.QueryFrom(pObject, riid)))
        return false;
    fn(p);
    return true;
}

// One record of a dialog's init data (resource type 240): control id,
// message, and the message's data.
struct AFX_DLGINIT_RECORD
{
    WORD m_nIDC;
    WORD m_nMsg;
    const BYTE* m_pData;
    DWORD m_cbData;
};

// Reads init data records in order, never past the data's end.
class CDlgInitReader
{
public:
    CDlgInitReader(LPCVOID lpData, DWORD dwSize);
    // The next record; FALSE at the end: a zero id, no room for another
    // record, or a record whose data runs past the end (m_bTruncated, with
    // *pRecord its id and message).
    BOOL Next(AFX_DLGINIT_RECORD* pRecord);
    BOOL m_bTruncated;

private:
    const BYTE* m_p;
    const BYTE* m_pEnd;
};

// What a dialog's init data holds for one OLE control.
struct AFX_OCC_CONTROL_STATE
{
    // WM_OCC_LOADFROMSTREAM or WM_OCC_LOADFROMSTORAGE with the saved bytes
    // (the licence key taken off), or 0: the control starts anew.
    WORD m_nMsg = 0;
    const BYTE* m_pData = NULL;
    DWORD m_cbData = 0;
    CString m_strLicKey;   // for a licensed control; empty otherwise
};

// Finds control nID's state in the init data. FALSE when its record can't be
// read: its data or its licence key runs past the end.
BOOL AfxGetControlState(LPCVOID lpDlgInit, DWORD dwSize, UINT nID, AFX_OCC_CONTROL_STATE* pState);
