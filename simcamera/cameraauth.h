// CCameraAuth: the simulated camera's sign-in, written apart from the
// viewer control's so that a mistake in one is not agreed with by the other.
// It offers Basic, Digest MD5 and Digest SHA-256 (any of them, in one
// answer), or Digest in its first form (no qop, no algorithm, no nc), hands out a fresh nonce with every challenge, lets nonces expire
// (stale=true), and refuses an nc that does not count up. Thread-safe: every
// connection's thread asks it.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

class CCameraAuth
{
public:
    enum Scheme
    {
        SCHEME_BASIC = 1,
        SCHEME_DIGEST_MD5 = 2,
        SCHEME_DIGEST_SHA256 = 4,
        SCHEME_DIGEST_RFC2069 = 8, // MD5 without qop and without algorithm: the first Digest's form, no nc
    };

    struct CSettings
    {
        std::string m_strUser; // empty: no sign-in asked
        std::string m_strPassword;
        UINT m_nSchemes = SCHEME_BASIC;
        DWORD m_nNonceLifeMs = 30000;
        bool m_bStaleFirst = false; // each first nonce is stale when used
    };

    explicit CCameraAuth(const CSettings& settings) : m_settings(settings) {}

    bool Asks() const { return !m_settings.m_strUser.empty(); }

    // Whether the Authorization value (empty when none came) signs in to a
    // GET of strUri; *pbStale is set when only the nonce had expired.
    bool Check(const std::string& strAuthorization, const std::string& strUri, bool* pbStale);

    // The WWW-Authenticate header lines of a 401 answer, each ending in CR LF.
    std::string Challenges(bool bStale);

    // The scheme of the last successful sign-in: "Basic", "Digest MD5",
    // "Digest SHA-256", "Digest without qop".
    std::string LastScheme() const;

private:
    struct CNonce
    {
        ULONGLONG m_nIssued = 0;
        unsigned long m_nLastNc = 0;
        bool m_bStaleOnUse = false;
    };

    bool CheckDigest(const std::string& strParams, const std::string& strUri, bool* pbStale);
    std::string NewNonce(bool bStaleOnUse);

    const CSettings m_settings;
    mutable std::mutex m_mutex; // guards everything below
    std::map<std::string, CNonce> m_nonces;
    std::string m_strLastScheme;
};
