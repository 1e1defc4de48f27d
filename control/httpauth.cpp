// HTTP Basic and Digest authorization values.
#include "httpauth.h"

#include "asciitext.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

namespace httpauth {

using asciitext::Lower;

namespace {

// A fresh client nonce: 16 random bytes as hex.
std::string NewCnonce(HCRYPTPROV hProv)
{
    BYTE bytes[16] = {};
    if (!CryptGenRandom(hProv, sizeof bytes, bytes)) {
        const ULONGLONG nTick = GetTickCount64() ^ (static_cast<ULONGLONG>(GetCurrentThreadId()) << 32);
        memcpy(bytes, &nTick, sizeof nTick);
    }
    std::string str;
    char szHex[3];
    for (BYTE b : bytes) {
        snprintf(szHex, sizeof szHex, "%02x", b);
        str += szHex;
    }
    return str;
}

} // namespace

std::string Md5Hex(const std::string& str)
{
    std::string strHex;
    HCRYPTPROV hProv = 0;
    HCRYPTHASH hHash = 0;
    if (CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        BYTE digest[16];
        DWORD cbDigest = sizeof digest;
        if (CryptCreateHash(hProv, CALG_MD5, 0, 0, &hHash) &&
            CryptHashData(hHash, reinterpret_cast<const BYTE*>(str.data()), static_cast<DWORD>(str.size()), 0) &&
            CryptGetHashParam(hHash, HP_HASHVAL, digest, &cbDigest, 0)) {
            char szHex[3];
            for (DWORD n = 0; n < cbDigest; ++n) {
                snprintf(szHex, sizeof szHex, "%02x", digest[n]);
                strHex += szHex;
            }
        }
        if (hHash)
            CryptDestroyHash(hHash);
        CryptReleaseContext(hProv, 0);
    }
    return strHex;
}

std::string ChallengeParam(const std::string& strChallenge, const char* pszName)
{
    const std::string strLower = Lower(strChallenge);
    const std::string strName = Lower(pszName);
    size_t nPos = 0;
    while ((nPos = strLower.find(strName, nPos)) != std::string::npos) {
        // A whole name: at the start, or after a blank or a comma.
        const bool bStarts = nPos == 0 || strLower[nPos - 1] == ' ' || strLower[nPos - 1] == ',' ||
                             strLower[nPos - 1] == '\t';
        size_t nValue = nPos + strName.size();
        while (nValue < strLower.size() && strLower[nValue] == ' ')
            ++nValue;
        if (!bStarts || nValue >= strLower.size() || strLower[nValue] != '=') {
            nPos += strName.size();
            continue;
        }
        ++nValue;
        while (nValue < strChallenge.size() && strChallenge[nValue] == ' ')
            ++nValue;
        std::string strValue;
        if (nValue < strChallenge.size() && strChallenge[nValue] == '"') {
            for (size_t n = nValue + 1; n < strChallenge.size() && strChallenge[n] != '"'; ++n) {
                if (strChallenge[n] == '\\' && n + 1 < strChallenge.size())
                    ++n;
                strValue += strChallenge[n];
            }
        } else {
            size_t nEnd = strChallenge.find(',', nValue);
            strValue = strChallenge.substr(nValue, nEnd == std::string::npos ? std::string::npos : nEnd - nValue);
            while (!strValue.empty() && (strValue.back() == ' ' || strValue.back() == '\t'))
                strValue.pop_back();
        }
        return strValue;
    }
    return std::string();
}

std::string DigestResponse(const std::string& strUser, const std::string& strRealm,
                           const std::string& strPassword, const std::string& strMethod,
                           const std::string& strUri, const std::string& strNonce,
                           const std::string& strNc, const std::string& strCnonce,
                           const std::string& strQop)
{
    const std::string strHa1 = Md5Hex(strUser + ":" + strRealm + ":" + strPassword);
    const std::string strHa2 = Md5Hex(strMethod + ":" + strUri);
    if (strQop.empty())
        return Md5Hex(strHa1 + ":" + strNonce + ":" + strHa2);
    return Md5Hex(strHa1 + ":" + strNonce + ":" + strNc + ":" + strCnonce + ":" + strQop + ":" + strHa2);
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

std::string DigestAuthorization(const std::string& strChallenge, const std::string& strUser,
                                const std::string& strPassword, const std::string& strMethod,
                                const std::string& strUri)
{
    const std::string strRealm = ChallengeParam(strChallenge, "realm");
    const std::string strNonce = ChallengeParam(strChallenge, "nonce");
    const std::string strOpaque = ChallengeParam(strChallenge, "opaque");
    const std::string strAlgorithm = ChallengeParam(strChallenge, "algorithm");
    const std::string strQops = Lower(ChallengeParam(strChallenge, "qop"));
    if (strNonce.empty() || (!strAlgorithm.empty() && Lower(strAlgorithm) != "md5"))
        return std::string();
    // "auth" when offered among the qop values; none when no qop is asked.
    std::string strQop;
    if (!strQops.empty()) {
        size_t nPos = strQops.find("auth");
        while (nPos != std::string::npos && nPos + 4 < strQops.size() && strQops[nPos + 4] == '-')
            nPos = strQops.find("auth", nPos + 4);
        if (nPos == std::string::npos)
            return std::string();
        strQop = "auth";
    }
    std::string strCnonce;
    HCRYPTPROV hProv = 0;
    if (CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        strCnonce = NewCnonce(hProv);
        CryptReleaseContext(hProv, 0);
    } else {
        strCnonce = NewCnonce(0);
    }
    const std::string strNc = "00000001";
    const std::string strResponse = DigestResponse(strUser, strRealm, strPassword, strMethod, strUri, strNonce,
                                                   strNc, strCnonce, strQop);
    std::string strValue = "Digest username=\"" + strUser + "\", realm=\"" + strRealm + "\", nonce=\"" +
                           strNonce + "\", uri=\"" + strUri + "\", response=\"" + strResponse + "\"";
    if (!strQop.empty())
        strValue += ", qop=" + strQop + ", nc=" + strNc + ", cnonce=\"" + strCnonce + "\"";
    if (!strOpaque.empty())
        strValue += ", opaque=\"" + strOpaque + "\"";
    if (!strAlgorithm.empty())
        strValue += ", algorithm=" + strAlgorithm;
    return strValue;
}

} // namespace httpauth
