// OLE dispatch: the framework's OLE exceptions, calls into hosted controls
// through InvokeHelper, and the conversion of event arguments for event sink
// map handlers.
#include "afxdisp.h"

#include <string.h>

IMPLEMENT_DYNAMIC(COleException, CException)
IMPLEMENT_DYNAMIC(COleDispatchException, CException)

// The system's text for a status code, or the code itself.
static CString ScodeText(SCODE sc)
{
    LPWSTR pszText = NULL;
    DWORD cch = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 NULL, DWORD(sc), 0, reinterpret_cast<LPWSTR>(&pszText), 0, NULL);
    CString strText;
    if (cch && pszText) {
        while (cch && (pszText[cch - 1] == L'\r' || pszText[cch - 1] == L'\n' || pszText[cch - 1] == L' '))
            --cch;
        strText = CString(pszText, int(cch));
    }
    if (pszText)
        ::LocalFree(pszText);
    if (strText.IsEmpty())
        strText.Format(L"OLE error 0x%08lX.", static_cast<unsigned long>(sc));
    return strText;
}

BOOL COleException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    return AfxCopyErrorMessage(ScodeText(m_sc), lpszError, nMaxError);
}

void AfxThrowOleException(SCODE sc)
{
    COleException* e = new COleException;
    e->m_sc = sc;
    throw e;
}

COleDispatchException::COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode)
    : m_wCode(wCode), m_scError(0), m_dwHelpContext(nHelpID), m_strDescription(lpszDescription)
{
}

BOOL COleDispatchException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = m_dwHelpContext;
    if (!m_strDescription.IsEmpty())
        return AfxCopyErrorMessage(m_strDescription, lpszError, nMaxError);
    return AfxCopyErrorMessage(ScodeText(m_scError ? m_scError : DISP_E_EXCEPTION), lpszError, nMaxError);
}

void AfxThrowOleDispatchException(EXCEPINFO* pExcepInfo)
{
    if (pExcepInfo->pfnDeferredFillIn)
        pExcepInfo->pfnDeferredFillIn(pExcepInfo);
    COleDispatchException* e =
        new COleDispatchException(pExcepInfo->bstrDescription, pExcepInfo->dwHelpContext, pExcepInfo->wCode);
    e->m_scError = pExcepInfo->scode;
    e->m_strSource = pExcepInfo->bstrSource;
    e->m_strHelpFile = pExcepInfo->bstrHelpFile;
    ::SysFreeString(pExcepInfo->bstrSource);
    ::SysFreeString(pExcepInfo->bstrDescription);
    ::SysFreeString(pExcepInfo->bstrHelpFile);
    pExcepInfo->bstrSource = pExcepInfo->bstrDescription = pExcepInfo->bstrHelpFile = NULL;
    throw e;
}

// --- Calls --------------------------------------------------------------------
namespace {

// The arguments of one call, freed however the call ends.
struct CDispArgs
{
    std::vector<VARIANTARG> m_vars;
    explicit CDispArgs(UINT nArgs) : m_vars(nArgs)
    {
        for (VARIANTARG& var : m_vars)
            ::VariantInit(&var);
    }
    ~CDispArgs()
    {
        for (VARIANTARG& var : m_vars)
            ::VariantClear(&var);
    }
};

} // namespace

// The types InvokeHelper passes and returns, besides VT_EMPTY for no result.
static bool IsHelperType(VARTYPE vt)
{
    switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_BSTR: case VT_DISPATCH: case VT_BOOL: case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

void COleControlSite::InvokeHelperV(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
                                    const BYTE* pbParamInfo, va_list argList)
{
    if (vtRet != VT_EMPTY && !IsHelperType(vtRet))
        AfxThrowOleException(DISP_E_BADVARTYPE);
    if (vtRet != VT_EMPTY && !pvRet)
        AfxThrowOleException(E_POINTER);
    if (!m_pDispatch)
        AfxThrowOleException(E_NOINTERFACE);

    const UINT nArgs = pbParamInfo ? UINT(strlen(reinterpret_cast<const char*>(pbParamInfo))) : 0;
    CDispArgs args(nArgs);
    for (UINT i = 0; i < nArgs; ++i) {
        VARIANTARG& var = args.m_vars[nArgs - 1 - i];   // DISPPARAMS holds them last-first
        const VARTYPE vt = pbParamInfo[i];
        if (!IsHelperType(vt))
            AfxThrowOleException(DISP_E_BADVARTYPE);
        V_VT(&var) = vt;
        // Through "...", a short arrives as an int and a float as a double.
        switch (vt) {
        case VT_I2: V_I2(&var) = short(va_arg(argList, int)); break;
        case VT_I4: V_I4(&var) = va_arg(argList, long); break;
        case VT_R4: V_R4(&var) = float(va_arg(argList, double)); break;
        case VT_R8: V_R8(&var) = va_arg(argList, double); break;
        case VT_BOOL: V_BOOL(&var) = va_arg(argList, BOOL) ? VARIANT_TRUE : VARIANT_FALSE; break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            // Held by the argument, which lets go of it after the call.
            V_UNKNOWN(&var) = va_arg(argList, IUnknown*);
            if (V_UNKNOWN(&var))
                V_UNKNOWN(&var)->AddRef();
            break;
        case VT_BSTR: {
            LPCTSTR psz = va_arg(argList, LPCTSTR);
            if (psz) {
                V_BSTR(&var) = ::SysAllocString(psz);
                if (!V_BSTR(&var))
                    AfxThrowMemoryException();
            }
            break;
        }
        }
    }

    // A property put names its value (DISPID_PROPERTYPUT): controls that
    // dispatch through their type information refuse the call otherwise.
    DISPID dispidNamed = DISPID_PROPERTYPUT;
    DISPPARAMS dispParams = { nArgs ? args.m_vars.data() : NULL, NULL, nArgs, 0 };
    if ((wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && nArgs > 0) {
        dispParams.rgdispidNamedArgs = &dispidNamed;
        dispParams.cNamedArgs = 1;
    }
    VARIANT varResult;
    ::VariantInit(&varResult);
    EXCEPINFO excepInfo = {};
    UINT nArgErr = UINT(-1);
    HRESULT hr;
    {
        // The control may close the dialog, and so release itself and this
        // site, while it works; nothing of the site is used after the call.
        CComRef<COleControlSite> holdSite(this);
        CComRef<IDispatch> holdControl = m_pDispatch;
        hr = holdControl->Invoke(dwDispID, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &dispParams,
                                     vtRet != VT_EMPTY ? &varResult : NULL, &excepInfo, &nArgErr);
    }
    if (FAILED(hr)) {
        ::VariantClear(&varResult);
        if (hr == DISP_E_EXCEPTION)
            AfxThrowOleDispatchException(&excepInfo);
        AfxThrowOleException(hr);
    }
    if (vtRet != VT_EMPTY && V_VT(&varResult) != vtRet) {
        hr = ::VariantChangeType(&varResult, &varResult, 0, vtRet);
        if (FAILED(hr)) {
            ::VariantClear(&varResult);
            AfxThrowOleException(hr);
        }
    }
    switch (vtRet) {
    case VT_I2: *static_cast<short*>(pvRet) = V_I2(&varResult); break;
    case VT_I4: *static_cast<long*>(pvRet) = V_I4(&varResult); break;
    case VT_R4: *static_cast<float*>(pvRet) = V_R4(&varResult); break;
    case VT_R8: *static_cast<double*>(pvRet) = V_R8(&varResult); break;
    case VT_BOOL: *static_cast<BOOL*>(pvRet) = V_BOOL(&varResult) != VARIANT_FALSE; break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        // The caller's reference now.
        *static_cast<IUnknown**>(pvRet) = V_UNKNOWN(&varResult);
        V_VT(&varResult) = VT_EMPTY;
        break;
    case VT_BSTR: {
        // The text goes into the caller's CString; the BSTR is freed below.
        CString& strResult = *static_cast<CString*>(pvRet);
        if (V_BSTR(&varResult))
            strResult = CString(V_BSTR(&varResult), int(::SysStringLen(V_BSTR(&varResult))));
        else
            strResult.Empty();
        break;
    }
    default:
        break;
    }
    ::VariantClear(&varResult);
}

void __cdecl CWnd::InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet, const BYTE* pbParamInfo,
                                ...)
{
    if (!m_pCtrlSite)
        AfxThrowNotSupportedException();
    va_list argList;
    va_start(argList, pbParamInfo);
    try {
        m_pCtrlSite->InvokeHelperV(dwDispID, wFlags, vtRet, pvRet, pbParamInfo, argList);
    } catch (...) {
        va_end(argList);
        throw;
    }
    va_end(argList);
}

void __cdecl CWnd::SetProperty(DISPID dwDispID, VARTYPE vtProp, ...)
{
    if (!m_pCtrlSite)
        AfxThrowNotSupportedException();
    const BYTE params[] = { BYTE(vtProp), 0 };
    // An object is put by reference.
    const WORD wFlags = vtProp == VT_DISPATCH || vtProp == VT_UNKNOWN ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
    va_list argList;
    va_start(argList, vtProp);
    try {
        m_pCtrlSite->InvokeHelperV(dwDispID, wFlags, VT_EMPTY, NULL, params, argList);
    } catch (...) {
        va_end(argList);
        throw;
    }
    va_end(argList);
}

void CWnd::GetProperty(DISPID dwDispID, VARTYPE vtProp, void* pvProp) const
{
    const_cast<CWnd*>(this)->InvokeHelper(dwDispID, DISPATCH_PROPERTYGET, vtProp, pvProp, NULL);
}

LPUNKNOWN CWnd::GetControlUnknown()
{
    return m_pCtrlSite ? m_pCtrlSite->m_pObject : NULL;
}

// --- Event arguments ----------------------------------------------------------
CEventArgs::CEventArgs(const BYTE* pbParams, const VARTYPE* pvtHandler, UINT nParams, DISPPARAMS* pDispParams,
                       LCID lcid)
    : m_hr(S_OK), m_pArgs(nParams <= _countof(m_args) ? m_args : new VARIANT[nParams]), m_nArgs(nParams)
{
    for (UINT i = 0; i < m_nArgs; ++i)
        ::VariantInit(&m_pArgs[i]);
    const UINT nDeclared = pbParams ? UINT(strlen(reinterpret_cast<const char*>(pbParams))) : 0;
    if (nDeclared != nParams) {
        TRACE("Error: an event handler's parameters do not match its VTS_ list.\n");
        m_hr = DISP_E_BADPARAMCOUNT;
        return;
    }
    if (!pDispParams || pDispParams->cArgs != nParams || pDispParams->cNamedArgs > nParams ||
        (pDispParams->cNamedArgs && !pDispParams->rgdispidNamedArgs)) {
        m_hr = DISP_E_BADPARAMCOUNT;
        return;
    }
    // Where each parameter's argument is: positional ones last-first after the
    // named ones, which name their parameter's position.
    const UINT nNamed = pDispParams->cNamedArgs;
    std::vector<const VARIANTARG*> source(nParams, NULL);
    for (UINT k = 0; k < nNamed; ++k) {
        const DISPID nPos = pDispParams->rgdispidNamedArgs[k];
        if (nPos < 0 || UINT(nPos) >= nParams || source[nPos]) {
            m_hr = DISP_E_PARAMNOTFOUND;
            return;
        }
        source[nPos] = &pDispParams->rgvarg[k];
    }
    for (UINT i = 0, nPositional = 0; i < nParams; ++i)
        if (!source[i])
            source[i] = &pDispParams->rgvarg[nParams - 1 - nPositional++];
    // A control that names no locale means none: its texts convert the same everywhere.
    const LCID lcidConvert = lcid ? lcid : LOCALE_INVARIANT;
    for (UINT i = 0; i < nParams; ++i) {
        if (pbParams[i] != pvtHandler[i]) {
            TRACE("Error: an event handler's parameter %u is not of its VTS_ type.\n", i + 1);
            m_hr = DISP_E_TYPEMISMATCH;
            return;
        }
        m_hr = ::VariantChangeTypeEx(&m_pArgs[i], const_cast<VARIANTARG*>(source[i]), lcidConvert, 0, pbParams[i]);
        if (FAILED(m_hr))
            return;
    }
}

CEventArgs::~CEventArgs()
{
    for (UINT i = 0; i < m_nArgs; ++i)
        ::VariantClear(&m_pArgs[i]);
    if (m_pArgs != m_args)
        delete[] m_pArgs;
}
