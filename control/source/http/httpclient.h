// CHttpClient: one camera's HTTP requests through libcurl, for one owning
// thread: one easy handle, in a multi handle of its own. The owner waits in
// curl_multi_poll for the connection, its own deadline or a wake-up
// (CMultiWakeUp, from Stop); ending a request closes its connection at once.
//
// Only the transport is curl's: no redirect is followed and curl signs in
// nowhere (the owner sends its own Authorization). The answer's header
// block is kept as it came, bytes unchanged, and is bounded in size.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class CCameraUrl;
class CMultiWakeUp;
// libcurl's, as its header says.
typedef void CURL;
typedef void CURLM;
struct curl_slist;

class CHttpClient
{
public:
    // The limits every request keeps.
    struct CLimits
    {
        DWORD m_nConnectMs = 0;
        size_t m_nMaxHeaderBytes = 0;
    };

    // The answer's header block, once it is complete.
    struct CAnswer
    {
        long m_nStatus = 0;
        std::vector<std::string> m_challenges; // WWW-Authenticate values
        std::string m_strLocation;
        std::string m_strContentType;
    };

    enum Event
    {
        EVENT_STOP,     // the stop event is set
        EVENT_ANSWER,   // the header block is complete (Answer())
        EVENT_BODY,     // bytes went to the body handler
        EVENT_END,      // the request ended (Result())
        EVENT_DEADLINE, // nothing of the above by the deadline
    };

    typedef std::function<void(const unsigned char* pb, size_t cb)> BodyHandler;

    static const size_t MAX_CHALLENGES = 16;

    // evStop: set when the owner is to stop, and then wakeUp woken.
    CHttpClient(CMultiWakeUp& wakeUp, HANDLE evStop);
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    bool Open(const CLimits& limits);

    // Starts a GET of url, with the Authorization value unless empty; false
    // when it could not start.
    bool Start(const CCameraUrl& url, const std::string& strAuthorization);
    // Waits for the request's next event, until the tick count nDeadline.
    // Throws std::bad_alloc when memory ran out on the way.
    Event Wait(ULONGLONG nDeadline);
    const CAnswer& Answer() const { return m_answer; }
    // After EVENT_ANSWER: the body goes to onBody from now on (within Wait).
    void ReadBody(const BodyHandler& onBody);
    // After EVENT_END: how the request ended (a CURLcode), and whether its
    // header block was over the limit.
    int Result() const { return m_result; }
    bool HeaderTooLong() const { return m_bHeaderTooLong; }
    // The stand-in's own check did not trust the camera's certificate, and
    // why (curl's own refusal shows in Result() instead).
    bool Untrusted() const { return m_dwCertificateError != ERROR_SUCCESS; }
    DWORD CertificateError() const { return m_dwCertificateError; }
    // Ends the request and closes its connection.
    void Finish();

private:
    static size_t OnHeader(char* pch, size_t cbItem, size_t nItems, void* pv);
    static size_t OnBody(char* pch, size_t cbItem, size_t nItems, void* pv);
    static int OnConnected(void* pv, char* pszRemoteIp, char* pszLocalIp, int nRemotePort, int nLocalPort);
    void TakeHeaderLine(const std::string& strLine);

    CMultiWakeUp& m_wakeUp;
    const HANDLE m_evStop;
    CURLM* m_pMulti = nullptr;
    CURL* m_pEasy = nullptr;
    curl_slist* m_pHeaders = nullptr;
    bool m_bStarted = false; // the easy handle is in the multi handle

    // The request under way.
    CLimits m_limits;
    CAnswer m_answer;
    size_t m_cbHeader = 0;
    bool m_bAnswerDue = false; // complete, not yet said by Wait
    bool m_bAnswered = false;
    bool m_bBody = false; // bytes went to the handler since Wait said so
    bool m_bHeaderTooLong = false;
    bool m_bOutOfMemory = false; // in a callback
    bool m_bSecure = false;
    std::wstring m_strHost;
    DWORD m_dwCertificateError = 0;
    int m_result = 0;
    BodyHandler m_onBody;
};
