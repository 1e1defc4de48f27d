// The stand-in viewer control's DLL: entry point, class factory, unload
// check and self-registration under HKEY_CLASSES_ROOT.
#include "viewerctl.h"
#include "viewerctlids.h"

#include <olectl.h>

#include <cwchar>
#include <new>
#include <string>

HMODULE g_hCtlModule = nullptr;

namespace {

// Living objects plus IClassFactory::LockServer locks.
LONG s_cModuleLocks = 0;

const wchar_t s_szThreadingModel[] = L"Apartment";

// The class factory is static: it lives as long as the DLL.
class CViewerCtlFactory : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Only objects and LockServer keep the DLL loaded, not factory references.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter)
            return CLASS_E_NOAGGREGATION;
        CViewerCtl* pCtl = new (std::nothrow) CViewerCtl;
        if (pCtl == nullptr)
            return E_OUTOFMEMORY;
        HRESULT hr = pCtl->QueryInterface(riid, ppv);
        pCtl->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override
    {
        if (fLock)
            CtlModuleLock();
        else
            CtlModuleUnlock();
        return S_OK;
    }
};

CViewerCtlFactory s_factory;

std::wstring GuidText(REFGUID guid)
{
    wchar_t szGuid[40] = {};
    StringFromGUID2(guid, szGuid, 40);
    return szGuid;
}

// Creates HKCR\<strKey> and sets one value (pszName nullptr: the default).
bool SetClassesValue(const std::wstring& strKey, const wchar_t* pszName, const std::wstring& strValue)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, strKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return false;
    LONG lResult = RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.c_str()),
                                  static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS;
}

// True when pszPath is this DLL's own file. The system may keep a
// registered path in its long form (\\?\ in front).
bool IsThisDll(const wchar_t* pszPath)
{
    wchar_t szOwn[MAX_PATH];
    DWORD cch = GetModuleFileNameW(g_hCtlModule, szOwn, MAX_PATH);
    if (pszPath == nullptr || cch == 0 || cch >= MAX_PATH)
        return false;
    if (wcsncmp(pszPath, L"\\\\?\\", 4) == 0)
        pszPath += 4;
    return lstrcmpiW(pszPath, szOwn) == 0;
}

// True when the class's InprocServer32 (under strClsidKey) names this DLL.
bool ClassNamesThisDll(const std::wstring& strClsidKey)
{
    wchar_t szServer[MAX_PATH * 2] = {};
    DWORD cb = sizeof szServer - sizeof(wchar_t);
    return RegGetValueW(HKEY_CLASSES_ROOT, (strClsidKey + L"\\InprocServer32").c_str(), nullptr, RRF_RT_REG_SZ,
                        nullptr, szServer, &cb) == ERROR_SUCCESS &&
           IsThisDll(szServer);
}

SYSKIND OwnSysKind()
{
    return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
}

} // namespace

void CtlModuleLock()
{
    InterlockedIncrement(&s_cModuleLocks);
}

void CtlModuleUnlock()
{
    InterlockedDecrement(&s_cModuleLocks);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH) {
        g_hCtlModule = hInstance;
        DisableThreadLibraryCalls(hInstance);
    } else if (dwReason == DLL_PROCESS_DETACH && lpReserved == nullptr) {
        // Unloaded by FreeLibrary (not process exit): the class goes with the code.
        CtlUnregisterWindowClass();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_DorsaAPICOMViewer)
        return CLASS_E_CLASSNOTAVAILABLE;
    return s_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return s_cModuleLocks == 0 ? S_OK : S_FALSE;
}

STDAPI DllUnregisterServer()
{
    const std::wstring strClsidKey = L"CLSID\\" + GuidText(CLSID_DorsaAPICOMViewer);
    // The class may be registered to another DLL (the real control, or another
    // copy of this one): only a registration that names this DLL is ours.
    if (ClassNamesThisDll(strClsidKey)) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, strClsidKey.c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, DORSA_VIEWER_PROGID);
    }
    BSTR bstrLibPath = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(LIBID_DorsaAPICOMViewerLib, DORSA_VIEWER_LIB_MAJOR,
                                        DORSA_VIEWER_LIB_MINOR, LOCALE_NEUTRAL, &bstrLibPath)) &&
        IsThisDll(bstrLibPath))
        UnRegisterTypeLib(LIBID_DorsaAPICOMViewerLib, DORSA_VIEWER_LIB_MAJOR, DORSA_VIEWER_LIB_MINOR,
                          LOCALE_NEUTRAL, OwnSysKind());
    SysFreeString(bstrLibPath);
    // Nothing naming this DLL may remain, whatever state the registry was in.
    return ClassNamesThisDll(strClsidKey) ? SELFREG_E_CLASS : S_OK;
}

STDAPI DllRegisterServer()
{
    wchar_t szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameW(g_hCtlModule, szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return SELFREG_E_CLASS;

    const std::wstring strClsid = GuidText(CLSID_DorsaAPICOMViewer);
    const std::wstring strClsidKey = L"CLSID\\" + strClsid;
    const std::wstring strMiscStatus = std::to_wstring(CViewerCtl::s_dwMiscStatus);
    const bool bClassOk =
        SetClassesValue(strClsidKey, nullptr, DORSA_VIEWER_USER_TYPE) &&
        SetClassesValue(strClsidKey + L"\\InprocServer32", nullptr, szPath) &&
        SetClassesValue(strClsidKey + L"\\InprocServer32", L"ThreadingModel", s_szThreadingModel) &&
        SetClassesValue(strClsidKey + L"\\Control", nullptr, L"") &&
        SetClassesValue(strClsidKey + L"\\MiscStatus", nullptr, strMiscStatus) &&
        SetClassesValue(strClsidKey + L"\\MiscStatus\\1", nullptr, strMiscStatus) &&
        SetClassesValue(strClsidKey + L"\\ProgID", nullptr, DORSA_VIEWER_PROGID) &&
        SetClassesValue(strClsidKey + L"\\TypeLib", nullptr, GuidText(LIBID_DorsaAPICOMViewerLib)) &&
        SetClassesValue(strClsidKey + L"\\Version", nullptr, L"1.0") &&
        SetClassesValue(DORSA_VIEWER_PROGID, nullptr, DORSA_VIEWER_USER_TYPE) &&
        SetClassesValue(std::wstring(DORSA_VIEWER_PROGID) + L"\\CLSID", nullptr, strClsid);
    if (!bClassOk) {
        DllUnregisterServer();
        return SELFREG_E_CLASS;
    }

    ITypeLib* pTypeLib = nullptr;
    if (FAILED(LoadTypeLibEx(szPath, REGKIND_REGISTER, &pTypeLib))) {
        DllUnregisterServer();
        return SELFREG_E_TYPELIB;
    }
    pTypeLib->Release();
    return S_OK;
}
