// The reading thread: connect, sign in, follow, read, split; say why not.
#include "streamsession.h"

#include "cameraurl.h"
#include "mjpegstream.h"
#include "multipartparser.h"
#include "retrypause.h"
#include "standinswitches.h"
#include "streamhandover.h"

#include <algorithm>

namespace {

const DWORD CONNECT_WAIT_MS = 3000;
const int MAX_REDIRECTS = 3;
const DWORD MAX_HEADER_BYTES = 64 * 1024;
const DWORD MAX_CHALLENGE_HEADERS = 16;
// Some HTTP clients report a read that timed out as the socket's own error.
const DWORD ERROR_SOCKET_TIMED_OUT = 10060;

bool IsRedirect(DWORD dwStatus)
{
    return dwStatus == 301 || dwStatus == 302 || dwStatus == 303 || dwStatus == 307 || dwStatus == 308;
}

} // namespace

CStreamSession::CStreamSession(const CSettings& settings, CStreamHandOver& handOver, HANDLE evStop)
    : m_settings(settings), m_handOver(handOver), m_evStop(evStop), m_words(ShownAddressOf(settings.m_strUrl)),
      m_signIn(settings.m_strUser, settings.m_strPassword)
{
}

void CStreamSession::Run()
{
    CHttpClient::CLimits limits;
    limits.m_nConnectMs = std::min(CONNECT_WAIT_MS, m_settings.m_nSilenceMs);
    limits.m_nAnswerMs = ANSWER_WAIT_MS;
    limits.m_nSilenceMs = m_settings.m_nSilenceMs;
    limits.m_nMaxHeaderBytes = MAX_HEADER_BYTES;
    if (!m_client.Open(limits)) {
        m_handOver.SetStatus(m_words.NoHttpClient());
        WaitForSingleObject(m_evStop, INFINITE);
        return;
    }
    CRetryPause pause(m_handOver, m_words);
    // On the way, the client's closed handles take their next steps.
    const CRetryPause::Wait wait = [this](ULONGLONG nDeadline) { return WaitFor(nullptr, nDeadline, nullptr) != WAKE_STOP; };
    for (;;) {
        pause.BeforeAttempt();
        std::wstring strFailure;
        if (Attempt(&strFailure) == STOPPED || !pause.After(strFailure, wait))
            break;
    }
    m_client.CloseAll();
    WaitForClosings();
}

// Waits for a notice of hRequest, the stop or the deadline, whichever comes
// first; on the way, the client's closed handles take their next steps.
CStreamSession::Wake CStreamSession::WaitFor(HINTERNET hRequest, ULONGLONG nDeadline, CHttpClient::CNotice* pNotice)
{
    const HANDLE handles[2] = { m_evStop, m_client.NoticeEvent() };
    for (;;) {
        if (WaitForSingleObject(m_evStop, 0) == WAIT_OBJECT_0)
            return WAKE_STOP;
        CHttpClient::CNotice notice;
        while (m_client.TakeNotice(&notice)) {
            if (pNotice && notice.m_hRequest == hRequest) {
                *pNotice = notice;
                return WAKE_NOTICE;
            }
        }
        const ULONGLONG nNow = GetTickCount64();
        m_client.TakeSteps(nNow);
        if (nNow >= nDeadline)
            return WAKE_DEADLINE;
        const ULONGLONG nStep = m_client.NextStepDue();
        const ULONGLONG nWake = nStep != 0 && nStep < nDeadline ? nStep : nDeadline;
        WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(nWake > nNow ? nWake - nNow : 0));
    }
}

// The next notice of hRequest; false at the stop (STOPPED), or at the
// deadline (FAILED, strLate said).
bool CStreamSession::NextNotice(HINTERNET hRequest, ULONGLONG nDeadline, const std::wstring& strLate,
                                CHttpClient::CNotice* pNotice, Outcome* pOutcome, std::wstring* pstrFailure)
{
    switch (WaitFor(hRequest, nDeadline, pNotice)) {
    case WAKE_STOP:
        *pOutcome = STOPPED;
        return false;
    case WAKE_DEADLINE:
        *pOutcome = FAILED;
        *pstrFailure = strLate;
        return false;
    default:
        return true;
    }
}

// After the stop: until the client has let go of every handle.
void CStreamSession::WaitForClosings()
{
    CHttpClient::CNotice notice;
    for (;;) {
        while (m_client.TakeNotice(&notice)) {
        }
        if (m_client.AllClosed())
            return;
        const ULONGLONG nNow = GetTickCount64();
        m_client.TakeSteps(nNow);
        const ULONGLONG nStep = m_client.NextStepDue();
        WaitForSingleObject(m_client.NoticeEvent(),
                            nStep == 0 ? INFINITE : static_cast<DWORD>(nStep > nNow ? nStep - nNow : 0));
    }
}

// One connection attempt: requests until the stream is read, or a failure.
CStreamSession::Outcome CStreamSession::Attempt(std::wstring* pstrFailure)
{
    CCameraUrl url;
    if (!CCameraUrl::Parse(m_settings.m_strUrl, &url)) {
        *pstrFailure = m_words.NotAnAddress(L"http://");
        return FAILED;
    }
    const CCameraUrl origin = url;
    HINTERNET hConnect = m_client.Connect(url);
    if (hConnect == nullptr) {
        *pstrFailure = FailureOf(GetLastError(), false);
        return FAILED;
    }
    m_signIn.Restart();
    std::string strAuthorization;
    Outcome outcome = ANSWERED;
    for (int nRedirects = 0; outcome == ANSWERED;) {
        HINTERNET hRequest = m_client.OpenRequest(hConnect, url);
        if (hRequest == nullptr) {
            *pstrFailure = FailureOf(GetLastError(), false);
            outcome = FAILED;
            break;
        }
        m_handOver.CountConnection();
        outcome = Ask(hRequest, strAuthorization, pstrFailure);
        if (outcome == ANSWERED)
            outcome = Answer(hRequest, origin, &url, &nRedirects, &strAuthorization, pstrFailure);
        m_client.Close(hRequest);
    }
    m_client.Close(hConnect);
    return outcome;
}

// Sends the request and waits for the answer's header lines.
CStreamSession::Outcome CStreamSession::Ask(HINTERNET hRequest, const std::string& strAuthorization,
                                            std::wstring* pstrFailure)
{
    if (!m_client.Send(hRequest, strAuthorization)) {
        *pstrFailure = FailureOf(GetLastError(), false);
        return FAILED;
    }
    const ULONGLONG nDeadline = GetTickCount64() + ANSWER_WAIT_MS;
    for (;;) {
        CHttpClient::CNotice notice;
        Outcome outcome;
        if (!NextNotice(hRequest, nDeadline, m_words.DoesNotAnswer(), &notice, &outcome, pstrFailure))
            return outcome;
        switch (notice.m_dwStatus) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            if (!m_client.ReceiveResponse(hRequest)) {
                *pstrFailure = FailureOf(GetLastError(), false);
                return FAILED;
            }
            break;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            return ANSWERED;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            *pstrFailure = FailureOf(notice.m_dwValue, false);
            return FAILED;
        }
    }
}

// What the answer asks for: credentials or another place within the camera
// (ANSWERED: ask again), or the stream itself, read to its end.
CStreamSession::Outcome CStreamSession::Answer(HINTERNET hRequest, const CCameraUrl& origin, CCameraUrl* pUrl,
                                               int* pnRedirects, std::string* pstrAuthorization,
                                               std::wstring* pstrFailure)
{
    const DWORD dwStatus = CHttpClient::StatusCode(hRequest);
    if (dwStatus == 401) {
        std::vector<CAuthChallenge> challenges;
        std::wstring strChallenge;
        for (DWORD n = 0; n < MAX_CHALLENGE_HEADERS &&
                          CHttpClient::Header(hRequest, WINHTTP_QUERY_WWW_AUTHENTICATE, n, &strChallenge);
             ++n)
            ParseChallenges(standin::ToUtf8(strChallenge), &challenges);
        switch (m_signIn.Answer(challenges, standin::ToUtf8(pUrl->Target()), pstrAuthorization)) {
        case CSignIn::ANSWERED:
            return ANSWERED;
        case CSignIn::NO_CREDENTIALS:
            *pstrFailure = m_words.NoCredentials();
            break;
        case CSignIn::CANT_ANSWER:
            *pstrFailure = m_words.CantSignIn();
            break;
        case CSignIn::REFUSED:
            *pstrFailure = m_words.Refused();
            break;
        }
        return FAILED;
    }
    if (IsRedirect(dwStatus)) {
        // Followed only within the camera, where the credentials may go.
        std::wstring strLocation;
        CCameraUrl next;
        if (!CHttpClient::Header(hRequest, WINHTTP_QUERY_LOCATION, 0, &strLocation) ||
            !pUrl->Resolve(strLocation, &next)) {
            *pstrFailure = m_words.HttpStatus(dwStatus);
        } else if (!next.SameOrigin(origin)) {
            *pstrFailure = m_words.SendsElsewhere(dwStatus, next.ShownAddress());
        } else if (++*pnRedirects > MAX_REDIRECTS) {
            *pstrFailure = m_words.RedirectsOnAndOn(dwStatus);
        } else {
            *pUrl = next;
            m_signIn.Restart();
            pstrAuthorization->clear();
            return ANSWERED;
        }
        return FAILED;
    }
    std::wstring strType;
    std::string strBoundary;
    if (dwStatus == 404) {
        *pstrFailure = m_words.NoSuchStream();
    } else if (dwStatus != 200) {
        *pstrFailure = m_words.HttpStatus(dwStatus);
    } else if (!CHttpClient::Header(hRequest, WINHTTP_QUERY_CONTENT_TYPE, 0, &strType) ||
               !CMultipartParser::BoundaryOf(standin::ToUtf8(strType), &strBoundary)) {
        *pstrFailure = m_words.NotMotionJpeg(strType);
    } else {
        return ReadStream(hRequest, strBoundary, pstrFailure);
    }
    return FAILED;
}

// Reads the stream and hands over its parts until it ends, goes silent, or
// the stop.
CStreamSession::Outcome CStreamSession::ReadStream(HINTERNET hRequest, const std::string& strBoundary,
                                                   std::wstring* pstrFailure)
{
    CMultipartParser parser(strBoundary);
    const CMultipartParser::PartHandler onPart = [&](std::vector<unsigned char>& body) { m_handOver.OfferPart(body); };
    // Parts skipped since the last one delivered: said at once while none
    // came through, as the decoder says pictures that don't decode.
    size_t nLost = 0, nDelivered = 0;
    ULONGLONG nLastByte = GetTickCount64();
    bool bGoesOn = m_client.QueryDataAvailable(hRequest);
    while (bGoesOn) {
        CHttpClient::CNotice notice;
        Outcome outcome;
        if (!NextNotice(hRequest, nLastByte + m_settings.m_nSilenceMs, m_words.SendsNothing(), &notice, &outcome,
                        pstrFailure))
            return outcome;
        switch (notice.m_dwStatus) {
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            bGoesOn = notice.m_dwValue > 0 && m_client.Read(hRequest, notice.m_dwValue);
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            bGoesOn = notice.m_dwValue > 0;
            if (bGoesOn) {
                nLastByte = GetTickCount64();
                parser.Feed(m_client.ReadBuffer(hRequest), notice.m_dwValue, onPart);
                SayLostParts(parser, &nLost, &nDelivered);
                bGoesOn = m_client.QueryDataAvailable(hRequest);
            }
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            *pstrFailure = FailureOf(notice.m_dwValue, true);
            return FAILED;
        }
    }
    *pstrFailure = m_words.CutOff();
    return FAILED;
}

// Parts the parser skipped or found broken are said on the picture when
// none came through since the connection began, or a few in a row.
void CStreamSession::SayLostParts(const CMultipartParser& parser, size_t* pnLost, size_t* pnDelivered)
{
    const size_t nLost = parser.PartsSkipped() + parser.PartsMalformed();
    const bool bNoneYet = parser.PartsDelivered() == 0;
    if (parser.PartsDelivered() != *pnDelivered) {
        *pnDelivered = parser.PartsDelivered();
        *pnLost = nLost;
    } else if (nLost > *pnLost && (bNoneYet || nLost - *pnLost >= CMjpegStream::UNDECODABLE_IN_A_ROW)) {
        *pnLost = nLost;
        m_handOver.SetStatus(m_words.PartsSkipped());
    }
}

std::wstring CStreamSession::FailureOf(DWORD dwError, bool bAnswered) const
{
    switch (dwError) {
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_SOCKET_TIMED_OUT:
        return bAnswered ? m_words.SendsNothing() : m_words.DoesNotAnswer();
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return m_words.CantBeReached();
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return m_words.NameNotFound();
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return bAnswered ? m_words.CutOff() : m_words.NotHttp();
    default:
        return bAnswered ? m_words.CutOff() : m_words.ClosedTheConnection(dwError);
    }
}
