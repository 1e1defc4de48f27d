// Helpers for the stand-in control's tests.
#include "ctltestsupport.h"

#include "viewerctlids.h"

#include <shellapi.h>

std::wstring CtlDllPath()
{
    wchar_t szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strPath(szPath, cch);
    return strPath.substr(0, strPath.find_last_of(L"\\/") + 1) + L"dorsaviewerctl.dll";
}

HMODULE CtlModule()
{
    static HMODULE s_hModule = LoadLibraryW(CtlDllPath().c_str());
    return s_hModule;
}

HRESULT CtlCreate(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    HMODULE hModule = CtlModule();
    if (hModule == nullptr)
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    auto pfnGetClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "DllGetClassObject")));
    if (pfnGetClassObject == nullptr)
        return E_NOINTERFACE;
    IClassFactory* pFactory = nullptr;
    HRESULT hr = pfnGetClassObject(CLSID_DorsaAPICOMViewer, IID_IClassFactory,
                                   reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr))
        return hr;
    hr = pFactory->CreateInstance(nullptr, riid, ppv);
    pFactory->Release();
    return hr;
}

CScopedSwitch::CScopedSwitch(const wchar_t* pszName, const wchar_t* pszValue)
    : m_strName(pszName), m_bHadOld(false)
{
    DWORD cch = GetEnvironmentVariableW(pszName, nullptr, 0);
    if (cch > 0) {
        m_strOld.resize(cch);
        cch = GetEnvironmentVariableW(pszName, &m_strOld[0], cch);
        m_strOld.resize(cch);
        m_bHadOld = true;
    }
    SetEnvironmentVariableW(pszName, pszValue);
}

CScopedSwitch::~CScopedSwitch()
{
    SetEnvironmentVariableW(m_strName.c_str(), m_bHadOld ? m_strOld.c_str() : nullptr);
}

CTempFolder::CTempFolder()
{
    wchar_t szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t szGuid[40];
    StringFromGUID2(guid, szGuid, 40);
    m_strPath = std::wstring(szTemp) + L"dvvctl-" + std::wstring(szGuid + 1, 36);
    CreateDirectoryW(m_strPath.c_str(), nullptr);
}

CTempFolder::~CTempFolder()
{
    // SHFileOperation wants a double-terminated list.
    std::wstring strFrom = m_strPath + L'\0';
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = strFrom.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

std::vector<std::string> ReadLines(const std::wstring& strPath)
{
    std::vector<std::string> lines;
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return lines;
    std::string strData;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buffer, sizeof buffer, &cbRead, nullptr) && cbRead > 0)
        strData.append(buffer, cbRead);
    CloseHandle(hFile);
    size_t nStart = 0;
    while (nStart < strData.size()) {
        size_t nEnd = strData.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strData.size();
        std::string strLine = strData.substr(nStart, nEnd - nStart);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        lines.push_back(strLine);
        nStart = nEnd + 1;
    }
    return lines;
}

CCallResult CallMethod(IDispatch* pDisp, DISPID dispid, const std::vector<CArg>& args)
{
    std::vector<VARIANTARG> vars(args.size());
    for (size_t n = 0; n < args.size(); ++n) {
        VARIANTARG& var = vars[args.size() - 1 - n];
        VariantInit(&var);
        const CArg& arg = args[n];
        V_VT(&var) = arg.m_vt;
        switch (arg.m_vt) {
        case VT_BSTR:
            V_BSTR(&var) = arg.m_bNull ? nullptr : SysAllocString(arg.m_strText.c_str());
            break;
        case VT_R4:
            V_R4(&var) = static_cast<float>(arg.m_dValue);
            break;
        case VT_R8:
            V_R8(&var) = arg.m_dValue;
            break;
        case VT_I4:
            V_I4(&var) = static_cast<LONG>(arg.m_dValue);
            break;
        default:
            break;
        }
    }
    DISPPARAMS dispParams = { vars.empty() ? nullptr : vars.data(), nullptr,
                              static_cast<UINT>(vars.size()), 0 };
    VARIANT varResult;
    VariantInit(&varResult);
    EXCEPINFO excepInfo = {};
    CCallResult result;
    result.m_hr = pDisp->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dispParams,
                                &varResult, &excepInfo, &result.m_uArgErr);
    result.m_vt = V_VT(&varResult);
    if (V_VT(&varResult) == VT_I2)
        result.m_nValue = V_I2(&varResult);
    if (V_VT(&varResult) == VT_BSTR) {
        result.m_bNullText = V_BSTR(&varResult) == nullptr;
        if (V_BSTR(&varResult))
            result.m_strValue.assign(V_BSTR(&varResult), SysStringLen(V_BSTR(&varResult)));
    }
    if (result.m_hr == DISP_E_EXCEPTION) {
        if (excepInfo.pfnDeferredFillIn)
            excepInfo.pfnDeferredFillIn(&excepInfo);
        result.m_scode = excepInfo.scode;
        result.m_wCode = excepInfo.wCode;
        if (excepInfo.bstrSource)
            result.m_strSource = excepInfo.bstrSource;
        if (excepInfo.bstrDescription)
            result.m_strDescription = excepInfo.bstrDescription;
    }
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
    SysFreeString(excepInfo.bstrHelpFile);
    VariantClear(&varResult);
    for (VARIANTARG& var : vars)
        VariantClear(&var);
    return result;
}

CCallResult StartStream(IDispatch* pDisp, const wchar_t* pszIP, const wchar_t* pszPort,
                        const wchar_t* pszChannel)
{
    return CallMethod(pDisp, DISPID_DORSA_STARTSTREAM,
                      { CArg::Text(L"NOW"), CArg::Text(L"INFINITE"),
                        pszIP ? CArg::Text(pszIP) : CArg::NullText(),
                        pszPort ? CArg::Text(pszPort) : CArg::NullText(),
                        pszChannel ? CArg::Text(pszChannel) : CArg::NullText(), CArg::NullText(),
                        CArg::NullText(), CArg::NullText() });
}

CCallResult StopStream(IDispatch* pDisp, const std::wstring& strSession)
{
    return CallMethod(pDisp, DISPID_DORSA_STOPSTREAM, { CArg::Text(strSession.c_str()) });
}

CCallResult PlayForward(IDispatch* pDisp, const std::wstring& strSession, float fSpeed)
{
    return CallMethod(pDisp, DISPID_DORSA_PLAYFORWARD,
                      { CArg::Text(strSession.c_str()), CArg::Float(fSpeed) });
}

bool PumpUntil(const std::function<bool()>& bDone, DWORD nTimeoutMs)
{
    const ULONGLONG nDeadline = GetTickCount64() + nTimeoutMs;
    while (!bDone()) {
        const ULONGLONG nNow = GetTickCount64();
        if (nNow >= nDeadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(nDeadline - nNow),
                                  QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

void PumpFor(DWORD nMs)
{
    PumpUntil([] { return false; }, nMs);
}

STDMETHODIMP CRecordingSink::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch ||
        (m_bAnswerEventIID && riid == DIID__DDorsaAPICOMViewerEvents))
        *ppv = static_cast<IDispatch*>(this);
    if (*ppv == nullptr)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CRecordingSink::Release()
{
    // Test sinks live on the stack; the count only shows what the control holds.
    return InterlockedDecrement(&m_cRef);
}

STDMETHODIMP CRecordingSink::GetTypeInfoCount(UINT* pctinfo)
{
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP CRecordingSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    *ppTInfo = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CRecordingSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CRecordingSink::Invoke(DISPID dispid, REFIID, LCID, WORD wFlags,
                                    DISPPARAMS* pDispParams, VARIANT*, EXCEPINFO*, UINT*)
{
    CEvent event = { dispid, wFlags, pDispParams->cArgs, VT_EMPTY, VT_EMPTY, L"", L"" };
    if (pDispParams->cArgs == 2) {
        // Last-first: rgvarg[1] is the session, rgvarg[0] the time stamp.
        const VARIANTARG& varSession = pDispParams->rgvarg[1];
        const VARIANTARG& varTime = pDispParams->rgvarg[0];
        event.m_vtFirst = V_VT(&varSession);
        event.m_vtSecond = V_VT(&varTime);
        if (V_VT(&varSession) == VT_BSTR && V_BSTR(&varSession))
            event.m_strSession = V_BSTR(&varSession);
        if (V_VT(&varTime) == VT_BSTR && V_BSTR(&varTime))
            event.m_strTimeStamp = V_BSTR(&varTime);
    }
    m_events.push_back(event);
    if (m_onEvent)
        m_onEvent();
    return S_OK;
}
