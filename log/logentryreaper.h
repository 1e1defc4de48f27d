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

    // The ledger is the queue's, kept under csQueue.
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
        if (m_pWork && entries.size() >= kHandOverEntries) {
            try {
                CSingleLock lock(&m_csBatches, TRUE);
                m_batches.emplace_back();
                m_batches.back().first.swap(entries);
                m_batches.back().second = nCost;
                if (!m_bFreeing) {
                    m_bFreeing = true;
                    ::SubmitThreadpoolWork(m_pWork);
                }
                return;
            } catch (const std::bad_alloc&) {
            }
        }
        entries.clear();
        GiveRoomBack(nCost);
    }

private:
    using Batch = std::pair<std::deque<Entry>, size_t>;

    void GiveRoomBack(size_t nCost)
    {
        if (nCost == 0)
            return;
        CSingleLock lock(&m_csQueue, TRUE);
        m_ledger.Released(nCost);
    }

    // One call at a time frees every batch handed over, oldest first.
    static void CALLBACK OnWork(PTP_CALLBACK_INSTANCE, PVOID pContext, PTP_WORK)
    {
        CLogEntryReaper* pThis = static_cast<CLogEntryReaper*>(pContext);
        for (;;) {
            std::list<Batch> oldest;   // taken out whole: nothing here may need memory
            {
                CSingleLock lock(&pThis->m_csBatches, TRUE);
                if (pThis->m_batches.empty()) {
                    pThis->m_bFreeing = false;
                    return;
                }
                oldest.splice(oldest.begin(), pThis->m_batches, pThis->m_batches.begin());
            }
            const size_t nCost = oldest.front().second;
            oldest.clear();
            pThis->GiveRoomBack(nCost);
        }
    }

    CCriticalSection& m_csQueue;
    CLogQueueLedger& m_ledger;
    CCriticalSection m_csBatches;
    std::list<Batch> m_batches;   // handed over, oldest first
    bool m_bFreeing = false;      // a pool call is on its way or running: it takes them
    PTP_WORK m_pWork;             // NULL without a pool: everything is freed at once
};
