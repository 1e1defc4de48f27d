// Frees a drain's entries once the drain is done with them and gives their
// room in the queue's bound back. Under a flood a drain takes hundreds of
// thousands of entries, and freeing them costs more than writing them (the
// writers allocate on the same heap meanwhile): such a batch is freed on a
// pool thread, and the logging thread drains on.
#pragma once

#include <afxwin.h>
#include <afxmt.h>

#include <deque>
#include <list>
#include <new>
#include <utility>

#include "logqueueledger.h"

template <typename Entry>
class CLogEntryReaper
{
public:
    // A smaller batch is freed at once: handing it over costs more, and
    // its room is back before the drain ends.
    static constexpr size_t kHandOverEntries = 4096;

    // The ledger is the queue's, kept under csQueue; the reaper's own list
    // is kept under it too.
    CLogEntryReaper(CCriticalSection& csQueue, CLogQueueLedger& ledger)
        : m_csQueue(csQueue), m_ledger(ledger), m_pWork(::CreateThreadpoolWork(&OnWork, this, NULL))
    {
    }
    // Returns once every batch handed over is freed: the owner's members
    // it uses must outlive it.
    ~CLogEntryReaper()
    {
        if (m_pWork) {
            ::WaitForThreadpoolWorkCallbacks(m_pWork, FALSE);
            ::CloseThreadpoolWork(m_pWork);
        }
    }
    CLogEntryReaper(const CLogEntryReaper&) = delete;
    CLogEntryReaper& operator=(const CLogEntryReaper&) = delete;

    // Takes the entries over, leaving the deque empty; nCost is what they
    // count in the bound until they are freed.
    void Free(std::deque<Entry>& entries, size_t nCost)
    {
        if (m_pWork && entries.size() >= kHandOverEntries && HandOver(entries, nCost))
            return;
        entries.clear();
        if (nCost > 0) {
            CSingleLock lock(&m_csQueue, TRUE);
            m_ledger.Released(nCost);
        }
    }

private:
    using Batch = std::pair<std::deque<Entry>, size_t>;

    // False, with the entries still there, when there is no memory to.
    bool HandOver(std::deque<Entry>& entries, size_t nCost)
    {
        bool bStart = false;
        try {
            CSingleLock lock(&m_csQueue, TRUE);
            m_batches.emplace_back();
            m_batches.back().first.swap(entries);
            m_batches.back().second = nCost;
            bStart = !m_bFreeing;
            m_bFreeing = true;
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (bStart)
            ::SubmitThreadpoolWork(m_pWork);
        return true;
    }

    // One call at a time frees every batch handed over, oldest first, and
    // gives each one's room back as it takes the next.
    static void CALLBACK OnWork(PTP_CALLBACK_INSTANCE, PVOID pContext, PTP_WORK)
    {
        CLogEntryReaper* pThis = static_cast<CLogEntryReaper*>(pContext);
        size_t nFreed = 0;
        for (;;) {
            std::list<Batch> oldest;   // taken out whole: nothing here may need memory
            {
                CSingleLock lock(&pThis->m_csQueue, TRUE);
                pThis->m_ledger.Released(nFreed);
                if (pThis->m_batches.empty()) {
                    pThis->m_bFreeing = false;
                    return;
                }
                oldest.splice(oldest.begin(), pThis->m_batches, pThis->m_batches.begin());
            }
            nFreed = oldest.front().second;
            oldest.clear();
        }
    }

    CCriticalSection& m_csQueue;
    CLogQueueLedger& m_ledger;
    // Under m_csQueue, like the ledger: the log keeps to one lock.
    std::list<Batch> m_batches;   // handed over, oldest first
    bool m_bFreeing = false;      // a pool call is on its way or running: it takes them
    PTP_WORK m_pWork;             // NULL without a pool: everything is freed at once
};
