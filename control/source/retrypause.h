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

    // Waits until the tick count nDeadline; false when the stream is to end.
    typedef std::function<bool(ULONGLONG nDeadline)> Wait;

    CRetryPause(CStreamHandOver& handOver, const CStreamWords& words) : m_handOver(handOver), m_words(words) {}

    // Called before each connection attempt.
    void BeforeAttempt();
    // Called after a failed attempt: says the failure, counts the pause down
    // and then says the stand-in connects again; false when the stream is to end.
    bool After(const std::wstring& strFailure, const Wait& wait);

private:
    CStreamHandOver& m_handOver;
    const CStreamWords& m_words;
    DWORD m_nPauseMs = FIRST_PAUSE_MS;
    ULONGLONG m_nPartsBefore = 0;
};
