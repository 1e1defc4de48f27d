// HTTP Basic and Digest authorization values, worked out here and not by the
// HTTP client: not every platform's client offers Digest, and none offers
// it with SHA-256. Texts are bytes: user names and passwords in UTF-8.
#pragma once

#include <string>

namespace httpauth {

enum DigestAlgorithm
{
    DIGEST_MD5,
    DIGEST_SHA256,
};

// The hash of the bytes as lower-case hex digits; empty if the platform
// could not work it out.
std::string HashHex(DigestAlgorithm algorithm, const std::string& str);

// What a Digest answer is worked out from.
struct CDigestInput
{
    DigestAlgorithm m_algorithm = DIGEST_MD5;
    std::string m_strUser;
    std::string m_strRealm;
    std::string m_strPassword;
    std::string m_strMethod;
    std::string m_strUri; // the request line's target, exactly as sent
    std::string m_strNonce;
    std::string m_strNc;     // 8 hex digits; unused without qop
    std::string m_strCnonce; // unused without qop
    std::string m_strQop;    // "auth", or empty for none
};

// The Digest "response" value.
std::string DigestResponse(const CDigestInput& input);

// A fresh client nonce from the platform's cryptographic random generator;
// false when it gave none.
bool NewCnonce(std::string* pstrCnonce);

// str as a quoted string: backslash and double quote escaped, line breaks
// dropped (they would end the header).
std::string QuotedString(const std::string& str);

// The RFC 5987 form of a UTF-8 text: UTF-8'' and the bytes, percent-encoded
// where they are not plain letters, digits or a few marks.
std::string ExtendedValue(const std::string& str);

// "Basic <base64 of user:password>".
std::string BasicAuthorization(const std::string& strUser, const std::string& strPassword);

} // namespace httpauth
