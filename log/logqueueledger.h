// What the log queue holds, as its bound counts it, and what it could not
// take: the queue's bookkeeping, kept by its owner under the queue's lock.
#pragma once

#include <cstddef>

class CLogQueueLedger
{
public:
    // The queue's bound: at most kMaxChars characters of entries, each
    // counting its text and kEntryChars for its record, from the moment it
    // is queued until the drain that took it is done with it.
    static constexpr size_t kMaxChars = 64 * 1024 * 1024;
    static constexpr size_t kEntryChars = 32;
    static size_t CostOf(size_t nTextChars) { return nTextChars + kEntryChars; }

    // Whether an entry of this cost fits; if so it counts from now on, if
    // not it is counted as dropped. Once one is dropped, every later one is
    // too until a drain takes the queue, so the log says where they would
    // have been.
    bool Admit(size_t nCost);
    // An entry admitted and then not queued: no memory for it.
    void Lost(size_t nCost);
    // An entry not even made: no memory for it.
    void Lost() { ++m_losses.nLost; }
    // Whether the caller must ask for a drain: one request at a time, also
    // for entries dropped or lost, so a drain says so soon.
    bool AskForDrain();

    // What a drain reports: entries dropped at the bound and lost for want
    // of memory since the last report.
    struct Losses
    {
        int nDropped = 0;
        int nLost = 0;
        bool Any() const { return nDropped > 0 || nLost > 0; }
    };
    // A drain takes the queue: the request is served and the losses handed
    // over; what it took still counts until Released.
    Losses Take();
    // Losses a drain could not report: the next one does.
    void GiveBack(const Losses& losses);
    void Released(size_t nCost) { m_nChars -= nCost; }

    bool m_bClosed = false;   // no drain will come: every entry is refused, silently

private:
    size_t m_nChars = 0;
    Losses m_losses;
    bool m_bDrainAsked = false;
};
