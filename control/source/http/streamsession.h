// CStreamSession: the reading thread of one camera's stream, and everything
// that thread owns: the HTTP client, the sign-in, the parser. It connects,
// signs in, follows redirects within the camera, reads and splits the stream
// into parts for the hand-over, and after a failure says why and tries again
// after a pause (CRetryPause).
//
// It waits only for the stop, the connection and its own deadlines, never
// for a fixed time: the answer's header lines have ANSWER_WAIT_MS from the
// request, and the stream is silent when nothing came for the silence limit
// since its last byte. Once stopped it closes the connection and returns.
#pragma once

#include "camerastream.h"
#include "httpclient.h"
#include "signin.h"
#include "streamwords.h"

#include <string>

class CCameraUrl;
class CMultiWakeUp;
class CMultipartParser;
class CStreamHandOver;

class CStreamSession
{
public:
    static const DWORD ANSWER_WAIT_MS = 10000;

    // evStop: set when the stream is to end, and then wakeUp woken.
    CStreamSession(const CCameraStream::CTarget& target, CStreamHandOver& handOver, HANDLE evStop, CMultiWakeUp& wakeUp);
    CStreamSession(const CStreamSession&) = delete;
    CStreamSession& operator=(const CStreamSession&) = delete;

    // Runs on the reading thread until the stop; returns with the
    // connection closed. Throws std::bad_alloc when memory runs out.
    void Run();

private:
    enum Outcome { STOPPED, FAILED, ANSWERED };

    Outcome Attempt(std::wstring* pstrFailure);
    Outcome Ask(const CCameraUrl& url, const std::string& strAuthorization, std::wstring* pstrFailure);
    Outcome Answer(const CCameraUrl& origin, CCameraUrl* pUrl, int* pnRedirects, std::string* pstrAuthorization,
                   std::wstring* pstrFailure);
    Outcome ReadStream(const std::string& strBoundary, std::wstring* pstrFailure);
    void SayLostParts(const CMultipartParser& parser, size_t* pnLost, size_t* pnDelivered);
    std::wstring FailureOf(int nCurlCode, bool bAnswered) const;

    const CCameraStream::CTarget m_target;
    CStreamHandOver& m_handOver;
    const HANDLE m_evStop;
    const CStreamWords m_words;
    CHttpClient m_client;
    CSignIn m_signIn;
};
