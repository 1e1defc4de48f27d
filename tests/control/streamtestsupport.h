// What the tests of camera streams share: the control hosted in a window of
// its own with an event sink, waiting with the message pump, the process's
// threads, handles and memory, and the journal's frame counts.
#pragma once

#include "ctltestsupport.h"

#include "olehostsite.h"
#include "viewerctlids.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <memory>

namespace streamtest {

// Pumps messages until bDone(), looking every few milliseconds (the camera
// changes without a message arriving).
inline bool PollUntil(const std::function<bool()>& bDone, DWORD nTimeoutMs)
{
    const ULONGLONG nDeadline = GetTickCount64() + nTimeoutMs;
    while (!bDone()) {
        if (GetTickCount64() >= nDeadline)
            return false;
        PumpFor(10);
    }
    return true;
}

inline bool Contains(const std::string& str, const std::string& strPart)
{
    return str.find(strPart) != std::string::npos;
}

// The threads of this process: the test's, the cameras', the control's and
// the HTTP client's.
inline ULONG ThreadCount()
{
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    ULONG nThreads = 0;
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore; bMore = Thread32Next(hSnapshot, &entry))
        nThreads += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(hSnapshot);
    return nThreads;
}

// The memory this process has committed (its private bytes).
inline SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

// The stand-in control in place in a window of its own, with an event sink.
class CHostedControl
{
public:
    void Create(int x)
    {
        m_hwndParent = CreateWindowExW(0, L"STATIC", L"Stream test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, 40, 400,
                                       320, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, m_hwndParent);
        ShowWindow(m_hwndParent, SW_SHOWNOACTIVATE);
        m_pSite.reset(new COleHostSite(m_hwndParent));
        ASSERT_EQ(S_OK, CtlCreate(IID_IOleObject, reinterpret_cast<void**>(&m_pObject)));
        ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_pDisp)));
        ASSERT_EQ(S_OK, m_pObject->SetClientSite(m_pSite.get()));
        const RECT rcItem = { 0, 0, 320, 240 };
        ASSERT_EQ(S_OK, m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite.get(), 0, m_hwndParent, &rcItem));
        IOleInPlaceObject* pInPlace = nullptr;
        ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&pInPlace)));
        pInPlace->GetWindow(&m_hwndControl);
        pInPlace->Release();
        IConnectionPointContainer* pContainer = nullptr;
        ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&pContainer)));
        pContainer->FindConnectionPoint(DIID__DDorsaAPICOMViewerEvents, &m_pPoint);
        pContainer->Release();
        ASSERT_NE(nullptr, m_pPoint);
        ASSERT_EQ(S_OK, m_pPoint->Advise(static_cast<IDispatch*>(&m_sink), &m_dwCookie));
    }
    void Destroy()
    {
        if (m_pPoint) {
            m_pPoint->Unadvise(m_dwCookie);
            m_pPoint->Release();
        }
        if (m_pObject) {
            m_pObject->Close(OLECLOSE_NOSAVE);
            m_pObject->SetClientSite(nullptr);
        }
        if (m_pDisp)
            m_pDisp->Release();
        if (m_pObject)
            m_pObject->Release();
        if (m_hwndParent)
            DestroyWindow(m_hwndParent);
        m_pPoint = nullptr;
        m_pObject = nullptr;
        m_pDisp = nullptr;
        m_hwndParent = nullptr;
    }

    // SetPluginPath, StartStream and PlayForward as the program calls them,
    // for 127.0.0.1 at nPort.
    std::wstring Connect(const std::wstring& strPluginFolder, USHORT nPort)
    {
        EXPECT_EQ(0, CallMethod(m_pDisp, DISPID_DORSA_SETPLUGINPATH, { CArg::Text(strPluginFolder.c_str()) }).m_nValue);
        const std::wstring strPort = std::to_wstring(nPort);
        const std::wstring strSession = StartStream(m_pDisp, L"127.0.0.1", strPort.c_str(), L"1").m_strValue;
        EXPECT_FALSE(strSession.empty());
        EXPECT_EQ(0, PlayForward(m_pDisp, strSession, 1.0f).m_nValue);
        return strSession;
    }

    CRecordingSink m_sink;
    HWND m_hwndParent = nullptr;
    HWND m_hwndControl = nullptr;
    std::unique_ptr<COleHostSite> m_pSite;
    IOleObject* m_pObject = nullptr;
    IDispatch* m_pDisp = nullptr;
    IConnectionPoint* m_pPoint = nullptr;
    DWORD m_dwCookie = 0;
};

// The handles this process holds.
inline DWORD HandleCount()
{
    DWORD nHandles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &nHandles);
    return nHandles;
}

struct CFrameCounts
{
    unsigned m_nReceived = 0, m_nShown = 0, m_nDropped = 0, m_nUndecodable = 0;
};

inline CFrameCounts ParseFrames(const std::string& strLine)
{
    CFrameCounts counts;
    EXPECT_EQ(4, sscanf(strLine.c_str(), "Frames: received %u, shown %u, dropped %u, undecodable %u",
                        &counts.m_nReceived, &counts.m_nShown, &counts.m_nDropped, &counts.m_nUndecodable))
        << strLine;
    return counts;
}

// A control hosted for the test, journalling into the test's folder.
class CameraTest : public CtlTest
{
protected:
    void SetUp() override
    {
        CtlTest::SetUp();
        m_strJournal = m_folder.File(L"journal.txt");
        SetEnvironmentVariableW(L"DORSA_STANDIN_JOURNAL", m_strJournal.c_str());
        m_control.Create(40);
    }
    void TearDown() override
    {
        m_control.Destroy();
        SetEnvironmentVariableW(L"DORSA_STANDIN_JOURNAL", nullptr);
        CtlTest::TearDown();
    }

    // A file of the test's folder with this text.
    void WriteTestFile(const wchar_t* pszName, const std::string& strText)
    {
        HANDLE hFile = CreateFileW(m_folder.File(pszName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
        DWORD cbWritten = 0;
        WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size()), &cbWritten, nullptr);
        CloseHandle(hFile);
    }

    bool WaitForEvents(size_t nCount, DWORD nTimeoutMs = kEventWaitMs)
    {
        return PumpUntil([&] { return m_control.m_sink.m_events.size() >= nCount; }, nTimeoutMs);
    }

    std::vector<std::string> Journal() const { return ReadLines(m_strJournal); }

    // The journal lines that start with strPrefix.
    std::vector<std::string> JournalLines(const std::string& strPrefix) const
    {
        std::vector<std::string> lines;
        for (const std::string& strLine : Journal())
            if (strLine.compare(0, strPrefix.size(), strPrefix) == 0)
                lines.push_back(strLine);
        return lines;
    }
    // The first of them (empty when none).
    std::string JournalLine(const std::string& strPrefix) const
    {
        const std::vector<std::string> lines = JournalLines(strPrefix);
        return lines.empty() ? std::string() : lines.front();
    }

    // The second session stopped received pictures but drew none and
    // decoded or converted none (the window showed another session).
    void ExpectSecondStoppedDrewNothing() const
    {
        const std::vector<std::string> frames = JournalLines("Frames: ");
        const std::vector<std::string> times = JournalLines("Frame times: ");
        ASSERT_EQ(2u, frames.size());
        ASSERT_EQ(2u, times.size());
        EXPECT_GT(ParseFrames(frames[1]).m_nReceived, 0u) << frames[1];
        EXPECT_EQ(0u, ParseFrames(frames[1]).m_nShown) << frames[1];
        EXPECT_EQ("Frame times: decode median - p99 -", times[1].substr(0, 34));
    }

    // Waits until the picture says something containing strText.
    bool WaitForPictureSaying(const std::string& strText, DWORD nTimeoutMs = kEventWaitMs)
    {
        return PollUntil(
            [&] {
                for (const std::string& strLine : JournalLines("Picture says: "))
                    if (Contains(strLine, strText))
                        return true;
                return false;
            },
            nTimeoutMs);
    }

    CTempFolder m_folder;
    std::wstring m_strJournal;
    CHostedControl m_control;
};

} // namespace streamtest
