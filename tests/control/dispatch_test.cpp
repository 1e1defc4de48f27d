// The stand-in control's dispatch methods: results, argument checks, the
// call journal and the test switches.
#include "ctltestsupport.h"

#include "viewerctlids.h"

#include <limits>
#include <set>

namespace {

class DispatchTest : public CtlTest
{
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        ASSERT_EQ(S_OK, CtlCreate(IID_IDispatch, reinterpret_cast<void**>(&m_pDisp)));
    }
    void TearDown() override
    {
        if (m_pDisp)
            m_pDisp->Release();
        CtlTest::TearDown();
    }

    // A started session's ID; fails the test when none is given.
    std::wstring StartedSession(const wchar_t* pszIP = L"192.168.1.20")
    {
        CCallResult result = StartStream(m_pDisp, pszIP);
        EXPECT_EQ(S_OK, result.m_hr);
        EXPECT_FALSE(result.m_strValue.empty()) << "no session for " << testing::PrintToString(pszIP);
        return result.m_strValue;
    }

    IDispatch* m_pDisp = nullptr;
};

TEST_F(DispatchTest, StartStreamGivesDistinctSessionsForPlausibleCameras)
{
    std::set<std::wstring> sessions;
    for (const wchar_t* pszIP : { L"192.168.1.20", L"10.0.0.1", L"255.255.255.255", L"0.0.0.1" }) {
        CCallResult result = StartStream(m_pDisp, pszIP, L"65535", L"0");
        ASSERT_EQ(S_OK, result.m_hr);
        EXPECT_EQ(VT_BSTR, result.m_vt);
        EXPECT_FALSE(result.m_strValue.empty()) << testing::PrintToString(pszIP);
        sessions.insert(result.m_strValue);
    }
    EXPECT_EQ(4u, sessions.size());
}

TEST_F(DispatchTest, StartStreamGivesNoSessionForMalformedAddresses)
{
    for (const wchar_t* pszIP :
         { L"", L"0.0.0.0", L"192.168.1", L"192.168.1.20.5", L"256.1.1.1", L"1.2.3.1000",
           L"192.168.1.20 ", L" 192.168.1.20", L"a.b.c.d", L"1..2.3", L"-1.2.3.4", L"1.2.3.4.",
           L"192.168.1.2x", L"camera.local" }) {
        CCallResult result = StartStream(m_pDisp, pszIP);
        ASSERT_EQ(S_OK, result.m_hr);
        EXPECT_EQ(VT_BSTR, result.m_vt);
        EXPECT_EQ(L"", result.m_strValue) << "address " << testing::PrintToString(pszIP);
    }
}

TEST_F(DispatchTest, StartStreamChecksPortAndChannel)
{
    struct Case { const wchar_t* m_pszPort; const wchar_t* m_pszChannel; bool m_bStarts; };
    const Case cases[] = {
        { L"1", L"1", true },      { L"65535", L"12", true }, { L"0", L"1", false },
        { L"65536", L"1", false }, { L"80a", L"1", false },   { L"", L"1", false },
        { L"-80", L"1", false },   { L"80", L"", false },     { L"80", L"x", false },
        { L"80", L"1.5", false },
    };
    for (const Case& c : cases) {
        CCallResult result = StartStream(m_pDisp, L"192.168.1.20", c.m_pszPort, c.m_pszChannel);
        ASSERT_EQ(S_OK, result.m_hr);
        EXPECT_EQ(c.m_bStarts, !result.m_strValue.empty())
            << "port " << testing::PrintToString(c.m_pszPort) << " channel "
            << testing::PrintToString(c.m_pszChannel);
    }
}

TEST_F(DispatchTest, NullTextsAreAcceptedAsEmpty)
{
    CCallResult noAddress = StartStream(m_pDisp, nullptr);
    EXPECT_EQ(S_OK, noAddress.m_hr);
    EXPECT_EQ(L"", noAddress.m_strValue);

    CCallResult noSession = CallMethod(m_pDisp, DISPID_DORSA_STOPSTREAM, { CArg::NullText() });
    EXPECT_EQ(S_OK, noSession.m_hr);
    EXPECT_EQ(-1, noSession.m_nValue);

    CCallResult noPath = CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::NullText() });
    EXPECT_EQ(S_OK, noPath.m_hr);
    EXPECT_EQ(-1, noPath.m_nValue);
}

TEST_F(DispatchTest, StopStreamForgetsTheSession)
{
    const std::wstring strSession = StartedSession();
    CCallResult first = StopStream(m_pDisp, strSession);
    EXPECT_EQ(S_OK, first.m_hr);
    EXPECT_EQ(VT_I2, first.m_vt);
    EXPECT_EQ(0, first.m_nValue);
    EXPECT_EQ(-1, StopStream(m_pDisp, strSession).m_nValue);
    EXPECT_EQ(-1, PlayForward(m_pDisp, strSession, 1.0f).m_nValue);
    EXPECT_EQ(-1, StopStream(m_pDisp, L"S-unknown").m_nValue);
}

TEST_F(DispatchTest, PlayForwardNeedsAKnownSessionAndAPositiveSpeed)
{
    const std::wstring strSession = StartedSession();
    EXPECT_EQ(-1, PlayForward(m_pDisp, L"S-unknown", 1.0f).m_nValue);
    EXPECT_EQ(-1, PlayForward(m_pDisp, strSession, 0.0f).m_nValue);
    EXPECT_EQ(-1, PlayForward(m_pDisp, strSession, -1.0f).m_nValue);
    CCallResult played = PlayForward(m_pDisp, strSession, 1.0f);
    EXPECT_EQ(S_OK, played.m_hr);
    EXPECT_EQ(VT_I2, played.m_vt);
    EXPECT_EQ(0, played.m_nValue);
    EXPECT_EQ(0, PlayForward(m_pDisp, strSession, 0.5f).m_nValue);
}

TEST_F(DispatchTest, PlayForwardRefusesSpeedsTheStreamClockCannotFollow)
{
    const std::wstring strSession = StartedSession();
    EXPECT_EQ(-1, PlayForward(m_pDisp, strSession, std::numeric_limits<float>::infinity()).m_nValue);
    EXPECT_EQ(-1, PlayForward(m_pDisp, strSession, std::numeric_limits<float>::quiet_NaN()).m_nValue);
    EXPECT_EQ(-1, PlayForward(m_pDisp, strSession, 1e30f).m_nValue);
    EXPECT_EQ(-1, PlayForward(m_pDisp, strSession, 64.5f).m_nValue);
    EXPECT_EQ(0, PlayForward(m_pDisp, strSession, 64.0f).m_nValue);
}

TEST_F(DispatchTest, SetPluginPathAcceptsOnlyAnExistingFolder)
{
    CTempFolder folder;
    const std::wstring strFile = folder.File(L"plugin.bin");
    HANDLE hFile = CreateFileW(strFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    CloseHandle(hFile);

    CCallResult folderResult =
        CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(folder.Path().c_str()) });
    EXPECT_EQ(S_OK, folderResult.m_hr);
    EXPECT_EQ(VT_I2, folderResult.m_vt);
    EXPECT_EQ(0, folderResult.m_nValue);
    EXPECT_EQ(-1, CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(strFile.c_str()) }).m_nValue);
    EXPECT_EQ(-1, CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH,
                             { CArg::Text(folder.File(L"missing").c_str()) }).m_nValue);
    EXPECT_EQ(-1, CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(L"") }).m_nValue);
}

TEST_F(DispatchTest, WrongArgumentTypesAreRefusedWithTheirPosition)
{
    const std::wstring strSession = StartedSession();
    // Speed as a double: the last argument, so rgvarg index 0.
    CCallResult doubleSpeed = CallMethod(m_pDisp, DISPID_DORSA_PLAYFORWARD,
                                         { CArg::Text(strSession.c_str()), CArg::Double(1.0) });
    EXPECT_EQ(DISP_E_TYPEMISMATCH, doubleSpeed.m_hr);
    EXPECT_EQ(0u, doubleSpeed.m_uArgErr);

    // Port as a number: the fourth of eight, so rgvarg index 4.
    CCallResult numericPort = CallMethod(
        m_pDisp, DISPID_DORSA_STARTSTREAM,
        { CArg::Text(L"NOW"), CArg::Text(L"INFINITE"), CArg::Text(L"192.168.1.20"), CArg::Long(80),
          CArg::Text(L"1"), CArg::NullText(), CArg::NullText(), CArg::NullText() });
    EXPECT_EQ(DISP_E_TYPEMISMATCH, numericPort.m_hr);
    EXPECT_EQ(4u, numericPort.m_uArgErr);

    CCallResult numericSession = CallMethod(m_pDisp, DISPID_DORSA_STOPSTREAM, { CArg::Long(1) });
    EXPECT_EQ(DISP_E_TYPEMISMATCH, numericSession.m_hr);
    // A refused call has no effect: the session still plays on request.
    EXPECT_EQ(0, PlayForward(m_pDisp, strSession, 1.0f).m_nValue);
}

TEST_F(DispatchTest, WrongArgumentCountsAndUnknownMembersAreRefused)
{
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, CallMethod(m_pDisp, DISPID_DORSA_STOPSTREAM, {}).m_hr);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              CallMethod(m_pDisp, DISPID_DORSA_PLAYFORWARD, { CArg::Text(L"S-1") }).m_hr);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              CallMethod(m_pDisp, DISPID_DORSA_STARTSTREAM,
                         { CArg::Text(L"NOW"), CArg::Text(L"INFINITE"), CArg::Text(L"192.168.1.20"),
                           CArg::Text(L"80"), CArg::Text(L"1"), CArg::NullText(), CArg::NullText() })
                  .m_hr);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, CallMethod(m_pDisp, 4, { CArg::Text(L"S-1") }).m_hr);
}

TEST_F(DispatchTest, JournalRecordsEachCallAsReceived)
{
    CTempFolder folder;
    const std::wstring strJournal = folder.File(L"journal.txt");
    CScopedSwitch journal(L"DORSA_STANDIN_JOURNAL", strJournal.c_str());

    const std::wstring strSession = StartStream(m_pDisp, L"192.168.1.20").m_strValue;
    ASSERT_FALSE(strSession.empty());
    PlayForward(m_pDisp, strSession, 1.0f);
    PlayForward(m_pDisp, strSession, 0.25f);
    CallMethod(m_pDisp, DISPID_DORSA_STOPSTREAM, { CArg::Long(7) });
    CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(L"C:\\Caf\u00e9") });

    const std::string strId(strSession.begin(), strSession.end());
    const std::vector<std::string> expected = {
        "2 StartStream(BSTR:\"NOW\", BSTR:\"INFINITE\", BSTR:\"192.168.1.20\", BSTR:\"80\", "
        "BSTR:\"1\", BSTR:null, BSTR:null, BSTR:null)",
        "Picture says: Simulated picture: no plug-in folder was given for session " + strId,
        "6 PlayForward(BSTR:\"" + strId + "\", R4:1)",
        "6 PlayForward(BSTR:\"" + strId + "\", R4:0.25)",
        "3 StopStream(VT3)",
        "1 SetPluginPath(BSTR:\"C:\\Caf\xc3\xa9\")",
    };
    EXPECT_EQ(expected, ReadLines(strJournal));
}

TEST_F(DispatchTest, ASimulatedPictureSaysWhyThereIsNoCamera)
{
    CTempFolder folder;
    const std::wstring strJournal = folder.File(L"journal.txt");
    const std::wstring strMissing = folder.File(L"missing");
    CScopedSwitch journal(L"DORSA_STANDIN_JOURNAL", strJournal.c_str());

    CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(strMissing.c_str()) });
    const std::wstring strFirst = StartedSession();
    CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(folder.Path().c_str()) });
    const std::wstring strSecond = StartedSession();

    // The temporary folder's path and the IDs are plain ASCII.
    const auto narrow = [](const std::wstring& str) { return std::string(str.begin(), str.end()); };
    std::vector<std::string> says;
    for (const std::string& strLine : ReadLines(strJournal))
        if (strLine.rfind("Picture says: ", 0) == 0)
            says.push_back(strLine);
    const std::vector<std::string> expected = {
        "Picture says: Simulated picture: the folder " + narrow(strMissing) + " does not exist for session " +
            narrow(strFirst),
        "Picture says: Simulated picture: no rtsp.plugin or mjpeg-http.plugin in " + narrow(folder.Path()) + " for session " +
            narrow(strSecond),
    };
    EXPECT_EQ(expected, says);
}

TEST_F(DispatchTest, FailSwitchRaisesADispatchExceptionForThatMethodOnly)
{
    CScopedSwitch fail(L"DORSA_STANDIN_FAIL", L"StartStream");
    CCallResult failed = StartStream(m_pDisp, L"192.168.1.20");
    EXPECT_EQ(DISP_E_EXCEPTION, failed.m_hr);
    EXPECT_EQ(0, failed.m_wCode);
    EXPECT_EQ(E_FAIL, failed.m_scode);
    EXPECT_EQ(L"DorsaAPICOMViewer", failed.m_strSource);
    EXPECT_EQ(L"StartStream failed: requested by DORSA_STANDIN_FAIL", failed.m_strDescription);

    EXPECT_EQ(S_OK, StopStream(m_pDisp, L"S-unknown").m_hr);
    CScopedSwitch failStop(L"DORSA_STANDIN_FAIL", L"StopStream");
    EXPECT_EQ(S_OK, StartStream(m_pDisp, L"192.168.1.20").m_hr);
    CCallResult stopFailed = StopStream(m_pDisp, L"S-unknown");
    EXPECT_EQ(DISP_E_EXCEPTION, stopFailed.m_hr);
    EXPECT_EQ(L"StopStream failed: requested by DORSA_STANDIN_FAIL", stopFailed.m_strDescription);
}

TEST_F(DispatchTest, EmptySessionSwitchMakesStartStreamGiveNothing)
{
    {
        CScopedSwitch empty(L"DORSA_STANDIN_EMPTY_SESSION", L"1");
        CCallResult result = StartStream(m_pDisp, L"192.168.1.20");
        EXPECT_EQ(S_OK, result.m_hr);
        EXPECT_EQ(VT_BSTR, result.m_vt);
        EXPECT_EQ(L"", result.m_strValue);
    }
    // Read at call time: once cleared, sessions start again.
    EXPECT_FALSE(StartStream(m_pDisp, L"192.168.1.20").m_strValue.empty());
}

TEST_F(DispatchTest, ResultSwitchReplacesAShortResult)
{
    const std::wstring strSession = StartedSession();
    CScopedSwitch result(L"DORSA_STANDIN_RESULT", L"PlayForward=-3");
    EXPECT_EQ(-3, PlayForward(m_pDisp, strSession, 1.0f).m_nValue);
    EXPECT_EQ(-1, StopStream(m_pDisp, L"S-unknown").m_nValue);
}

} // namespace
