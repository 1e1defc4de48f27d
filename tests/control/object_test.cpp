// The stand-in control as an OLE object: persisted state, class information
// and its type library, the TimeStamp event, in-place activation in a real
// parent window, and the DLL's unload check.
#include "ctltestsupport.h"

#include "viewerctlids.h"

#include <algorithm>
#include <regex>

namespace {

// The dialog's persisted block: version 0x00010000, extent 10795 x 8255.
const BYTE s_dialogBlock[20] = { 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x2B, 0x2A,
                                 0x00, 0x00, 0x3F, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 };

IStream* StreamOf(const BYTE* pb, ULONG cb)
{
    IStream* pStream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &pStream)))
        return nullptr;
    ULONG cbWritten = 0;
    pStream->Write(pb, cb, &cbWritten);
    LARGE_INTEGER zero = {};
    pStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return pStream;
}

template <class T> class CPtr
{
public:
    CPtr() = default;
    ~CPtr() { if (m_p) m_p->Release(); }
    CPtr(const CPtr&) = delete;
    CPtr& operator=(const CPtr&) = delete;
    T** operator&() { return &m_p; }
    void** Out() { return reinterpret_cast<void**>(&m_p); }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }
    void Reset() { if (m_p) m_p->Release(); m_p = nullptr; }

private:
    T* m_p = nullptr;
};

class ObjectTest : public CtlTest
{
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        ASSERT_EQ(S_OK, CtlCreate(IID_IOleObject, m_pObject.Out()));
        ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IDispatch, m_pDisp.Out()));
    }
    void TearDown() override
    {
        m_pDisp.Reset();
        m_pObject.Reset();
        CtlTest::TearDown();
    }

    SIZEL Extent()
    {
        SIZEL size = { -1, -1 };
        EXPECT_EQ(S_OK, m_pObject->GetExtent(DVASPECT_CONTENT, &size));
        return size;
    }

    // Advises sink on the event connection point; returns the cookie.
    DWORD AdviseSink(CRecordingSink& sink)
    {
        CPtr<IConnectionPointContainer> pContainer;
        EXPECT_EQ(S_OK, m_pObject->QueryInterface(IID_IConnectionPointContainer, pContainer.Out()));
        CPtr<IConnectionPoint> pPoint;
        EXPECT_EQ(S_OK, pContainer->FindConnectionPoint(DIID__DDorsaAPICOMViewerEvents, &pPoint));
        DWORD dwCookie = 0;
        EXPECT_EQ(S_OK, pPoint->Advise(static_cast<IDispatch*>(&sink), &dwCookie));
        return dwCookie;
    }

    HRESULT UnadviseSink(DWORD dwCookie)
    {
        CPtr<IConnectionPointContainer> pContainer;
        m_pObject->QueryInterface(IID_IConnectionPointContainer, pContainer.Out());
        CPtr<IConnectionPoint> pPoint;
        pContainer->FindConnectionPoint(DIID__DDorsaAPICOMViewerEvents, &pPoint);
        return pPoint->Unadvise(dwCookie);
    }

    std::wstring PlayingSession(const wchar_t* pszIP = L"192.168.1.20")
    {
        std::wstring strSession = StartStream(m_pDisp, pszIP).m_strValue;
        EXPECT_FALSE(strSession.empty());
        EXPECT_EQ(0, PlayForward(m_pDisp, strSession, 1.0f).m_nValue);
        return strSession;
    }

    CRecordingSink m_sink; // declared first: released by the control before it goes
    CPtr<IOleObject> m_pObject;
    CPtr<IDispatch> m_pDisp;
};

// ---- Persisted state

TEST_F(ObjectTest, LoadsTheDialogBlockAndSavesTheSameBytes)
{
    CTempFolder folder;
    const std::wstring strJournal = folder.File(L"journal.txt");
    CScopedSwitch journal(L"DORSA_STANDIN_JOURNAL", strJournal.c_str());

    CPtr<IPersistStreamInit> pPersist;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IPersistStreamInit, pPersist.Out()));
    CPtr<IStream> pIn;
    *&pIn = StreamOf(s_dialogBlock, sizeof s_dialogBlock);
    ASSERT_EQ(S_OK, pPersist->Load(pIn));
    const SIZEL size = Extent();
    EXPECT_EQ(10795, size.cx);
    EXPECT_EQ(8255, size.cy);
    EXPECT_EQ(std::vector<std::string>{ "Load extent=10795x8255" }, ReadLines(strJournal));

    CPtr<IStream> pOut;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &pOut));
    ASSERT_EQ(S_OK, pPersist->Save(pOut, TRUE));
    STATSTG stat = {};
    pOut->Stat(&stat, STATFLAG_NONAME);
    ASSERT_EQ(20u, stat.cbSize.QuadPart);
    LARGE_INTEGER zero = {};
    pOut->Seek(zero, STREAM_SEEK_SET, nullptr);
    BYTE saved[20] = {};
    ULONG cbRead = 0;
    pOut->Read(saved, sizeof saved, &cbRead);
    EXPECT_EQ(std::vector<BYTE>(s_dialogBlock, s_dialogBlock + 20), std::vector<BYTE>(saved, saved + 20));
}

TEST_F(ObjectTest, ShortOrForeignBlocksAreRefusedAndChangeNothing)
{
    CPtr<IPersistStreamInit> pPersist;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IPersistStreamInit, pPersist.Out()));
    ASSERT_EQ(S_OK, pPersist->InitNew());
    const SIZEL initial = Extent();
    EXPECT_NE(10795, initial.cx);

    CPtr<IStream> pShort;
    *&pShort = StreamOf(s_dialogBlock, 12);
    EXPECT_TRUE(FAILED(pPersist->Load(pShort)));

    BYTE foreign[20];
    memcpy(foreign, s_dialogBlock, sizeof foreign);
    foreign[6] = 0x02; // version 0x00020000
    CPtr<IStream> pForeign;
    *&pForeign = StreamOf(foreign, sizeof foreign);
    EXPECT_TRUE(FAILED(pPersist->Load(pForeign)));

    const SIZEL after = Extent();
    EXPECT_EQ(initial.cx, after.cx);
    EXPECT_EQ(initial.cy, after.cy);
}

// ---- Class information and the type library

// The GUID of the coclass interface with exactly these implementation flags.
GUID ImplementedInterface(ITypeInfo* pClass, int nFlags)
{
    GUID guid = GUID_NULL;
    TYPEATTR* pAttr = nullptr;
    if (FAILED(pClass->GetTypeAttr(&pAttr)))
        return guid;
    for (UINT n = 0; n < pAttr->cImplTypes; ++n) {
        int nImplFlags = 0;
        HREFTYPE hRef = 0;
        CPtr<ITypeInfo> pInterface;
        TYPEATTR* pInterfaceAttr = nullptr;
        if (SUCCEEDED(pClass->GetImplTypeFlags(n, &nImplFlags)) && nImplFlags == nFlags &&
            SUCCEEDED(pClass->GetRefTypeOfImplType(n, &hRef)) &&
            SUCCEEDED(pClass->GetRefTypeInfo(hRef, &pInterface)) &&
            SUCCEEDED(pInterface->GetTypeAttr(&pInterfaceAttr))) {
            guid = pInterfaceAttr->guid;
            pInterface->ReleaseTypeAttr(pInterfaceAttr);
        }
    }
    pClass->ReleaseTypeAttr(pAttr);
    return guid;
}

TEST_F(ObjectTest, ClassInfo2NamesTheEventInterface)
{
    CPtr<IProvideClassInfo2> pInfo;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IProvideClassInfo2, pInfo.Out()));
    GUID guid = GUID_NULL;
    ASSERT_EQ(S_OK, pInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid));
    EXPECT_TRUE(IsEqualIID(DIID__DDorsaAPICOMViewerEvents, guid));
}

TEST_F(ObjectTest, TypeInformationFallbackFindsTheSameEventInterface)
{
    CScopedSwitch noInfo2(L"DORSA_STANDIN_NO_CLASSINFO2", L"1");
    CPtr<IProvideClassInfo2> pInfo2;
    EXPECT_EQ(E_NOINTERFACE, m_pObject->QueryInterface(IID_IProvideClassInfo2, pInfo2.Out()));

    CPtr<IProvideClassInfo> pInfo;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IProvideClassInfo, pInfo.Out()));
    CPtr<ITypeInfo> pClass;
    ASSERT_EQ(S_OK, pInfo->GetClassInfo(&pClass));
    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(S_OK, pClass->GetTypeAttr(&pAttr));
    EXPECT_EQ(TKIND_COCLASS, pAttr->typekind);
    EXPECT_TRUE(IsEqualCLSID(CLSID_DorsaAPICOMViewer, pAttr->guid));
    pClass->ReleaseTypeAttr(pAttr);

    EXPECT_TRUE(IsEqualIID(DIID__DDorsaAPICOMViewerEvents,
                           ImplementedInterface(pClass, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)));
    EXPECT_TRUE(IsEqualIID(DIID__DDorsaAPICOMViewer, ImplementedInterface(pClass, IMPLTYPEFLAG_FDEFAULT)));
}

TEST_F(ObjectTest, TypeLibraryDescribesTheMethodsTheControlAnswers)
{
    CPtr<ITypeInfo> pMethods;
    ASSERT_EQ(S_OK, m_pDisp->GetTypeInfo(0, LOCALE_USER_DEFAULT, &pMethods));
    struct Case { const wchar_t* m_pszName; SHORT m_cParams; VARTYPE m_vtResult; VARTYPE m_vtLast; };
    const Case cases[] = { { L"SetPluginPath", 1, VT_I2, VT_BSTR },
                           { L"StartStream", 8, VT_BSTR, VT_BSTR },
                           { L"StopStream", 1, VT_I2, VT_BSTR },
                           { L"PlayForward", 2, VT_I2, VT_R4 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.m_pszName));
        LPOLESTR pszName = const_cast<LPOLESTR>(c.m_pszName);
        MEMBERID idLibrary = 0;
        DISPID idControl = 0;
        ASSERT_EQ(S_OK, pMethods->GetIDsOfNames(&pszName, 1, &idLibrary));
        ASSERT_EQ(S_OK, m_pDisp->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &idControl));
        EXPECT_EQ(idControl, idLibrary);

        TYPEATTR* pAttr = nullptr;
        ASSERT_EQ(S_OK, pMethods->GetTypeAttr(&pAttr));
        bool bFound = false;
        for (UINT n = 0; n < pAttr->cFuncs; ++n) {
            FUNCDESC* pFunc = nullptr;
            ASSERT_EQ(S_OK, pMethods->GetFuncDesc(n, &pFunc));
            if (pFunc->memid == idLibrary) {
                bFound = true;
                EXPECT_EQ(c.m_cParams, pFunc->cParams);
                EXPECT_EQ(c.m_vtResult, pFunc->elemdescFunc.tdesc.vt);
                EXPECT_EQ(c.m_vtLast, pFunc->lprgelemdescParam[pFunc->cParams - 1].tdesc.vt);
            }
            pMethods->ReleaseFuncDesc(pFunc);
        }
        pMethods->ReleaseTypeAttr(pAttr);
        EXPECT_TRUE(bFound);
    }
}

// ---- The TimeStamp event

TEST_F(ObjectTest, PlayingSessionRaisesTimeStampEvents)
{
    CScopedSwitch period(L"DORSA_STANDIN_EVENT_MS", L"50");
    CRecordingSink& sink = m_sink; // outlives the control, which may hold it
    const DWORD dwCookie = AdviseSink(sink);
    const std::wstring strSession = PlayingSession();

    ASSERT_TRUE(PumpUntil([&] { return sink.m_events.size() >= 3; }, kEventWaitMs))
        << "events seen: " << sink.m_events.size();
    const std::wregex timeStamp(L"\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}");
    std::wstring strPrevious;
    for (const CRecordingSink::CEvent& event : sink.m_events) {
        EXPECT_EQ(DISPID_DORSA_TIMESTAMP, event.m_dispid);
        EXPECT_TRUE(event.m_wFlags & DISPATCH_METHOD);
        EXPECT_EQ(2u, event.m_cArgs);
        EXPECT_EQ(VT_BSTR, event.m_vtFirst);
        EXPECT_EQ(VT_BSTR, event.m_vtSecond);
        EXPECT_EQ(strSession, event.m_strSession);
        EXPECT_TRUE(std::regex_match(event.m_strTimeStamp, timeStamp))
            << testing::PrintToString(event.m_strTimeStamp);
        // The stream's clock never runs backwards.
        EXPECT_LE(strPrevious, event.m_strTimeStamp);
        strPrevious = event.m_strTimeStamp;
    }
    EXPECT_EQ(S_OK, UnadviseSink(dwCookie));
}

TEST_F(ObjectTest, NoEventsUnlessASessionPlays)
{
    CScopedSwitch period(L"DORSA_STANDIN_EVENT_MS", L"50");
    CRecordingSink& sink = m_sink; // outlives the control, which may hold it
    const DWORD dwCookie = AdviseSink(sink);
    const std::wstring strSession = StartStream(m_pDisp, L"192.168.1.20").m_strValue;
    ASSERT_FALSE(strSession.empty());
    PlayForward(m_pDisp, strSession, 0.0f); // refused: still not playing
    PumpFor(400);
    EXPECT_EQ(0u, sink.m_events.size());
    UnadviseSink(dwCookie);
}

TEST_F(ObjectTest, StopStreamEndsTheEvents)
{
    CScopedSwitch period(L"DORSA_STANDIN_EVENT_MS", L"50");
    CRecordingSink& sink = m_sink; // outlives the control, which may hold it
    const DWORD dwCookie = AdviseSink(sink);
    const std::wstring strSession = PlayingSession();
    ASSERT_TRUE(PumpUntil([&] { return !sink.m_events.empty(); }, kEventWaitMs));
    ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
    sink.m_events.clear();
    PumpFor(400);
    EXPECT_EQ(0u, sink.m_events.size());
    UnadviseSink(dwCookie);
}

TEST_F(ObjectTest, UnadviseStopsDeliveryAndReleasesTheSink)
{
    CScopedSwitch period(L"DORSA_STANDIN_EVENT_MS", L"50");
    CTempFolder folder;
    const std::wstring strJournal = folder.File(L"journal.txt");
    CScopedSwitch journal(L"DORSA_STANDIN_JOURNAL", strJournal.c_str());

    CRecordingSink& sink = m_sink; // outlives the control, which may hold it
    const DWORD dwCookie = AdviseSink(sink);
    EXPECT_GT(sink.RefCount(), 1);
    PlayingSession();
    ASSERT_TRUE(PumpUntil([&] { return !sink.m_events.empty(); }, kEventWaitMs));
    EXPECT_EQ(S_OK, UnadviseSink(dwCookie));
    EXPECT_EQ(1, sink.RefCount());
    sink.m_events.clear();
    PumpFor(300);
    EXPECT_EQ(0u, sink.m_events.size());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, UnadviseSink(dwCookie));

    std::vector<std::string> lines = ReadLines(strJournal);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("Advise", lines.front());
    EXPECT_EQ("Unadvise", lines.back());
}

TEST_F(ObjectTest, EventsPerTickAreAllRaisedAndCountedInTheJournal)
{
    CScopedSwitch period(L"DORSA_STANDIN_EVENT_MS", L"50");
    CScopedSwitch perTick(L"DORSA_STANDIN_EVENTS_PER_TICK", L"7");
    CTempFolder folder;
    const std::wstring strJournal = folder.File(L"journal.txt");
    CScopedSwitch journal(L"DORSA_STANDIN_JOURNAL", strJournal.c_str());
    CRecordingSink& sink = m_sink; // outlives the control, which may hold it
    const DWORD dwCookie = AdviseSink(sink);
    const std::wstring strSession = PlayingSession();
    ASSERT_TRUE(PumpUntil([&] { return sink.m_events.size() >= 21; }, kEventWaitMs))
        << "events seen: " << sink.m_events.size();
    ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
    // Whole ticks only: each raises its seven events before the next one.
    EXPECT_EQ(0u, sink.m_events.size() % 7) << sink.m_events.size();

    const std::string strExpected = "Events raised: " + std::to_string(sink.m_events.size()) +
                                    " for session " + std::string(strSession.begin(), strSession.end());
    std::vector<std::string> lines = ReadLines(strJournal);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(strExpected, lines.back());
    UnadviseSink(dwCookie);
}

TEST_F(ObjectTest, CloseCountsTheEventsOfEverySessionStillOpen)
{
    CScopedSwitch period(L"DORSA_STANDIN_EVENT_MS", L"50");
    CTempFolder folder;
    const std::wstring strJournal = folder.File(L"journal.txt");
    CScopedSwitch journal(L"DORSA_STANDIN_JOURNAL", strJournal.c_str());
    CRecordingSink& sink = m_sink; // outlives the control, which may hold it
    const DWORD dwCookie = AdviseSink(sink);
    const std::wstring strPlaying = PlayingSession();
    const std::wstring strIdle = StartStream(m_pDisp, L"192.168.1.21").m_strValue;
    ASSERT_TRUE(PumpUntil([&] { return sink.m_events.size() >= 2; }, kEventWaitMs));
    UnadviseSink(dwCookie);
    const size_t nRaised = sink.m_events.size();
    ASSERT_EQ(S_OK, m_pObject->Close(OLECLOSE_NOSAVE));

    std::vector<std::string> lines = ReadLines(strJournal);
    auto has = [&](const std::string& strLine) {
        return std::find(lines.begin(), lines.end(), strLine) != lines.end();
    };
    EXPECT_TRUE(has("Events raised: " + std::to_string(nRaised) + " for session " +
                    std::string(strPlaying.begin(), strPlaying.end())));
    EXPECT_TRUE(has("Events raised: 0 for session " + std::string(strIdle.begin(), strIdle.end())));
}

TEST_F(ObjectTest, SinkMayStopTheStreamFromInsideTheEvent)
{
    CScopedSwitch period(L"DORSA_STANDIN_EVENT_MS", L"50");
    CScopedSwitch perTick(L"DORSA_STANDIN_EVENTS_PER_TICK", L"3");
    CRecordingSink& sink = m_sink; // outlives the control, which may hold it
    const DWORD dwCookie = AdviseSink(sink);
    const std::wstring strSession = PlayingSession();
    SHORT nStopResult = 1;
    sink.m_onEvent = [&] { nStopResult = StopStream(m_pDisp, strSession).m_nValue; };
    ASSERT_TRUE(PumpUntil([&] { return !sink.m_events.empty(); }, kEventWaitMs));
    sink.m_onEvent = nullptr;
    PumpFor(300);
    EXPECT_EQ(0, nStopResult);
    EXPECT_EQ(1u, sink.m_events.size());
    UnadviseSink(dwCookie);
}

TEST_F(ObjectTest, SinkWithoutTheEventInterfaceIsRefused)
{
    CRecordingSink sink(false);
    CPtr<IConnectionPointContainer> pContainer;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IConnectionPointContainer, pContainer.Out()));
    CPtr<IConnectionPoint> pPoint;
    ASSERT_EQ(S_OK, pContainer->FindConnectionPoint(DIID__DDorsaAPICOMViewerEvents, &pPoint));
    DWORD dwCookie = 0;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, pPoint->Advise(static_cast<IDispatch*>(&sink), &dwCookie));
    EXPECT_EQ(1, sink.RefCount());

    CPtr<IConnectionPoint> pOther;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, pContainer->FindConnectionPoint(IID_IPropertyNotifySink, &pOther));
}

// ---- In-place activation in a real window

// A client site that records the in-place calls it receives.
class CFakeSite : public IOleClientSite, public IOleInPlaceSite
{
public:
    explicit CFakeSite(HWND hwndParent) : m_hwndParent(hwndParent) {}
    virtual ~CFakeSite() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *ppv = static_cast<IOleInPlaceSite*>(this);
        if (*ppv == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_cRef); }

    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppmk) override { *ppmk = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** ppContainer) override { *ppContainer = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    STDMETHODIMP GetWindow(HWND* phwnd) override { m_calls.push_back("GetWindow"); *phwnd = m_hwndParent; return S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { m_calls.push_back("CanInPlaceActivate"); return m_bCanActivate ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { m_calls.push_back("OnInPlaceActivate"); return S_OK; }
    STDMETHODIMP OnUIActivate() override { m_calls.push_back("OnUIActivate"); return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                  LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO) override
    {
        m_calls.push_back("GetWindowContext");
        *ppFrame = nullptr;
        *ppDoc = nullptr;
        SetRect(lprcPosRect, 0, 0, 100, 100);
        SetRect(lprcClipRect, 0, 0, 100, 100);
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { m_calls.push_back("OnUIDeactivate"); return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { m_calls.push_back("OnInPlaceDeactivate"); return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    LONG RefCount() const { return m_cRef; }
    std::vector<std::string> m_calls;
    bool m_bCanActivate = true;

private:
    LONG m_cRef = 1;
    HWND m_hwndParent;
};

class InPlaceTest : public ObjectTest
{
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        m_hwndParent = CreateWindowExW(0, L"STATIC", L"Control test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                       50, 50, 500, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, m_hwndParent);
        ShowWindow(m_hwndParent, SW_SHOWNOACTIVATE);
        m_pSite = new CFakeSite(m_hwndParent);
    }
    void TearDown() override
    {
        if (m_pObject) {
            m_pObject->Close(OLECLOSE_NOSAVE);
            m_pObject->SetClientSite(nullptr);
        }
        ObjectTest::TearDown();
        delete m_pSite;
        DestroyWindow(m_hwndParent);
    }

    HWND ControlWindow()
    {
        CPtr<IOleInPlaceObject> pInPlace;
        EXPECT_EQ(S_OK, m_pObject->QueryInterface(IID_IOleInPlaceObject, pInPlace.Out()));
        HWND hwnd = nullptr;
        pInPlace->GetWindow(&hwnd);
        return hwnd;
    }

    // The colour in the middle of the control's top band, once painted.
    COLORREF PixelNearTop(HWND hwnd)
    {
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        PumpFor(50);
        HDC hdc = GetDC(hwnd);
        RECT rc;
        GetClientRect(hwnd, &rc);
        COLORREF colour = GetPixel(hdc, rc.right / 2, 4);
        ReleaseDC(hwnd, hdc);
        return colour;
    }

    HWND m_hwndParent = nullptr;
    CFakeSite* m_pSite = nullptr;
};

TEST_F(InPlaceTest, ActivatesAsAChildOfTheSiteWindowAtTheGivenPlace)
{
    ASSERT_EQ(S_OK, m_pObject->SetClientSite(m_pSite));
    const RECT rcItem = { 10, 20, 330, 260 };
    ASSERT_EQ(S_OK, m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hwndParent, &rcItem));
    EXPECT_EQ((std::vector<std::string>{ "CanInPlaceActivate", "OnInPlaceActivate", "GetWindow", "GetWindowContext" }),
              m_pSite->m_calls);

    HWND hwnd = ControlWindow();
    ASSERT_NE(nullptr, hwnd);
    EXPECT_EQ(m_hwndParent, GetParent(hwnd));
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD);
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE);
    RECT rc;
    GetWindowRect(hwnd, &rc);
    MapWindowPoints(nullptr, m_hwndParent, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(10, rc.left);
    EXPECT_EQ(20, rc.top);
    EXPECT_EQ(330, rc.right);
    EXPECT_EQ(260, rc.bottom);

    CPtr<IOleInPlaceObject> pInPlace;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IOleInPlaceObject, pInPlace.Out()));
    const RECT rcMoved = { 5, 6, 205, 156 };
    EXPECT_EQ(S_OK, pInPlace->SetObjectRects(&rcMoved, &rcMoved));
    GetWindowRect(hwnd, &rc);
    MapWindowPoints(nullptr, m_hwndParent, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ(5, rc.left);
    EXPECT_EQ(156, rc.bottom);
}

TEST_F(InPlaceTest, CloseDestroysTheWindowAndTellsTheSite)
{
    CTempFolder folder;
    const std::wstring strJournal = folder.File(L"journal.txt");
    CScopedSwitch journal(L"DORSA_STANDIN_JOURNAL", strJournal.c_str());

    ASSERT_EQ(S_OK, m_pObject->SetClientSite(m_pSite));
    const RECT rcItem = { 0, 0, 320, 240 };
    ASSERT_EQ(S_OK, m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hwndParent, &rcItem));
    HWND hwnd = ControlWindow();
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(S_OK, m_pObject->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ("OnInPlaceDeactivate", m_pSite->m_calls.back());
    EXPECT_EQ(std::vector<std::string>{ "Close" }, ReadLines(strJournal));
    HWND hwndAfter = reinterpret_cast<HWND>(1);
    CPtr<IOleInPlaceObject> pInPlace;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IOleInPlaceObject, pInPlace.Out()));
    EXPECT_TRUE(FAILED(pInPlace->GetWindow(&hwndAfter)));
}

TEST_F(InPlaceTest, WindowDestroyedFromOutsideIsNoLongerReportedAndActivationMakesANewOne)
{
    ASSERT_EQ(S_OK, m_pObject->SetClientSite(m_pSite));
    const RECT rcItem = { 0, 0, 320, 240 };
    ASSERT_EQ(S_OK, m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hwndParent, &rcItem));
    HWND hwnd = ControlWindow();
    ASSERT_TRUE(IsWindow(hwnd));
    DestroyWindow(hwnd);

    CPtr<IOleInPlaceObject> pInPlace;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IOleInPlaceObject, pInPlace.Out()));
    HWND hwndAfter = reinterpret_cast<HWND>(1);
    EXPECT_TRUE(FAILED(pInPlace->GetWindow(&hwndAfter)));
    EXPECT_EQ(nullptr, hwndAfter);

    // Activating again tells the site the old activation ended, then makes a live window.
    m_pSite->m_calls.clear();
    ASSERT_EQ(S_OK, m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hwndParent, &rcItem));
    EXPECT_EQ("OnInPlaceDeactivate", m_pSite->m_calls.front());
    HWND hwndNew = ControlWindow();
    EXPECT_TRUE(IsWindow(hwndNew));
    EXPECT_EQ(m_hwndParent, GetParent(hwndNew));
}

TEST_F(InPlaceTest, SiteThatRefusesGetsNoWindow)
{
    m_pSite->m_bCanActivate = false;
    ASSERT_EQ(S_OK, m_pObject->SetClientSite(m_pSite));
    const RECT rcItem = { 0, 0, 320, 240 };
    EXPECT_TRUE(FAILED(m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hwndParent, &rcItem)));
    EXPECT_EQ(std::vector<std::string>{ "CanInPlaceActivate" }, m_pSite->m_calls);
    EXPECT_EQ(nullptr, ControlWindow());
}

TEST_F(InPlaceTest, PictureShowsWhetherAStreamPlays)
{
    ASSERT_EQ(S_OK, m_pObject->SetClientSite(m_pSite));
    const RECT rcItem = { 0, 0, 320, 240 };
    ASSERT_EQ(S_OK, m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hwndParent, &rcItem));
    HWND hwnd = ControlWindow();
    ASSERT_NE(nullptr, hwnd);

    const COLORREF idle = PixelNearTop(hwnd);
    ASSERT_NE(CLR_INVALID, idle);
    // No stream: a dark picture.
    EXPECT_LT(GetRValue(idle) + GetGValue(idle) + GetBValue(idle), 3 * 64) << std::hex << idle;

    const std::wstring strSession = PlayingSession();
    const COLORREF playing = PixelNearTop(hwnd);
    EXPECT_NE(idle, playing) << std::hex << playing;

    ASSERT_EQ(0, StopStream(m_pDisp, strSession).m_nValue);
    EXPECT_EQ(idle, PixelNearTop(hwnd));
}

TEST_F(InPlaceTest, ContainerSequenceLeavesNothingHeld)
{
    // The order the program's container uses, start to end.
    ASSERT_EQ(S_OK, m_pObject->SetClientSite(m_pSite));
    CPtr<IPersistStreamInit> pPersist;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IPersistStreamInit, pPersist.Out()));
    CPtr<IStream> pIn;
    *&pIn = StreamOf(s_dialogBlock, sizeof s_dialogBlock);
    ASSERT_EQ(S_OK, pPersist->Load(pIn));
    SIZEL size = { 10795, 8255 };
    ASSERT_EQ(S_OK, m_pObject->SetExtent(DVASPECT_CONTENT, &size));
    CRecordingSink& sink = m_sink; // outlives the control, which may hold it
    const DWORD dwCookie = AdviseSink(sink);
    const RECT rcItem = { 7, 7, 415, 319 };
    ASSERT_EQ(S_OK, m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hwndParent, &rcItem));
    HWND hwnd = ControlWindow();
    ASSERT_NE(nullptr, hwnd);
    PlayingSession();

    EXPECT_EQ(S_OK, UnadviseSink(dwCookie));
    EXPECT_EQ(S_OK, m_pObject->Close(OLECLOSE_NOSAVE));
    EXPECT_EQ(S_OK, m_pObject->SetClientSite(nullptr));
    pPersist.Reset();
    m_pDisp.Reset();
    m_pObject.Reset();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(1, m_pSite->RefCount());
    EXPECT_EQ(1, sink.RefCount());
}

// ---- Unloading

TEST(UnloadTest, DllCanUnloadNowOnlyWhenNothingIsHeld)
{
    ASSERT_EQ(S_OK, OleInitialize(nullptr));
    HMODULE hModule = CtlModule();
    ASSERT_NE(nullptr, hModule);
    auto pfnCanUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "DllCanUnloadNow")));
    ASSERT_NE(nullptr, pfnCanUnloadNow);

    IUnknown* pUnk = nullptr;
    ASSERT_EQ(S_OK, CtlCreate(IID_IUnknown, reinterpret_cast<void**>(&pUnk)));
    EXPECT_EQ(S_FALSE, pfnCanUnloadNow());
    IConnectionPointContainer* pContainer = nullptr;
    ASSERT_EQ(S_OK, pUnk->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&pContainer)));
    IConnectionPoint* pPoint = nullptr;
    ASSERT_EQ(S_OK, pContainer->FindConnectionPoint(DIID__DDorsaAPICOMViewerEvents, &pPoint));
    pContainer->Release();
    pUnk->Release();
    // The connection point alone keeps its control alive.
    EXPECT_EQ(S_FALSE, pfnCanUnloadNow());
    pPoint->Release();
    EXPECT_EQ(S_OK, pfnCanUnloadNow());

    auto pfnGetClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "DllGetClassObject")));
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(S_OK, pfnGetClassObject(CLSID_DorsaAPICOMViewer, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    EXPECT_EQ(S_OK, pFactory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, pfnCanUnloadNow());
    EXPECT_EQ(S_OK, pFactory->LockServer(FALSE));
    EXPECT_EQ(S_OK, pfnCanUnloadNow());
    pFactory->Release();
    OleUninitialize();
}

} // namespace
