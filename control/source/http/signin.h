// CSignIn: the credentials of one camera and how they are answered to its
// challenges. The strongest scheme offered wins: Digest with SHA-256, then
// Digest with MD5 (qop "auth" or none), and Basic, which shows the password
// to anyone listening, only when the camera offers nothing else, and never
// to a camera that offered Digest before (an answer offering only Basic
// after that may come from someone in between). A camera that says its
// nonce went stale is answered once more with the new one.
// Owned and used by one thread.
#pragma once

#include "authchallenge.h"

#include <string>
#include <vector>

class CSignIn
{
public:
    enum Result
    {
        ANSWERED,       // *pstrAuthorization holds the answer to send
        NO_CREDENTIALS, // the plug-in names no user
        CANT_ANSWER,    // no scheme offered that the stand-in may answer
        REFUSED,        // answered already, and not for a stale nonce
    };

    // User and password as UTF-8.
    CSignIn(const std::string& strUser, const std::string& strPassword);

    // Starts a new request chain: nothing answered yet (what the camera
    // offered before is remembered).
    void Restart();

    // Answers the challenges of a 401 answer to a GET of strUri (the request
    // line's target as sent).
    Result Answer(const std::vector<CAuthChallenge>& challenges, const std::string& strUri,
                  std::string* pstrAuthorization);

private:

    const std::string m_strUser;
    const std::string m_strPassword;
    bool m_bAnswered = false;
    bool m_bStaleAnswered = false;
    bool m_bDigestOffered = false; // ever, by this camera
    std::string m_strLastNonce; // nc counts the requests sent with this nonce
    unsigned long m_nNc = 0;
};

// The Authorization value answering a Digest challenge with qop "auth" (nc
// and cnonce given) or none; empty when it can't be answered.
std::string DigestAuthorization(const CAuthChallenge& challenge, const std::string& strUser,
                                const std::string& strPassword, const std::string& strUri,
                                const std::string& strNc, const std::string& strCnonce);
