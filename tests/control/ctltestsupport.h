// Helpers for the stand-in control's tests: loading the DLL beside the test
// program, calling its methods through IDispatch, switches set for one test,
// a temporary folder, a recording event sink and a bounded message pump.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// The control DLL, copied beside the test program by the build.
std::wstring CtlDllPath();

// Loads the DLL once per process (kept loaded) and returns its module.
HMODULE CtlModule();

// A new control through the DLL's own class factory, asking for riid.
HRESULT CtlCreate(REFIID riid, void** ppv);

// Sets an environment variable for the life of the object, then restores it.
class CScopedSwitch
{
public:
    CScopedSwitch(const wchar_t* pszName, const wchar_t* pszValue);
    ~CScopedSwitch();
    CScopedSwitch(const CScopedSwitch&) = delete;
    CScopedSwitch& operator=(const CScopedSwitch&) = delete;

private:
    std::wstring m_strName;
    std::wstring m_strOld;
    bool m_bHadOld;
};

// A fresh folder under %TEMP%, removed with everything in it.
class CTempFolder
{
public:
    CTempFolder();
    ~CTempFolder();
    const std::wstring& Path() const { return m_strPath; }
    std::wstring File(const wchar_t* pszName) const { return m_strPath + L"\\" + pszName; }

private:
    std::wstring m_strPath;
};

// The lines of a UTF-8 text file, without their line ends.
std::vector<std::string> ReadLines(const std::wstring& strPath);

// One argument of a dispatch call, in call order.
struct CArg
{
    static CArg Text(const wchar_t* psz) { return CArg(VT_BSTR, psz, 0.0, false); }
    static CArg NullText() { return CArg(VT_BSTR, nullptr, 0.0, true); }
    static CArg Float(float f) { return CArg(VT_R4, nullptr, f, false); }
    static CArg Long(LONG n) { return CArg(VT_I4, nullptr, n, false); }
    static CArg Double(double d) { return CArg(VT_R8, nullptr, d, false); }

    VARTYPE m_vt;
    std::wstring m_strText;
    double m_dValue;
    bool m_bNull;

private:
    CArg(VARTYPE vt, const wchar_t* psz, double d, bool bNull)
        : m_vt(vt), m_strText(psz ? psz : L""), m_dValue(d), m_bNull(bNull) {}
};

// The outcome of one IDispatch::Invoke.
struct CCallResult
{
    HRESULT m_hr = E_FAIL;
    VARTYPE m_vt = VT_EMPTY;
    SHORT m_nValue = 0;
    std::wstring m_strValue;
    bool m_bNullText = false;
    UINT m_uArgErr = static_cast<UINT>(-1);
    SCODE m_scode = S_OK;
    WORD m_wCode = 0;
    std::wstring m_strSource;
    std::wstring m_strDescription;
};

// Calls method dispid with the arguments in call order (reversed into DISPPARAMS).
CCallResult CallMethod(IDispatch* pDisp, DISPID dispid, const std::vector<CArg>& args);

// The methods with their usual arguments.
CCallResult StartStream(IDispatch* pDisp, const wchar_t* pszIP, const wchar_t* pszPort = L"80",
                        const wchar_t* pszChannel = L"1");
CCallResult StopStream(IDispatch* pDisp, const std::wstring& strSession);
CCallResult PlayForward(IDispatch* pDisp, const std::wstring& strSession, float fSpeed);

// How long a test waits for the control's events and pictures: generous, as
// the emulated PC that runs the 32-bit build is many times slower than this
// machine. A deadline only bounds how long a failing test takes.
const DWORD kEventWaitMs = 120000;

// Dispatches messages until bDone() or nTimeoutMs has passed; returns bDone().
bool PumpUntil(const std::function<bool()>& bDone, DWORD nTimeoutMs);
void PumpFor(DWORD nMs);

// An event sink that answers for the control's event interface (or not, when
// bAnswerEventIID is false) and records every call it receives.
class CRecordingSink : public IDispatch
{
public:
    struct CEvent
    {
        DISPID m_dispid;
        WORD m_wFlags;
        UINT m_cArgs;
        VARTYPE m_vtFirst;  // type of the first argument in call order
        VARTYPE m_vtSecond; // type of the second
        std::wstring m_strSession;
        std::wstring m_strTimeStamp;
    };

    explicit CRecordingSink(bool bAnswerEventIID = true) : m_bAnswerEventIID(bAnswerEventIID) {}
    virtual ~CRecordingSink() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO*, UINT*) override;

    LONG RefCount() const { return m_cRef; }
    std::vector<CEvent> m_events;
    // Called inside Invoke after recording, for re-entrancy tests.
    std::function<void()> m_onEvent;

private:
    LONG m_cRef = 1;
    bool m_bAnswerEventIID;
};

// Initialises OLE on the test thread for each test.
class CtlTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(S_OK, OleInitialize(nullptr)); }
    void TearDown() override { OleUninitialize(); }
};
