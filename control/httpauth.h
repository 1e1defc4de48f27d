// Authorization headers for a camera that asks for HTTP Basic or Digest
// credentials. Digest is worked out here, not by the HTTP client: not every
// platform's client offers it.
#pragma once

#include <string>

namespace httpauth {

// MD5 of the bytes, as 32 lower-case hex digits.
std::string Md5Hex(const std::string& str);

// The value of one parameter (realm, nonce, ...) of a challenge such as
// Digest realm="x", nonce="y"; empty when absent.
std::string ChallengeParam(const std::string& strChallenge, const char* pszName);

// The Digest response for qop "auth" (or none when strQop is empty).
std::string DigestResponse(const std::string& strUser, const std::string& strRealm,
                           const std::string& strPassword, const std::string& strMethod,
                           const std::string& strUri, const std::string& strNonce,
                           const std::string& strNc, const std::string& strCnonce,
                           const std::string& strQop);

// "Basic <base64 of user:password>".
std::string BasicAuthorization(const std::string& strUser, const std::string& strPassword);

// The Authorization value answering a Digest challenge; empty when the
// challenge asks for something not offered (another algorithm, no nonce).
std::string DigestAuthorization(const std::string& strChallenge, const std::string& strUser,
                                const std::string& strPassword, const std::string& strMethod,
                                const std::string& strUri);

} // namespace httpauth
