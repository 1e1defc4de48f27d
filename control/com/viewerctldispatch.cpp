// The stand-in viewer control's dispatch methods: the calls are checked and
// journalled, then SetPluginPath, StartStream, StopStream and PlayForward.
#include "viewerctl.h"

#include "standinswitches.h"
#include "viewerctlcommon.h"
#include "viewerctlids.h"

#include <cmath>
#include <cstdio>
#include <cwchar>

namespace {

// Fastest play: the stream clock must stay a valid time for as long as it plays.
const float MAX_SPEED = 64.0f;

const wchar_t s_szErrorSource[] = L"DorsaAPICOMViewer";

// What a dispatch method takes; Invoke checks calls against this table.
struct CMethodInfo
{
    DISPID m_dispid;
    const wchar_t* m_pszName;
    UINT m_cArgs;
    VARTYPE m_vtArgs[8];
};

const CMethodInfo s_methods[] = {
    { DISPID_DORSA_SETPLUGINPATH, L"SetPluginPath", 1, { VT_BSTR } },
    { DISPID_DORSA_STARTSTREAM, L"StartStream", 8,
      { VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR } },
    { DISPID_DORSA_STOPSTREAM, L"StopStream", 1, { VT_BSTR } },
    { DISPID_DORSA_PLAYFORWARD, L"PlayForward", 2, { VT_BSTR, VT_R4 } },
};

const CMethodInfo* FindMethod(DISPID dispid)
{
    for (const CMethodInfo& method : s_methods)
        if (method.m_dispid == dispid)
            return &method;
    return nullptr;
}

// Argument n in call order; DISPPARAMS holds them last-first.
const VARIANTARG& Arg(const DISPPARAMS* pDispParams, UINT n)
{
    return pDispParams->rgvarg[pDispParams->cArgs - 1 - n];
}

// A BSTR argument as text; a NULL BSTR is the empty text.
std::wstring ArgText(const DISPPARAMS* pDispParams, UINT n)
{
    BSTR bstr = V_BSTR(&Arg(pDispParams, n));
    return bstr ? std::wstring(bstr, SysStringLen(bstr)) : std::wstring();
}

std::string JournalArg(const VARIANTARG& var)
{
    switch (V_VT(&var)) {
    case VT_BSTR:
        if (V_BSTR(&var) == nullptr)
            return "BSTR:null";
        return "BSTR:\"" + standin::ToUtf8(V_BSTR(&var), SysStringLen(V_BSTR(&var))) + "\"";
    case VT_R4: {
        char szValue[64];
        snprintf(szValue, sizeof szValue, "%g", static_cast<double>(V_R4(&var)));
        return std::string("R4:") + szValue;
    }
    default:
        return "VT" + std::to_string(V_VT(&var));
    }
}

void JournalCall(DISPID dispid, const wchar_t* pszName, const DISPPARAMS* pDispParams)
{
    std::string strLine = std::to_string(dispid) + " " + standin::ToUtf8(pszName) + "(";
    for (UINT n = 0; pDispParams->rgvarg != nullptr && n < pDispParams->cArgs; ++n) {
        if (n > 0)
            strLine += ", ";
        strLine += JournalArg(Arg(pDispParams, n));
    }
    standin::Journal(strLine + ")");
}

// Decimal digits only, at most nMaxDigits of them, giving their value.
bool ParseDecimal(const std::wstring& str, size_t nMaxDigits, ULONG* pnValue)
{
    if (str.empty() || str.size() > nMaxDigits)
        return false;
    ULONG nValue = 0;
    for (wchar_t ch : str) {
        if (ch < L'0' || ch > L'9')
            return false;
        nValue = nValue * 10 + (ch - L'0');
    }
    *pnValue = nValue;
    return true;
}

// Four dotted decimal fields 0-255 and nothing else, not 0.0.0.0.
bool IsCameraAddress(const std::wstring& str)
{
    ULONG nSum = 0;
    size_t nStart = 0;
    for (int nField = 0; nField < 4; ++nField) {
        size_t nEnd = nField < 3 ? str.find(L'.', nStart) : str.size();
        if (nEnd == std::wstring::npos)
            return false;
        ULONG nValue = 0;
        if (!ParseDecimal(str.substr(nStart, nEnd - nStart), 3, &nValue) || nValue > 255)
            return false;
        nSum += nValue;
        nStart = nEnd + 1;
    }
    return nSum != 0;
}

bool IsPort(const std::wstring& str)
{
    ULONG nValue = 0;
    return ParseDecimal(str, 5, &nValue) && nValue >= 1 && nValue <= 65535;
}

bool IsChannel(const std::wstring& str)
{
    ULONG nValue = 0;
    return ParseDecimal(str, 9, &nValue);
}

// A session ID unique in this process (counter) and among processes (pid).
std::wstring NewSessionId()
{
    static LONG s_nCounter = 0;
    wchar_t szId[64];
    swprintf(szId, 64, L"S-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&s_nCounter));
    return szId;
}

ULONGLONG LocalFileTimeNow()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

} // namespace

// ---- IDispatch

STDMETHODIMP CViewerCtl::GetTypeInfoCount(UINT* pctinfo)
{
    if (pctinfo == nullptr)
        return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

STDMETHODIMP CViewerCtl::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo == nullptr)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    ITypeLib* pTypeLib = nullptr;
    HRESULT hr = CtlLoadTypeLib(&pTypeLib);
    if (FAILED(hr))
        return hr;
    hr = pTypeLib->GetTypeInfoOfGuid(DIID__DDorsaAPICOMViewer, ppTInfo);
    pTypeLib->Release();
    return hr;
}

STDMETHODIMP CViewerCtl::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                       DISPID* rgDispId)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0 || rgszNames == nullptr || rgDispId == nullptr)
        return E_INVALIDARG;
    // Only method names are known; argument names are not.
    HRESULT hr = S_OK;
    for (UINT n = 0; n < cNames; ++n)
        rgDispId[n] = DISPID_UNKNOWN;
    for (const CMethodInfo& method : s_methods)
        if (rgszNames[0] && lstrcmpiW(rgszNames[0], method.m_pszName) == 0)
            rgDispId[0] = method.m_dispid;
    if (rgDispId[0] == DISPID_UNKNOWN || cNames > 1)
        hr = DISP_E_UNKNOWNNAME;
    return hr;
}

STDMETHODIMP CViewerCtl::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                EXCEPINFO* pExcepInfo, UINT* puArgErr)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (pDispParams == nullptr || (pDispParams->cArgs > 0 && pDispParams->rgvarg == nullptr))
        return E_INVALIDARG;
    try {
        const CMethodInfo* pMethod = FindMethod(dispIdMember);
        JournalCall(dispIdMember, pMethod ? pMethod->m_pszName : L"Unknown", pDispParams);
        if (pMethod == nullptr || (wFlags & DISPATCH_METHOD) == 0)
            return DISP_E_MEMBERNOTFOUND;
        if (pDispParams->cNamedArgs > 0)
            return DISP_E_NONAMEDARGS;
        if (pDispParams->cArgs != pMethod->m_cArgs)
            return DISP_E_BADPARAMCOUNT;
        for (UINT n = 0; n < pMethod->m_cArgs; ++n) {
            if (V_VT(&Arg(pDispParams, n)) != pMethod->m_vtArgs[n]) {
                if (puArgErr)
                    *puArgErr = pDispParams->cArgs - 1 - n;
                return DISP_E_TYPEMISMATCH;
            }
        }

        if (standin::SwitchValue(L"DORSA_STANDIN_FAIL") == pMethod->m_pszName) {
            if (pExcepInfo) {
                ZeroMemory(pExcepInfo, sizeof *pExcepInfo);
                pExcepInfo->wCode = 0;
                pExcepInfo->scode = E_FAIL;
                pExcepInfo->bstrSource = SysAllocString(s_szErrorSource);
                const std::wstring strDescription =
                    std::wstring(pMethod->m_pszName) + L" failed: requested by DORSA_STANDIN_FAIL";
                pExcepInfo->bstrDescription = SysAllocString(strDescription.c_str());
            }
            return DISP_E_EXCEPTION;
        }

        VARIANT varResult;
        VariantInit(&varResult);
        HRESULT hr = E_UNEXPECTED;
        switch (dispIdMember) {
        case DISPID_DORSA_SETPLUGINPATH:
            hr = CallSetPluginPath(pDispParams, &varResult, puArgErr);
            break;
        case DISPID_DORSA_STARTSTREAM:
            hr = CallStartStream(pDispParams, &varResult, puArgErr);
            break;
        case DISPID_DORSA_STOPSTREAM:
            hr = CallStopStream(pDispParams, &varResult, puArgErr);
            break;
        case DISPID_DORSA_PLAYFORWARD:
            hr = CallPlayForward(pDispParams, &varResult, puArgErr);
            break;
        }
        if (FAILED(hr))
            return hr;

        // DORSA_STANDIN_RESULT=<Name>=<n> overrides a short result.
        const std::wstring strOverride = standin::SwitchValue(L"DORSA_STANDIN_RESULT");
        const std::wstring strPrefix = std::wstring(pMethod->m_pszName) + L"=";
        if (V_VT(&varResult) == VT_I2 && strOverride.compare(0, strPrefix.size(), strPrefix) == 0)
            V_I2(&varResult) = static_cast<SHORT>(_wtoi(strOverride.c_str() + strPrefix.size()));

        if (pVarResult)
            *pVarResult = varResult;
        else
            VariantClear(&varResult);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// SetPluginPath(path): 0 when path is an existing folder, else -1.
HRESULT CViewerCtl::CallSetPluginPath(DISPPARAMS* pDispParams, VARIANT* pResult, UINT*)
{
    const std::wstring strPath = ArgText(pDispParams, 0);
    DWORD dwAttributes = strPath.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(strPath.c_str());
    bool bFolder = dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
    // Streams started from now on use this folder's plug-in, if it has one.
    m_plugin = bFolder ? CPluginFile::Load(strPath) : CPluginFile();
    if (strPath.empty())
        m_strNoPlugin = NO_PLUGIN_FOLDER;
    else if (!bFolder)
        m_strNoPlugin = L"the folder " + strPath + L" does not exist";
    else if (!m_plugin.IsPresent())
        m_strNoPlugin = std::wstring(L"no ") + CPluginFile::s_szRtspFileName + L" or " + CPluginFile::s_szFileName +
                        L" in " + strPath;
    V_VT(pResult) = VT_I2;
    V_I2(pResult) = bFolder ? 0 : -1;
    return S_OK;
}

// StartStream(from, to, cameraIP, port, channel, ...): a new session ID for a
// plausible camera, else the empty text. The session is known, not playing.
HRESULT CViewerCtl::CallStartStream(DISPPARAMS* pDispParams, VARIANT* pResult, UINT*)
{
    CSession session;
    session.m_strCameraIP = ArgText(pDispParams, 2);
    session.m_strPort = ArgText(pDispParams, 3);
    session.m_strChannel = ArgText(pDispParams, 4);
    std::wstring strId;
    if (IsCameraAddress(session.m_strCameraIP) && IsPort(session.m_strPort) &&
        IsChannel(session.m_strChannel) && !standin::SwitchIsOn(L"DORSA_STANDIN_EMPTY_SESSION")) {
        strId = NewSessionId();
        if (m_plugin.IsPresent())
            StartCameraStream(session);
        else
            session.m_strSimulated = m_strNoPlugin;
        m_sessions[strId] = session;
        if (!m_plugin.IsPresent())
            JournalPictureSays(L"Simulated picture: " + session.m_strSimulated, strId);
    }
    BSTR bstrId = SysAllocStringLen(strId.data(), static_cast<UINT>(strId.size()));
    if (bstrId == nullptr)
        return E_OUTOFMEMORY;
    V_VT(pResult) = VT_BSTR;
    V_BSTR(pResult) = bstrId;
    return S_OK;
}

// StopStream(sessionId): 0 and the session is forgotten, or -1 when unknown.
HRESULT CViewerCtl::CallStopStream(DISPPARAMS* pDispParams, VARIANT* pResult, UINT*)
{
    auto it = m_sessions.find(ArgText(pDispParams, 0));
    const bool bKnown = it != m_sessions.end();
    if (bKnown) {
        EndSession(it->first, it->second);
        m_sessions.erase(it);
        UpdateClock();
        ShowStreams();
        if (m_hWnd)
            InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    V_VT(pResult) = VT_I2;
    V_I2(pResult) = bKnown ? 0 : -1;
    return S_OK;
}

// PlayForward(sessionId, speed): 0 and the session plays, or -1 for an
// unknown session or a speed that is not in (0, MAX_SPEED] (NaN and infinity too).
HRESULT CViewerCtl::CallPlayForward(DISPPARAMS* pDispParams, VARIANT* pResult, UINT*)
{
    const std::wstring strId = ArgText(pDispParams, 0);
    const float fSpeed = V_R4(&Arg(pDispParams, 1));
    auto it = m_sessions.find(strId);
    const bool bPlays = it != m_sessions.end() && fSpeed > 0.0f && fSpeed <= MAX_SPEED;
    if (bPlays) {
        CSession& session = it->second;
        // A first play starts the stream now; a new speed goes on from where it is.
        const ULONGLONG nNow = GetTickCount64();
        if (session.m_bPlaying)
            session.m_nStreamStartTime += static_cast<ULONGLONG>(
                static_cast<double>(nNow - session.m_nPlayStartTick) * session.m_fSpeed * 10000.0);
        else
            session.m_nStreamStartTime = LocalFileTimeNow();
        session.m_nPlayStartTick = nNow;
        session.m_fSpeed = fSpeed;
        session.m_bPlaying = true;
        m_strLastPlayed = strId;
        ShowStreams();
        // The event period is read now, so a test can set it per play.
        m_nEventPeriod = standin::SwitchNumber(L"DORSA_STANDIN_EVENT_MS", DEFAULT_EVENT_PERIOD_MS);
        m_nEventsPerTick = standin::SwitchNumber(L"DORSA_STANDIN_EVENTS_PER_TICK", DEFAULT_EVENTS_PER_TICK);
        m_bClockRunning = false; // restart the timers with this period
        UpdateClock();
        if (m_hWnd)
            InvalidateRect(m_hWnd, nullptr, FALSE);
    }
    V_VT(pResult) = VT_I2;
    V_I2(pResult) = bPlays ? 0 : -1;
    return S_OK;
}
