// One camera's HTTP requests through libcurl, on one thread.
#include <winsock2.h> // before windows.h: libcurl's header includes it

#include "httpclient.h"

#include <curl/curl.h>

#include "asciitext.h"
#include "cameraurl.h"
#include "certificatecheck.h"
#include "multiwakeup.h"
#include "standinswitches.h"

#include <climits>
#include <new>

namespace {

// Large enough for a whole 1920x1080 picture in one read, so a picture costs
// one wake of the wait, not one per 64 KB.
const long READ_CHUNK = 512 * 1024;

// curl's process-wide set-up, once. Its DLL stays loaded for good: a name
// lookup's thread that outlives its session must not find it unloaded.
BOOL CALLBACK SetUpCurl(PINIT_ONCE, PVOID, PVOID*)
{
    HMODULE hCurl = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"libcurl-4.dll", &hCurl);
    return curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
}

bool StartsWith(const std::string& str, const char* pszLowerStart)
{
    const std::string strStart(pszLowerStart);
    return asciitext::Lower(str.substr(0, strStart.size())) == strStart;
}

} // namespace

CHttpClient::CHttpClient(CMultiWakeUp& wakeUp, HANDLE evStop) : m_wakeUp(wakeUp), m_evStop(evStop) {}

CHttpClient::~CHttpClient()
{
    m_wakeUp.Attach(nullptr);
    Finish();
    if (m_pEasy)
        curl_easy_cleanup(m_pEasy);
    if (m_pMulti)
        curl_multi_cleanup(m_pMulti);
    curl_slist_free_all(m_pHeaders);
}

bool CHttpClient::Open(const CLimits& limits)
{
    static INIT_ONCE s_setUp = INIT_ONCE_STATIC_INIT;
    if (!InitOnceExecuteOnce(&s_setUp, SetUpCurl, nullptr, nullptr))
        return false;
    m_limits = limits;
    m_pMulti = curl_multi_init();
    m_pEasy = curl_easy_init();
    if (m_pMulti == nullptr || m_pEasy == nullptr)
        return false;
    CURL* p = m_pEasy;
    curl_easy_setopt(p, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(p, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(p, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(p, CURLOPT_USERAGENT, "DorsaViewerStandIn/1.0");
    // Redirects are the owner's to follow (only within the camera).
    curl_easy_setopt(p, CURLOPT_FOLLOWLOCATION, 0L);
    // A stream's connection is never reused: ending a request closes it.
    curl_easy_setopt(p, CURLOPT_FORBID_REUSE, 1L);
    // The target goes as it is: it is encoded already, and Digest signs it.
    curl_easy_setopt(p, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(p, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.m_nConnectMs));
    // A certificate's revocation is checked where the camera's issuer says how.
    curl_easy_setopt(p, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    curl_easy_setopt(p, CURLOPT_BUFFERSIZE, READ_CHUNK);
    curl_easy_setopt(p, CURLOPT_HEADERFUNCTION, &CHttpClient::OnHeader);
    curl_easy_setopt(p, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(p, CURLOPT_WRITEFUNCTION, &CHttpClient::OnBody);
    curl_easy_setopt(p, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(p, CURLOPT_PREREQFUNCTION, &CHttpClient::OnConnected);
    curl_easy_setopt(p, CURLOPT_PREREQDATA, this);
    m_wakeUp.Attach(m_pMulti);
    return true;
}

bool CHttpClient::Start(const CCameraUrl& url, const std::string& strAuthorization)
{
    Finish();
    m_answer = CAnswer();
    m_cbHeader = 0;
    m_bAnswerDue = m_bAnswered = m_bBody = m_bHeaderTooLong = m_bOutOfMemory = false;
    m_dwCertificateError = 0;
    m_bSecure = url.IsSecure();
    m_strHost = url.Host();
    m_result = CURLE_OK;
    m_onBody = nullptr;
    std::string strHost = standin::ToUtf8(url.Host());
    if (strHost.find(':') != std::string::npos && strHost[0] != '[')
        strHost = "[" + strHost + "]";
    const std::string strUrl = (url.IsSecure() ? "https://" : "http://") + strHost + ":" +
                               std::to_string(url.Port()) + standin::ToUtf8(url.Target());
    curl_slist_free_all(m_pHeaders);
    m_pHeaders = nullptr;
    if (!strAuthorization.empty()) {
        m_pHeaders = curl_slist_append(nullptr, ("Authorization: " + strAuthorization).c_str());
        if (m_pHeaders == nullptr)
            throw std::bad_alloc();
    }
    if (curl_easy_setopt(m_pEasy, CURLOPT_URL, strUrl.c_str()) != CURLE_OK ||
        curl_easy_setopt(m_pEasy, CURLOPT_HTTPHEADER, m_pHeaders) != CURLE_OK ||
        curl_multi_add_handle(m_pMulti, m_pEasy) != CURLM_OK)
        return false;
    m_bStarted = true;
    return true;
}

CHttpClient::Event CHttpClient::Wait(ULONGLONG nDeadline)
{
    for (;;) {
        if (WaitForSingleObject(m_evStop, 0) == WAIT_OBJECT_0)
            return EVENT_STOP;
        int nRunning = 0;
        const CURLMcode code = curl_multi_perform(m_pMulti, &nRunning);
        if (m_bOutOfMemory || code == CURLM_OUT_OF_MEMORY)
            throw std::bad_alloc();
        if (m_bAnswerDue) {
            m_bAnswerDue = false;
            return EVENT_ANSWER;
        }
        if (m_bBody) {
            m_bBody = false;
            return EVENT_BODY;
        }
        int nLeft = 0;
        while (CURLMsg* pMsg = curl_multi_info_read(m_pMulti, &nLeft)) {
            if (pMsg->msg == CURLMSG_DONE) {
                m_result = pMsg->data.result;
                if (m_result == CURLE_OUT_OF_MEMORY)
                    throw std::bad_alloc();
                return EVENT_END;
            }
        }
        const ULONGLONG nNow = GetTickCount64();
        if (nNow >= nDeadline)
            return EVENT_DEADLINE;
        const ULONGLONG nWait = nDeadline - nNow;
        curl_multi_poll(m_pMulti, nullptr, 0, nWait > INT_MAX ? INT_MAX : static_cast<int>(nWait), nullptr);
    }
}

void CHttpClient::ReadBody(const BodyHandler& onBody)
{
    m_onBody = onBody;
    // What came with the header block was held back until now.
    if (curl_easy_pause(m_pEasy, CURLPAUSE_CONT) == CURLE_OUT_OF_MEMORY)
        m_bOutOfMemory = true;
}

void CHttpClient::Finish()
{
    if (m_bStarted)
        curl_multi_remove_handle(m_pMulti, m_pEasy);
    m_bStarted = false;
}

// Called within curl's calls once connected (and the handshake done),
// before the request goes: a camera whose certificate is not trusted is
// sent nothing.
int CHttpClient::OnConnected(void* pv, char*, char*, int, int)
{
    CHttpClient& client = *static_cast<CHttpClient*>(pv);
    if (!client.m_bSecure)
        return CURL_PREREQFUNC_OK;
    curl_tlssessioninfo* pInfo = nullptr;
    if (curl_easy_getinfo(client.m_pEasy, CURLINFO_TLS_SSL_PTR, &pInfo) != CURLE_OK || pInfo == nullptr ||
        pInfo->backend != CURLSSLBACKEND_SCHANNEL || pInfo->internals == nullptr)
        client.m_dwCertificateError = static_cast<DWORD>(SEC_E_CERT_UNKNOWN);
    else
        client.m_dwCertificateError = CheckCameraCertificate(static_cast<CtxtHandle*>(pInfo->internals), client.m_strHost);
    return client.Untrusted() ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
}

// Called within curl's calls, once for each header line as it came.
size_t CHttpClient::OnHeader(char* pch, size_t, size_t nItems, void* pv)
{
    CHttpClient& client = *static_cast<CHttpClient*>(pv);
    client.m_cbHeader += nItems;
    if (client.m_cbHeader > client.m_limits.m_nMaxHeaderBytes) {
        client.m_bHeaderTooLong = true;
        return 0; // ends the request
    }
    try {
        client.TakeHeaderLine(std::string(pch, nItems));
    } catch (const std::bad_alloc&) {
        client.m_bOutOfMemory = true;
        return 0;
    }
    return nItems;
}

void CHttpClient::TakeHeaderLine(const std::string& strLine)
{
    if (m_bAnswered)
        return; // a trailer
    const std::string str = asciitext::Trim(strLine);
    if (StartsWith(str, "http/")) {
        // A new block (after an interim answer, such as 100).
        m_answer = CAnswer();
        const size_t nSpace = str.find(' ');
        if (nSpace != std::string::npos)
            m_answer.m_nStatus = strtol(str.c_str() + nSpace + 1, nullptr, 10);
        return;
    }
    if (str.empty()) {
        m_bAnswered = m_bAnswerDue = m_answer.m_nStatus >= 200;
        return;
    }
    const size_t nColon = str.find(':');
    if (nColon == std::string::npos)
        return;
    const std::string strName = asciitext::Lower(asciitext::Trim(str.substr(0, nColon)));
    const std::string strValue = asciitext::Trim(str.substr(nColon + 1));
    if (strName == "www-authenticate" && m_answer.m_challenges.size() < MAX_CHALLENGES)
        m_answer.m_challenges.push_back(strValue);
    else if (strName == "location")
        m_answer.m_strLocation = strValue;
    else if (strName == "content-type")
        m_answer.m_strContentType = strValue;
}

// Called within curl's calls with the body as it comes; held back (paused)
// until the owner takes it.
size_t CHttpClient::OnBody(char* pch, size_t, size_t nItems, void* pv)
{
    CHttpClient& client = *static_cast<CHttpClient*>(pv);
    if (!client.m_onBody)
        return CURL_WRITEFUNC_PAUSE;
    try {
        client.m_onBody(reinterpret_cast<const unsigned char*>(pch), nItems);
    } catch (const std::bad_alloc&) {
        client.m_bOutOfMemory = true;
        return 0;
    }
    client.m_bBody = true;
    return nItems;
}
