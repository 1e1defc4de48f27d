// Core of the framework layer: objects with run-time class information,
// exceptions, the diagnostic trace and the string classes.
#pragma once

#include <windows.h>
#include "afxstr.h"

#ifndef _T
#define _T(x) L##x
#endif
#ifndef ASSERT
#define ASSERT(f) ((void)0)
#endif
#define afx_msg

class CObject;

// Run-time class information; classes that support dynamic creation can be
// made from their name.
struct CRuntimeClass
{
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;
    CObject* (*m_pfnCreateObject)();
    CRuntimeClass* (*m_pfnGetBaseClass)();
    CRuntimeClass* m_pNextClass;   // chain of classes registered for creation by name

    CObject* CreateObject();
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
    static CRuntimeClass* FromName(LPCSTR lpszClassName);
};

// Adds a dynamically creatable class to the chain searched by FromName.
struct AFX_CLASSINIT { explicit AFX_CLASSINIT(CRuntimeClass* pNewClass); };

#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())

#define DECLARE_DYNAMIC(class_name) \
public: \
    static CRuntimeClass* GetThisClass(); \
    virtual CRuntimeClass* GetRuntimeClass() const;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name) \
    static CObject* CreateObject();

#define AFX_IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, wSchema, pfnNew, init) \
    CRuntimeClass* class_name::GetThisClass() \
    { \
        static CRuntimeClass rc = { #class_name, int(sizeof(class class_name)), wSchema, pfnNew, \
                                    &base_class_name::GetThisClass, NULL }; \
        return &rc; \
    } \
    CRuntimeClass* class_name::GetRuntimeClass() const { return GetThisClass(); } \
    init

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    AFX_IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, 0xFFFF, NULL, )

#define IMPLEMENT_DYNCREATE(class_name, base_class_name) \
    CObject* class_name::CreateObject() { return new class_name; } \
    AFX_IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, 0xFFFF, &class_name::CreateObject, \
        static const AFX_CLASSINIT _init_##class_name(class_name::GetThisClass());)

// Root of the class model. Storage made by its operator new starts zero-filled,
// so members a constructor does not set are zero, false or null.
class CObject
{
public:
    static CRuntimeClass* GetThisClass();
    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() {}
    BOOL IsKindOf(const CRuntimeClass* pClass) const;

    static void* operator new(size_t nSize);
    static void operator delete(void* p);

protected:
    CObject() {}

private:
    CObject(const CObject&) = delete;
    void operator=(const CObject&) = delete;
};

// Exceptions are thrown as pointers and released with Delete().
class CException : public CObject
{
    DECLARE_DYNAMIC(CException)
public:
    explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
    virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext = NULL) const;
    // Shows the framework's standard error box with the exception's text.
    virtual int ReportError(UINT nType = MB_OK, UINT nMessageID = 0);
    void Delete();

protected:
    BOOL m_bAutoDelete;
};

// Not enough memory for an allocation the framework made.
class CMemoryException : public CException
{
    DECLARE_DYNAMIC(CMemoryException)
public:
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext = NULL) const override;
};

// An operation the framework cannot perform on this object.
class CNotSupportedException : public CException
{
    DECLARE_DYNAMIC(CNotSupportedException)
public:
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext = NULL) const override;
};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowNotSupportedException();

// Copies a message into a caller's buffer of nMax characters (terminator included).
BOOL AfxCopyErrorMessage(LPCTSTR lpszText, LPTSTR lpszError, UINT nMaxError);

// The standard error box: owned by the thread's active window, captioned with
// the application's name.
int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
LPCTSTR AfxGetAppName();

// Diagnostic trace. Texts are narrow; a wide format is formatted wide and
// narrowed to the ANSI code page. Everything goes through one sink, the
// debugger channel by default, which tests may replace. With the default
// sink and no debugger attached nothing is formatted at all.
typedef void (CALLBACK* AFX_TRACE_SINK)(LPCSTR lpszText);
AFX_TRACE_SINK AfxSetTraceSink(AFX_TRACE_SINK pfnSink);
void __cdecl AfxTrace(LPCSTR lpszFormat, ...);
void __cdecl AfxTrace(LPCWSTR lpszFormat, ...);
#define TRACE ::AfxTrace

#include "afxfile.h"
