// HTTP Basic and Digest authorization values.
#include "httpauth.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <vector>

namespace httpauth {

namespace {

const char s_szHex[] = "0123456789abcdef";

std::string Hex(const BYTE* pb, size_t cb)
{
    std::string str;
    for (size_t n = 0; n < cb; ++n) {
        str += s_szHex[pb[n] >> 4];
        str += s_szHex[pb[n] & 0x0F];
    }
    return str;
}

} // namespace

std::string HashHex(DigestAlgorithm algorithm, const std::string& str)
{
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(
            &hAlgorithm, algorithm == DIGEST_SHA256 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM, nullptr, 0)))
        return std::string();
    std::string strHex;
    DWORD cbHash = 0, cbResult = 0;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (BCRYPT_SUCCESS(BCryptGetProperty(hAlgorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&cbHash),
                                         sizeof cbHash, &cbResult, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(hAlgorithm, &hHash, nullptr, 0, nullptr, 0, 0))) {
        std::vector<BYTE> digest(cbHash);
        if (BCRYPT_SUCCESS(BCryptHashData(hHash, reinterpret_cast<PUCHAR>(const_cast<char*>(str.data())),
                                          static_cast<ULONG>(str.size()), 0)) &&
            BCRYPT_SUCCESS(BCryptFinishHash(hHash, digest.data(), cbHash, 0)))
            strHex = Hex(digest.data(), digest.size());
        BCryptDestroyHash(hHash);
    }
    BCryptCloseAlgorithmProvider(hAlgorithm, 0);
    return strHex;
}

std::string DigestResponse(const CDigestInput& in)
{
    const std::string strHa1 = HashHex(in.m_algorithm, in.m_strUser + ":" + in.m_strRealm + ":" + in.m_strPassword);
    const std::string strHa2 = HashHex(in.m_algorithm, in.m_strMethod + ":" + in.m_strUri);
    if (strHa1.empty() || strHa2.empty())
        return std::string();
    if (in.m_strQop.empty())
        return HashHex(in.m_algorithm, strHa1 + ":" + in.m_strNonce + ":" + strHa2);
    return HashHex(in.m_algorithm, strHa1 + ":" + in.m_strNonce + ":" + in.m_strNc + ":" + in.m_strCnonce + ":" +
                                       in.m_strQop + ":" + strHa2);
}

bool NewCnonce(std::string* pstrCnonce)
{
    BYTE bytes[16];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return false;
    *pstrCnonce = Hex(bytes, sizeof bytes);
    return true;
}

std::string QuotedString(const std::string& str)
{
    std::string strQuoted = "\"";
    for (char ch : str) {
        if (ch == '\r' || ch == '\n')
            continue;
        if (ch == '"' || ch == '\\')
            strQuoted += '\\';
        strQuoted += ch;
    }
    return strQuoted + "\"";
}

std::string ExtendedValue(const std::string& str)
{
    std::string strValue = "UTF-8''";
    for (char ch : str) {
        const unsigned char b = static_cast<unsigned char>(ch);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            (b != 0 && std::string("!#$&+-.^_`|~").find(ch) != std::string::npos)) {
            strValue += ch;
        } else {
            strValue += '%';
            strValue += "0123456789ABCDEF"[b >> 4];
            strValue += "0123456789ABCDEF"[b & 0x0F];
        }
    }
    return strValue;
}

std::string BasicAuthorization(const std::string& strUser, const std::string& strPassword)
{
    const std::string strPair = strUser + ":" + strPassword;
    DWORD cch = 0;
    CryptBinaryToStringA(reinterpret_cast<const BYTE*>(strPair.data()), static_cast<DWORD>(strPair.size()),
                         CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr, &cch);
    std::string strBase64(cch, '\0');
    if (cch == 0 || !CryptBinaryToStringA(reinterpret_cast<const BYTE*>(strPair.data()),
                                          static_cast<DWORD>(strPair.size()),
                                          CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, &strBase64[0], &cch))
        return std::string();
    strBase64.resize(cch);
    return "Basic " + strBase64;
}

} // namespace httpauth
