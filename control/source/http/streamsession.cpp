// The reading thread: connect, sign in, follow, read, split; say why not.
#include <winsock2.h> // before windows.h: libcurl's header includes it

#include "streamsession.h"

#include "cameraurl.h"
#include "mjpegstream.h"
#include "multipartparser.h"
#include "retrypause.h"
#include "standinswitches.h"
#include "streamhandover.h"

#include <curl/curl.h>

#include <algorithm>

namespace {

const DWORD CONNECT_WAIT_MS = 3000;
const int MAX_REDIRECTS = 3;
const size_t MAX_HEADER_BYTES = 64 * 1024;

bool IsRedirect(long nStatus)
{
    return nStatus == 301 || nStatus == 302 || nStatus == 303 || nStatus == 307 || nStatus == 308;
}

} // namespace

CStreamSession::CStreamSession(const CCameraStream::CTarget& target, CStreamHandOver& handOver, HANDLE evStop,
                               CMultiWakeUp& wakeUp)
    : m_target(target), m_handOver(handOver), m_evStop(evStop), m_words(ShownAddressOf(target.m_strUrl)),
      m_client(wakeUp, evStop), m_signIn(standin::ToUtf8(target.m_strUser), standin::ToUtf8(target.m_strPassword))
{
}

void CStreamSession::Run()
{
    CHttpClient::CLimits limits;
    limits.m_nConnectMs = std::min(CONNECT_WAIT_MS, m_target.SilenceMs());
    limits.m_nMaxHeaderBytes = MAX_HEADER_BYTES;
    if (!m_client.Open(limits)) {
        m_handOver.SetStatus(m_words.NoHttpClient());
        WaitForSingleObject(m_evStop, INFINITE);
        return;
    }
    CRetryPause(m_handOver, m_words, m_evStop)
        .Run([this](std::wstring* pstrFailure) { return Attempt(pstrFailure) != STOPPED; });
}

// One connection attempt: requests until the stream is read, or a failure.
CStreamSession::Outcome CStreamSession::Attempt(std::wstring* pstrFailure)
{
    CCameraUrl url;
    if (!CCameraUrl::Parse(m_target.m_strUrl, &url)) {
        *pstrFailure = m_words.NotAnAddress(L"http://");
        return FAILED;
    }
    const CCameraUrl origin = url;
    m_signIn.Restart();
    std::string strAuthorization;
    Outcome outcome = ANSWERED;
    for (int nRedirects = 0; outcome == ANSWERED;) {
        m_handOver.CountConnection();
        outcome = Ask(url, strAuthorization, pstrFailure);
        if (outcome == ANSWERED)
            outcome = Answer(origin, &url, &nRedirects, &strAuthorization, pstrFailure);
        m_client.Finish();
    }
    return outcome;
}

// Sends the request and waits for the answer's header lines.
CStreamSession::Outcome CStreamSession::Ask(const CCameraUrl& url, const std::string& strAuthorization,
                                            std::wstring* pstrFailure)
{
    if (!m_client.Start(url, strAuthorization)) {
        *pstrFailure = m_words.NotAnAddress(L"http://");
        return FAILED;
    }
    const ULONGLONG nDeadline = GetTickCount64() + ANSWER_WAIT_MS;
    switch (m_client.Wait(nDeadline)) {
    case CHttpClient::EVENT_STOP:
        return STOPPED;
    case CHttpClient::EVENT_ANSWER:
        return ANSWERED;
    case CHttpClient::EVENT_END:
        *pstrFailure = FailureOf(m_client.Result(), false);
        return FAILED;
    default:
        *pstrFailure = m_words.DoesNotAnswer();
        return FAILED;
    }
}

// What the answer asks for: credentials or another place within the camera
// (ANSWERED: ask again), or the stream itself, read to its end.
CStreamSession::Outcome CStreamSession::Answer(const CCameraUrl& origin, CCameraUrl* pUrl, int* pnRedirects,
                                               std::string* pstrAuthorization, std::wstring* pstrFailure)
{
    const CHttpClient::CAnswer& answer = m_client.Answer();
    const DWORD dwStatus = static_cast<DWORD>(answer.m_nStatus);
    if (dwStatus == 401) {
        std::vector<CAuthChallenge> challenges;
        // The camera's bytes as they came: a realm beyond ASCII is hashed as sent.
        for (const std::string& strChallenge : answer.m_challenges)
            ParseChallenges(strChallenge, &challenges);
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
        CCameraUrl next;
        if (answer.m_strLocation.empty() || !pUrl->Resolve(standin::FromUtf8(answer.m_strLocation), &next)) {
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
    std::string strBoundary;
    if (dwStatus == 404) {
        *pstrFailure = m_words.NoSuchStream();
    } else if (dwStatus != 200) {
        *pstrFailure = m_words.HttpStatus(dwStatus);
    } else if (!CMultipartParser::BoundaryOf(answer.m_strContentType, &strBoundary)) {
        *pstrFailure = m_words.NotMotionJpeg(standin::FromUtf8(answer.m_strContentType));
    } else {
        return ReadStream(strBoundary, pstrFailure);
    }
    return FAILED;
}

// Reads the stream and hands over its parts until it ends, goes silent, or
// the stop.
CStreamSession::Outcome CStreamSession::ReadStream(const std::string& strBoundary, std::wstring* pstrFailure)
{
    CMultipartParser parser(strBoundary);
    const CMultipartParser::PartHandler onPart = [&](std::vector<unsigned char>& body) { m_handOver.OfferPart(body); };
    // Parts skipped since the last one delivered: said at once while none
    // came through, as the decoder says pictures that don't decode.
    size_t nLost = 0, nDelivered = 0;
    m_client.ReadBody([&](const unsigned char* pb, size_t cb) {
        parser.Feed(pb, cb, onPart);
        SayLostParts(parser, &nLost, &nDelivered);
    });
    ULONGLONG nLastByte = GetTickCount64();
    for (;;) {
        switch (m_client.Wait(nLastByte + m_target.SilenceMs())) {
        case CHttpClient::EVENT_STOP:
            return STOPPED;
        case CHttpClient::EVENT_BODY:
            nLastByte = GetTickCount64();
            break;
        case CHttpClient::EVENT_END:
            *pstrFailure = FailureOf(m_client.Result(), true);
            return FAILED;
        default:
            *pstrFailure = m_words.SendsNothing();
            return FAILED;
        }
    }
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

std::wstring CStreamSession::FailureOf(int nCurlCode, bool bAnswered) const
{
    if (m_client.HeaderTooLong())
        return m_words.NotHttp();
    if (m_client.Untrusted() || nCurlCode == CURLE_PEER_FAILED_VERIFICATION)
        return m_words.UntrustedCertificate(m_client.CertificateError());
    switch (nCurlCode) {
    case CURLE_OPERATION_TIMEDOUT:
        return bAnswered ? m_words.SendsNothing() : m_words.DoesNotAnswer();
    case CURLE_COULDNT_CONNECT:
        return m_words.CantBeReached();
    case CURLE_COULDNT_RESOLVE_HOST:
        return m_words.NameNotFound();
    case CURLE_OK: // the camera ended the stream
    case CURLE_PARTIAL_FILE:
        return m_words.CutOff();
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return bAnswered ? m_words.CutOff() : m_words.NotHttp();
    default:
        return bAnswered ? m_words.CutOff() : m_words.ClosedTheConnection(static_cast<DWORD>(nCurlCode));
    }
}
