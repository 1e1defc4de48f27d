// Run-time classes, exceptions, the error box and the diagnostic trace.
#include "afx.h"

#include <atomic>
#include <new>
#include <stdlib.h>
#include <string.h>

CRuntimeClass* CObject::GetThisClass()
{
    static CRuntimeClass rc = { "CObject", int(sizeof(CObject)), 0xFFFF, NULL, NULL, NULL };
    return &rc;
}

CRuntimeClass* CObject::GetRuntimeClass() const { return GetThisClass(); }

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const
{
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

void* CObject::operator new(size_t nSize)
{
    void* p = calloc(1, nSize ? nSize : 1);
    if (!p)
        AfxThrowMemoryException();
    return p;
}

void CObject::operator delete(void* p) { free(p); }

static CRuntimeClass* s_pFirstClass = NULL;

AFX_CLASSINIT::AFX_CLASSINIT(CRuntimeClass* pNewClass)
{
    pNewClass->m_pNextClass = s_pFirstClass;
    s_pFirstClass = pNewClass;
}

CObject* CRuntimeClass::CreateObject()
{
    if (!m_pfnCreateObject)
        return NULL;
    try {
        return m_pfnCreateObject();
    } catch (CException* e) {
        e->Delete();
        return NULL;
    }
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const
{
    for (const CRuntimeClass* p = this; p; p = p->m_pfnGetBaseClass ? p->m_pfnGetBaseClass() : NULL)
        if (p == pBaseClass)
            return TRUE;
    return FALSE;
}

CRuntimeClass* CRuntimeClass::FromName(LPCSTR lpszClassName)
{
    for (CRuntimeClass* p = s_pFirstClass; p; p = p->m_pNextClass)
        if (strcmp(p->m_lpszClassName, lpszClassName) == 0)
            return p;
    return NULL;
}

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CMemoryException, CException)
IMPLEMENT_DYNAMIC(CNotSupportedException, CException)

BOOL AfxCopyErrorMessage(LPCTSTR lpszText, LPTSTR lpszError, UINT nMaxError)
{
    if (!lpszError || nMaxError == 0)
        return FALSE;
    lstrcpynW(lpszError, lpszText, int(nMaxError));
    return TRUE;
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (lpszError && nMaxError)
        *lpszError = 0;
    return FALSE;
}

int CException::ReportError(UINT nType, UINT nMessageID)
{
    TCHAR szMessage[512];
    CString strText;
    if (GetErrorMessage(szMessage, _countof(szMessage)))
        strText = szMessage;
    else if (nMessageID == 0 || !strText.LoadString(nMessageID))
        strText = L"No error message is available.";
    return AfxMessageBox(strText, nType);
}

void CException::Delete()
{
    if (m_bAutoDelete)
        delete this;
}

BOOL CMemoryException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    return AfxCopyErrorMessage(L"Out of memory.", lpszError, nMaxError);
}

BOOL CNotSupportedException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    return AfxCopyErrorMessage(L"An unsupported operation was attempted.", lpszError, nMaxError);
}

void AfxThrowMemoryException()
{
    // Made without CObject::operator new, which would need memory to report
    // the lack of it; never deleted.
    static CMemoryException* s_pException = [] {
        static char storage[sizeof(CMemoryException)];
        return ::new (storage) CMemoryException;
    }();
    throw s_pException;
}

void AfxThrowNotSupportedException() { throw new CNotSupportedException; }

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleW(NULL); }
HINSTANCE AfxGetResourceHandle() { return ::GetModuleHandleW(NULL); }

int AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT /*nIDHelp*/)
{
    HWND hWndOwner = ::GetActiveWindow();
    if (hWndOwner)
        hWndOwner = ::GetAncestor(hWndOwner, GA_ROOT);
    return ::MessageBoxW(hWndOwner, lpszText, AfxGetAppName(), nType);
}

static void CALLBACK AfxDebuggerSink(LPCSTR lpszText) { ::OutputDebugStringA(lpszText); }

static std::atomic<AFX_TRACE_SINK> s_pfnTraceSink(&AfxDebuggerSink);

AFX_TRACE_SINK AfxSetTraceSink(AFX_TRACE_SINK pfnSink)
{
    return s_pfnTraceSink.exchange(pfnSink ? pfnSink : &AfxDebuggerSink);
}

// Formatting and emitting a text costs tens of microseconds: done only when
// someone listens, an attached debugger or a sink a test installed.
static bool AfxTraceHasListener()
{
    return s_pfnTraceSink.load() != &AfxDebuggerSink || ::IsDebuggerPresent();
}

template <typename XCHAR>
static void TraceV(const XCHAR* lpszFormat, va_list args)
{
    if (!AfxTraceHasListener())
        return;
    CStringT<XCHAR> str;
    str.FormatV(lpszFormat, args);
    s_pfnTraceSink.load()(CStringA(str));
}

void __cdecl AfxTrace(LPCSTR lpszFormat, ...)
{
    va_list args;
    va_start(args, lpszFormat);
    TraceV(lpszFormat, args);
    va_end(args);
}

void __cdecl AfxTrace(LPCWSTR lpszFormat, ...)
{
    va_list args;
    va_start(args, lpszFormat);
    TraceV(lpszFormat, args);
    va_end(args);
}
