// Choosing the scheme and writing the Authorization value.
#include "signin.h"

#include "asciitext.h"
#include "httpauth.h"

#include <cstdio>

namespace {

using asciitext::Lower;
using asciitext::Trim;

// Whether a comma-separated list (qop="auth,auth-int") holds the word.
bool ListHolds(const std::string& strList, const char* pszWord)
{
    size_t nStart = 0;
    for (;;) {
        const size_t nEnd = strList.find(',', nStart);
        if (Lower(Trim(strList.substr(nStart, nEnd == std::string::npos ? nEnd : nEnd - nStart))) == pszWord)
            return true;
        if (nEnd == std::string::npos)
            return false;
        nStart = nEnd + 1;
    }
}

// The Digest algorithm of a challenge the stand-in can answer, by rank
// (SHA-256 above MD5); -1 when it can't answer it.
int DigestRank(const CAuthChallenge& challenge, httpauth::DigestAlgorithm* pAlgorithm)
{
    if (challenge.m_strScheme != "digest" || challenge.Param("nonce").empty())
        return -1;
    const std::string strQop = challenge.Param("qop");
    if (!strQop.empty() && !ListHolds(strQop, "auth"))
        return -1;
    const std::string strAlgorithm = Lower(challenge.Param("algorithm"));
    if (strAlgorithm == "sha-256") {
        *pAlgorithm = httpauth::DIGEST_SHA256;
        return 1;
    }
    if (strAlgorithm.empty() || strAlgorithm == "md5") {
        *pAlgorithm = httpauth::DIGEST_MD5;
        return 0;
    }
    return -1;
}

// The strongest challenge the stand-in may answer, or null. Basic only when
// every challenge is Basic.
const CAuthChallenge* Strongest(const std::vector<CAuthChallenge>& challenges)
{
    const CAuthChallenge* pBest = nullptr;
    int nBestRank = -1;
    bool bOnlyBasic = !challenges.empty();
    for (const CAuthChallenge& challenge : challenges) {
        httpauth::DigestAlgorithm algorithm;
        const int nRank = DigestRank(challenge, &algorithm);
        if (nRank > nBestRank) {
            nBestRank = nRank;
            pBest = &challenge;
        }
        bOnlyBasic = bOnlyBasic && challenge.m_strScheme == "basic";
    }
    if (pBest == nullptr && bOnlyBasic)
        pBest = &challenges.front();
    return pBest;
}

bool BeyondAscii(const std::string& str)
{
    for (char ch : str)
        if (static_cast<unsigned char>(ch) >= 0x80)
            return true;
    return false;
}

} // namespace

CSignIn::CSignIn(const std::string& strUser, const std::string& strPassword)
    : m_strUser(strUser), m_strPassword(strPassword)
{
}

void CSignIn::Restart()
{
    m_bAnswered = false;
    m_bStaleAnswered = false;
}

CSignIn::Result CSignIn::Answer(const std::vector<CAuthChallenge>& challenges, const std::string& strUri,
                                std::string* pstrAuthorization)
{
    if (m_strUser.empty())
        return NO_CREDENTIALS;
    const CAuthChallenge* pChallenge = Strongest(challenges);
    for (const CAuthChallenge& challenge : challenges)
        m_bDigestOffered = m_bDigestOffered || challenge.m_strScheme == "digest";
    if (pChallenge && pChallenge->m_strScheme == "basic" && m_bDigestOffered)
        pChallenge = nullptr;
    if (m_bAnswered) {
        // A refusal, unless only the nonce went stale: then once more.
        if (m_bStaleAnswered || pChallenge == nullptr || Lower(pChallenge->Param("stale")) != "true")
            return REFUSED;
        m_bStaleAnswered = true;
    }
    if (pChallenge == nullptr)
        return CANT_ANSWER;
    std::string strValue;
    if (pChallenge->m_strScheme == "basic") {
        strValue = httpauth::BasicAuthorization(m_strUser, m_strPassword);
    } else {
        // nc counts the requests sent with one nonce.
        const std::string strNonce = pChallenge->Param("nonce");
        m_nNc = strNonce == m_strLastNonce ? m_nNc + 1 : 1;
        m_strLastNonce = strNonce;
        char szNc[16];
        snprintf(szNc, sizeof szNc, "%08lx", m_nNc);
        std::string strCnonce;
        if (httpauth::NewCnonce(&strCnonce))
            strValue = DigestAuthorization(*pChallenge, m_strUser, m_strPassword, strUri, szNc, strCnonce);
    }
    if (strValue.empty())
        return CANT_ANSWER;
    m_bAnswered = true;
    *pstrAuthorization = strValue;
    return ANSWERED;
}

std::string DigestAuthorization(const CAuthChallenge& challenge, const std::string& strUser,
                                const std::string& strPassword, const std::string& strUri,
                                const std::string& strNc, const std::string& strCnonce)
{
    httpauth::CDigestInput input;
    if (DigestRank(challenge, &input.m_algorithm) < 0)
        return std::string();
    input.m_strUser = strUser;
    input.m_strRealm = challenge.Param("realm");
    input.m_strPassword = strPassword;
    input.m_strMethod = "GET";
    input.m_strUri = strUri;
    input.m_strNonce = challenge.Param("nonce");
    if (!challenge.Param("qop").empty()) {
        input.m_strQop = "auth";
        input.m_strNc = strNc;
        input.m_strCnonce = strCnonce;
    }
    const std::string strResponse = httpauth::DigestResponse(input);
    if (strResponse.empty())
        return std::string();
    // A user name beyond ASCII goes as UTF-8: in its extended form where the
    // camera says it reads UTF-8, else as the bytes themselves.
    std::string strValue = BeyondAscii(strUser) && Lower(challenge.Param("charset")) == "utf-8"
                               ? "Digest username*=" + httpauth::ExtendedValue(strUser)
                               : "Digest username=" + httpauth::QuotedString(strUser);
    strValue += ", realm=" + httpauth::QuotedString(input.m_strRealm) + ", uri=" + httpauth::QuotedString(strUri);
    if (!challenge.Param("algorithm").empty())
        strValue += input.m_algorithm == httpauth::DIGEST_SHA256 ? ", algorithm=SHA-256" : ", algorithm=MD5";
    strValue += ", nonce=" + httpauth::QuotedString(input.m_strNonce);
    if (!input.m_strQop.empty())
        strValue += ", nc=" + strNc + ", cnonce=" + httpauth::QuotedString(strCnonce) + ", qop=auth";
    strValue += ", response=" + httpauth::QuotedString(strResponse);
    const std::string strOpaque = challenge.Param("opaque");
    if (!strOpaque.empty())
        strValue += ", opaque=" + httpauth::QuotedString(strOpaque);
    return strValue;
}
