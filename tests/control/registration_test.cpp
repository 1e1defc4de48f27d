// Self-registration of the stand-in control through regsvr32, as it is
// installed: the keys it writes, creation by class identifier, and removal.
// The prefix's registry is shared by all tests of the build, so whatever
// registration was there before is put back afterwards.
#include "ctltestsupport.h"

#include "viewerctlids.h"

namespace {

#define DVV_WIDEN2(x) L##x
#define DVV_WIDEN(x) DVV_WIDEN2(x)
const wchar_t s_szClsidText[] = DVV_WIDEN(DORSA_VIEWER_CLSID_TEXT);
const wchar_t s_szClsidKey[] = L"CLSID\\" DVV_WIDEN(DORSA_VIEWER_CLSID_TEXT);

std::wstring ClassesValue(const std::wstring& strKey, const wchar_t* pszName, bool* pbFound = nullptr)
{
    wchar_t szValue[1024] = {};
    DWORD cb = sizeof szValue - sizeof(wchar_t);
    LONG lResult = RegGetValueW(HKEY_CLASSES_ROOT, strKey.c_str(), pszName, RRF_RT_REG_SZ, nullptr, szValue, &cb);
    if (pbFound)
        *pbFound = lResult == ERROR_SUCCESS;
    return lResult == ERROR_SUCCESS ? szValue : L"";
}

bool ClassesKeyExists(const std::wstring& strKey)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, strKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

// Runs regsvr32 with the given switches on strDll; returns its exit code.
DWORD RunRegsvr32(const std::wstring& strSwitches, const std::wstring& strDll)
{
    std::wstring strCommand = L"regsvr32.exe " + strSwitches + L" \"" + strDll + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD dwExit = static_cast<DWORD>(-1);
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return dwExit;
}

class RegistrationTest : public CtlTest
{
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        m_strPrevious = ClassesValue(std::wstring(s_szClsidKey) + L"\\InprocServer32", nullptr, &m_bWasRegistered);
    }
    void TearDown() override
    {
        CoFreeUnusedLibrariesEx(0, 0);
        RunRegsvr32(L"/s /u", CtlDllPath());
        // Put back the registration this test found, from the DLL it named.
        if (m_bWasRegistered)
            RunRegsvr32(L"/s", m_strPrevious);
        CtlTest::TearDown();
    }

    bool m_bWasRegistered = false;
    std::wstring m_strPrevious;
};

TEST_F(RegistrationTest, Regsvr32RegistersAndUnregistersTheControl)
{
    const std::wstring strDll = CtlDllPath();
    ASSERT_EQ(0u, RunRegsvr32(L"/s", strDll));

    const std::wstring strServerKey = std::wstring(s_szClsidKey) + L"\\InprocServer32";
    EXPECT_EQ(0, lstrcmpiW(strDll.c_str(), ClassesValue(strServerKey, nullptr).c_str()))
        << testing::PrintToString(ClassesValue(strServerKey, nullptr));
    EXPECT_EQ(L"Apartment", ClassesValue(strServerKey, L"ThreadingModel"));
    EXPECT_TRUE(ClassesKeyExists(std::wstring(s_szClsidKey) + L"\\Control"));
    EXPECT_EQ(DORSA_VIEWER_PROGID, ClassesValue(std::wstring(s_szClsidKey) + L"\\ProgID", nullptr));
    EXPECT_EQ(s_szClsidText, ClassesValue(std::wstring(DORSA_VIEWER_PROGID) + L"\\CLSID", nullptr));
    BSTR bstrLibPath = nullptr;
    EXPECT_EQ(S_OK, QueryPathOfRegTypeLib(LIBID_DorsaAPICOMViewerLib, DORSA_VIEWER_LIB_MAJOR,
                                          DORSA_VIEWER_LIB_MINOR, LOCALE_NEUTRAL, &bstrLibPath));
    SysFreeString(bstrLibPath);

    // Created the way the program's container creates it.
    IDispatch* pDisp = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_DorsaAPICOMViewer, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     reinterpret_cast<void**>(&pDisp)));
    EXPECT_FALSE(StartStream(pDisp, L"192.168.1.20").m_strValue.empty());
    pDisp->Release();
    CLSID clsidFromProgId = {};
    EXPECT_EQ(S_OK, CLSIDFromProgID(DORSA_VIEWER_PROGID, &clsidFromProgId));
    EXPECT_TRUE(IsEqualCLSID(CLSID_DorsaAPICOMViewer, clsidFromProgId));
    CoFreeUnusedLibrariesEx(0, 0);

    ASSERT_EQ(0u, RunRegsvr32(L"/s /u", strDll));
    EXPECT_FALSE(ClassesKeyExists(s_szClsidKey));
    EXPECT_FALSE(ClassesKeyExists(DORSA_VIEWER_PROGID));
    bstrLibPath = nullptr;
    EXPECT_TRUE(FAILED(QueryPathOfRegTypeLib(LIBID_DorsaAPICOMViewerLib, DORSA_VIEWER_LIB_MAJOR,
                                             DORSA_VIEWER_LIB_MINOR, LOCALE_NEUTRAL, &bstrLibPath)));
    SysFreeString(bstrLibPath);
    pDisp = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_DorsaAPICOMViewer, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IDispatch, reinterpret_cast<void**>(&pDisp)));
}

TEST_F(RegistrationTest, UnregisteringLeavesAClassRegisteredToAnotherDll)
{
    // The real control (or another copy of the stand-in) holds the class.
    const std::wstring strServerKey = std::wstring(s_szClsidKey) + L"\\InprocServer32";
    const std::wstring strOther = L"C:\\Program Files\\Dorsa\\viewer\\realviewer.dll";
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, strServerKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &hKey, nullptr));
    RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(strOther.c_str()),
                   static_cast<DWORD>((strOther.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);

    EXPECT_EQ(0u, RunRegsvr32(L"/s /u", CtlDllPath()));
    EXPECT_EQ(strOther, ClassesValue(strServerKey, nullptr));

    // Registered over it, the stand-in's own unregistration removes the class.
    ASSERT_EQ(0u, RunRegsvr32(L"/s", CtlDllPath()));
    ASSERT_EQ(0u, RunRegsvr32(L"/s /u", CtlDllPath()));
    EXPECT_FALSE(ClassesKeyExists(s_szClsidKey));
}

} // namespace
