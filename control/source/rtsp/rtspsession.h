// CRtspSession: the reading thread of one RTSP camera's stream, and what
// that thread owns. FFmpeg's RTSP client connects, signs in (Digest where
// the camera offers it, Basic only when it offers nothing else) and reads
// RTP, over TCP or UDP as the plug-in allows; every picture is decoded and
// handed over. After a failure it says why and tries again after a pause.
//
// FFmpeg's blocking calls end only through its interrupt callback, which
// watches the stop event and one deadline at a time: the connection
// CONNECT_WAIT_MS, each answer ANSWER_WAIT_MS from its request, and the
// silence limit since the last packet. A redirect to another host or port
// is not followed: FFmpeg's client would give it the credentials.
#pragma once

#include "camerastream.h"
#include "pluginfile.h"
#include "rtspaddress.h"
#include "streamwords.h"

#include <windows.h>

#include <cstdarg>
#include <string>

struct AVFormatContext;
class CStreamHandOver;

class CRtspSession
{
public:
    static const DWORD CONNECT_WAIT_MS = 3000;
    static const DWORD ANSWER_WAIT_MS = 10000;

    // evStop: set when the stream is to end.
    CRtspSession(const CCameraStream::CTarget& target, CStreamHandOver& handOver, HANDLE evStop);
    CRtspSession(const CRtspSession&) = delete;
    CRtspSession& operator=(const CRtspSession&) = delete;

    // Runs on the reading thread until the stop; returns with every
    // connection closed.
    void Run();

private:
    enum Outcome { STOPPED, FAILED };
    // What the deadline is for.
    enum Expecting { EXPECT_CONNECTION, EXPECT_ANSWER, EXPECT_PACKET };

    Outcome Attempt(std::wstring* pstrFailure);
    int Open(AVFormatContext** ppContext);
    Outcome Play(AVFormatContext* pContext, std::wstring* pstrFailure);
    Outcome Failed(int nError, const wchar_t* pszDoing, std::wstring* pstrFailure) const;
    void Expect(Expecting expecting, DWORD nMs);
    bool Stopped() const;

    static int OnInterrupt(void* pSession);
    static void OnLog(void* pClass, int nLevel, const char* pszFormat, va_list args);
    void OnRequestSent();
    void OnRedirect(int nStatus, const char* pszLocation, AVFormatContext* pContext);

    const CCameraStream::CTarget m_target;
    CStreamHandOver& m_handOver;
    const HANDLE m_evStop;
    const CStreamWords m_words;
    CRtspAddress m_address;
    bool m_bAddressValid;
    // Touched only on the reading thread: FFmpeg calls the interrupt
    // callback and logs the requests on the thread that called it.
    bool m_bOpening = false;
    Expecting m_expecting = EXPECT_CONNECTION;
    ULONGLONG m_nDeadline = 0;
    bool m_bLate = false;           // the deadline passed
    int m_nRedirectStatus = 0;      // a redirect elsewhere, not followed
    std::wstring m_strElsewhere;    // where it pointed (host and port)
};
