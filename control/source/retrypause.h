// CRetryPause: the pauses between a camera's connection attempts, whatever
// its protocol: 1 s, then twice as long after each failure up to 30 s, and
// 1 s again after a connection that brought pictures. The picture says the
// failure and counts the seconds down, so a waiting stream can't be taken
// for a stuck one.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class CStreamHandOver;
class CStreamWords;

class CRetryPause
{
public:
    static const DWORD FIRST_PAUSE_MS = 1000;
    static const DWORD LONGEST_PAUSE_MS = 30000;

    // One connection attempt: false when it ended with the stop, else true
    // with its failure in words.
    typedef std::function<bool(std::wstring* pstrFailure)> Attempt;

    CRetryPause(CStreamHandOver& handOver, const CStreamWords& words, HANDLE evStop)
        : m_handOver(handOver), m_words(words), m_evStop(evStop)
    {
    }

    // Makes attempts, pausing after each failure, until the stop.
    void Run(const Attempt& attempt);

private:
    // Says the failure, counts the pause down and then says the stand-in
    // connects again; false when the stop came meanwhile.
    bool After(const std::wstring& strFailure);
    // Waits until the tick count nDeadline; false at the stop.
    bool WaitUntil(ULONGLONG nDeadline) const;

    CStreamHandOver& m_handOver;
    const CStreamWords& m_words;
    HANDLE m_evStop;
    DWORD m_nPauseMs = FIRST_PAUSE_MS;
    ULONGLONG m_nPartsBefore = 0;
};
