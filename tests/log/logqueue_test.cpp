// The log queue's bookkeeping and the popup's feed, without a thread.
#include <gtest/gtest.h>
#include <logentryreaper.h>
#include <loggingdlg.h>
#include <logpopupfeed.h>
#include <logqueueledger.h>
#include <pumpmessages.h>

#include "logthreadtestsupport.h"

#include <atomic>
#include <thread>

TEST(LogQueueLedger, TheBoundHoldsUntilTheDrainIsDoneAndEveryLossIsReportedOnce)
{
    CLogQueueLedger ledger;
    const size_t nHalf = CLogQueueLedger::kMaxChars / 2;
    EXPECT_TRUE(ledger.Admit(nHalf));
    EXPECT_TRUE(ledger.AskForDrain());
    EXPECT_FALSE(ledger.AskForDrain());   // one request at a time
    EXPECT_TRUE(ledger.Admit(nHalf));
    EXPECT_FALSE(ledger.Admit(1));        // past the bound: dropped
    ledger.Lost();                        // an entry not even made
    CLogQueueLedger::Losses losses = ledger.Take();
    EXPECT_EQ(1, losses.nDropped);
    EXPECT_EQ(1, losses.nLost);
    // Taken but not yet written: still counted in the bound.
    EXPECT_TRUE(ledger.AskForDrain());
    EXPECT_FALSE(ledger.Admit(1));
    ledger.Released(2 * nHalf);
    // The next drain says that drop; then there is room again.
    losses = ledger.Take();
    EXPECT_EQ(1, losses.nDropped);
    EXPECT_TRUE(ledger.Admit(1));
    // A drain that could not say its losses hands them to the next one.
    ledger.GiveBack(losses);
    EXPECT_EQ(1, ledger.Take().nDropped);
    EXPECT_FALSE(ledger.Take().Any());
    // An entry too large even for an empty queue is dropped, and asks for a
    // drain so that it is said.
    CLogQueueLedger empty;
    EXPECT_FALSE(empty.Admit(CLogQueueLedger::kMaxChars + 1));
    EXPECT_TRUE(empty.AskForDrain());
    EXPECT_EQ(1, empty.Take().nDropped);
}

namespace {

// An entry whose freeing waits at a gate (up to a minute), as a flood's
// batch takes long to free, and says which thread freed it.
struct CGatedEntry
{
    ~CGatedEntry()
    {
        if (bGated) {
            s_nFreedOn = ::GetCurrentThreadId();
            ::WaitForSingleObject(s_hGate, 60000);
        }
    }
    bool bGated = false;
    static HANDLE s_hGate;
    static std::atomic<DWORD> s_nFreedOn;
};

HANDLE CGatedEntry::s_hGate = NULL;
std::atomic<DWORD> CGatedEntry::s_nFreedOn{ 0 };

} // namespace

TEST(LogEntryReaper, AFloodsBatchIsFreedOffTheDrainCountingInTheBoundUntilThenAndTheReapersEndWaitsForIt)
{
    CCriticalSection csQueue;
    CLogQueueLedger ledger;
    auto* pReaper = new CLogEntryReaper<CGatedEntry>(csQueue, ledger);
    // A small batch is freed at once: its room is back when Free returns.
    ASSERT_TRUE(ledger.Admit(CLogQueueLedger::kMaxChars));
    std::deque<CGatedEntry> entries(1);
    pReaper->Free(entries, CLogQueueLedger::kMaxChars);
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(ledger.Admit(CLogQueueLedger::kMaxChars));

    // A large one is taken over and freed on another thread.
    CGatedEntry::s_hGate = ::CreateEventW(NULL, TRUE, FALSE, NULL);
    entries.resize(CLogEntryReaper<CGatedEntry>::kHandOverEntries);
    entries.back().bGated = true;
    pReaper->Free(entries, CLogQueueLedger::kMaxChars);
    EXPECT_TRUE(entries.empty());
    ASSERT_TRUE(WaitFor([] { return CGatedEntry::s_nFreedOn != 0; }, 60000));
    EXPECT_NE(::GetCurrentThreadId(), CGatedEntry::s_nFreedOn.load());
    {
        CSingleLock lock(&csQueue, TRUE);
        EXPECT_FALSE(ledger.Admit(1));   // not freed yet: the bound is still full
        ledger.Take();
    }
    // Its owner goes only once the freeing is done.
    std::atomic<bool> bGone(false);
    std::thread owner([&] {
        delete pReaper;
        bGone = true;
    });
    ::Sleep(500);
    EXPECT_FALSE(bGone);
    ::SetEvent(CGatedEntry::s_hGate);
    owner.join();
    EXPECT_TRUE(ledger.Admit(CLogQueueLedger::kMaxChars));
    ::CloseHandle(CGatedEntry::s_hGate);
}

TEST(LogPopupFeed, ThePopupGetsOnlyTheNewestEntriesItKeepsInOneGivingAndNoneOnceStopped)
{
    CLoggingDlg dlg(NULL);
    ASSERT_TRUE(dlg.Create(IDD_APP_LOG));
    CLogPopupFeed feed(dlg);
    // Three drains of entries wait, together past the popup's line bound.
    const int kPerDrain = CLoggingDlg::kMaxLines / 2;
    int nNext = 0;
    auto addDrain = [&] {
        CString strSlice;
        std::vector<int> starts;
        for (int i = 0; i < kPerDrain; ++i, ++nNext) {
            starts.push_back(strSlice.GetLength());
            strSlice.AppendFormat(L"[stamp]: line %d\n", nNext);
        }
        feed.Add(strSlice, starts, false);
    };
    for (int nDrain = 0; nDrain < 3; ++nDrain)
        addDrain();
    EXPECT_TRUE(feed.IsWaiting());
    feed.ApplyWhenDue();   // the first giving is due at once
    EXPECT_FALSE(feed.IsWaiting());
    // The newest entries, in a row, the newest last, within the bound.
    const CString& strLog = dlg.m_strLog;
    int nLines = 0;
    for (int i = 0; i < strLog.GetLength(); ++i)
        nLines += strLog[i] == L'\n';
    EXPECT_LE(nLines, CLoggingDlg::kMaxLines);
    EXPECT_GE(nLines, CLoggingDlg::kMaxLines - kPerDrain);
    CString strFirst;
    strFirst.Format(L"[stamp]: line %d\r\n", nNext - nLines);
    EXPECT_EQ(0, strLog.Find(strFirst));
    CString strLast;
    strLast.Format(L"[stamp]: line %d\r\n", nNext - 1);
    EXPECT_EQ(strLog.GetLength() - strLast.GetLength(), strLog.Find(strLast));
    // Stopped, what waits is dropped: the popup never gets it.
    addDrain();
    feed.Stop();
    EXPECT_FALSE(feed.IsWaiting());
    feed.ApplyWhenDue();
    EXPECT_EQ(-1, dlg.m_strLog.Find(strLast.Left(9) + L"line " + std::to_wstring(nNext - 1).c_str()));
    dlg.DestroyWindow();
}

TEST(LogPopupFeed, DrainsThatNeverLetTheThreadIdleStillGiveThePopupItsLinesEachPeriod)
{
    CLoggingDlg dlg(NULL);
    ASSERT_TRUE(dlg.Create(IDD_APP_LOG));
    CLogPopupFeed feed(dlg);
    auto drain = [&](int n) {
        CString strLine;
        strLine.Format(L"[stamp]: line %d\n", n);
        feed.Add(strLine, std::vector<int>{ 0 }, false);
        feed.ApplyWhenDue();
    };
    drain(0);   // given at once: the period's timer starts with the next
    const CString strFirstGiving = dlg.m_strLog;
    ASSERT_FALSE(strFirstGiving.IsEmpty());
    // A drain request always waits, so the thread's timer never comes; the
    // drains give the popup what waits once the period is over.
    const ULONGLONG nGiveUp = ::GetTickCount64() + 30000;
    int n = 1;
    for (; dlg.m_strLog == strFirstGiving && ::GetTickCount64() < nGiveUp; ++n) {
        ::PostThreadMessageW(::GetCurrentThreadId(), WM_APP, 0, 0);
        MSG msg;
        ASSERT_TRUE(::PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE));
        EXPECT_NE(UINT(WM_TIMER), msg.message);
        drain(n);
    }
    // Given whole: the newest line drained is the popup's last.
    CString strLast;
    strLast.Format(L"[stamp]: line %d\r\n", n - 1);
    EXPECT_EQ(dlg.m_strLog.GetLength() - strLast.GetLength(), dlg.m_strLog.Find(strLast)) << "after " << n << " drains";
    feed.Stop();
    dlg.DestroyWindow();
}

namespace {

// A popup that takes long to take its lines, as one given thousands of new
// lines at once does under Wine.
class CSlowPopup : public CLoggingDlg
{
public:
    static constexpr DWORD kAppendMs = 3 * CLogPopupFeed::kApplyPeriodMs;
    void AppendText(const CString& text, const std::vector<int>& entryStarts, bool bOlderLeftOut) override
    {
        ::Sleep(kAppendMs);
        CLoggingDlg::AppendText(text, entryStarts, bOlderLeftOut);
    }
};

} // namespace

TEST(LogPopupFeed, AGivingThatTookLongerThanAPeriodHoldsTheNextOneBackNoMore)
{
    CSlowPopup dlg;
    ASSERT_TRUE(dlg.Create(IDD_APP_LOG));
    CLogPopupFeed feed(dlg);
    feed.Add(L"[stamp]: line 0\n", std::vector<int>{ 0 }, false);
    feed.ApplyWhenDue();
    ASSERT_FALSE(feed.IsWaiting());
    // The period counts from the giving's start: under a flood every giving
    // is slow, and a period after each one kept the popup still for a
    // third of the time.
    feed.Add(L"[stamp]: line 1\n", std::vector<int>{ 0 }, false);
    feed.ApplyWhenDue();
    EXPECT_FALSE(feed.IsWaiting());
    EXPECT_NE(-1, dlg.m_strLog.Find(L"line 1\r\n"));
    feed.Stop();
    dlg.DestroyWindow();
}
