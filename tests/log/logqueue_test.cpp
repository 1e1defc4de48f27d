// The log queue's bookkeeping and the popup's feed, without a thread.
#include <gtest/gtest.h>
#include <loggingdlg.h>
#include <logpopupfeed.h>
#include <logqueueledger.h>

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
