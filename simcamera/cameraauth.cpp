// The simulated camera's sign-in.
#include "cameraauth.h"

#include <bcrypt.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Bytes beyond ASCII (Latin-1), as some cameras send: a client must hash
// them as they came.
const char s_szRealm[] = "SimCamera caf\xE9";
const char s_szOpaque[] = "5ccc069c403ebaf9";
const size_t MAX_NONCES = 256;

std::string LowerText(std::string str)
{
    for (char& ch : str)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch + ('a' - 'A'));
    return str;
}

std::string Hash(const wchar_t* pszAlgorithm, const std::string& str)
{
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    std::string strHex;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&hAlgorithm, pszAlgorithm, nullptr, 0)))
        return strHex;
    BYTE digest[64];
    DWORD cbDigest = 0, cb = 0;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    BCryptGetProperty(hAlgorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&cbDigest), sizeof cbDigest, &cb, 0);
    if (cbDigest <= sizeof digest && BCRYPT_SUCCESS(BCryptCreateHash(hAlgorithm, &hHash, nullptr, 0, nullptr, 0, 0))) {
        if (BCRYPT_SUCCESS(BCryptHashData(hHash, reinterpret_cast<PUCHAR>(const_cast<char*>(str.data())),
                                          static_cast<ULONG>(str.size()), 0)) &&
            BCRYPT_SUCCESS(BCryptFinishHash(hHash, digest, cbDigest, 0))) {
            char szByte[3];
            for (DWORD n = 0; n < cbDigest; ++n) {
                snprintf(szByte, sizeof szByte, "%02x", digest[n]);
                strHex += szByte;
            }
        }
        BCryptDestroyHash(hHash);
    }
    BCryptCloseAlgorithmProvider(hAlgorithm, 0);
    return strHex;
}

// The parameters of "name=value, name="quoted \" value", ..." by name (lower case).
std::map<std::string, std::string> Params(const std::string& str)
{
    std::map<std::string, std::string> params;
    size_t nPos = 0;
    while (nPos < str.size()) {
        while (nPos < str.size() && (str[nPos] == ' ' || str[nPos] == ','))
            ++nPos;
        const size_t nEqual = str.find('=', nPos);
        if (nEqual == std::string::npos)
            break;
        std::string strName = LowerText(str.substr(nPos, nEqual - nPos));
        while (!strName.empty() && strName.back() == ' ')
            strName.pop_back();
        std::string strValue;
        nPos = nEqual + 1;
        while (nPos < str.size() && str[nPos] == ' ')
            ++nPos;
        if (nPos < str.size() && str[nPos] == '"') {
            for (++nPos; nPos < str.size() && str[nPos] != '"'; ++nPos) {
                if (str[nPos] == '\\' && nPos + 1 < str.size())
                    ++nPos;
                strValue += str[nPos];
            }
            ++nPos;
        } else {
            const size_t nEnd = str.find(',', nPos);
            strValue = str.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
            while (!strValue.empty() && strValue.back() == ' ')
                strValue.pop_back();
            nPos = nEnd == std::string::npos ? str.size() : nEnd;
        }
        params[strName] = strValue;
    }
    return params;
}

// UTF-8''J%C3%A4s%C3%B8n -> the UTF-8 bytes; empty when it is not that form.
std::string FromExtendedValue(const std::string& str)
{
    if (LowerText(str.substr(0, 7)) != "utf-8''")
        return std::string();
    std::string strBytes;
    for (size_t n = 7; n < str.size(); ++n) {
        if (str[n] == '%' && n + 2 < str.size()) {
            strBytes += static_cast<char>(strtoul(str.substr(n + 1, 2).c_str(), nullptr, 16));
            n += 2;
        } else {
            strBytes += str[n];
        }
    }
    return strBytes;
}

} // namespace

bool CCameraAuth::Check(const std::string& strAuthorization, const std::string& strUri, bool* pbStale)
{
    *pbStale = false;
    if (!Asks())
        return true;
    const size_t nSpace = strAuthorization.find(' ');
    const std::string strScheme = LowerText(strAuthorization.substr(0, nSpace));
    const std::string strRest = nSpace == std::string::npos ? std::string() : strAuthorization.substr(nSpace + 1);
    if (strScheme == "basic" && (m_settings.m_nSchemes & SCHEME_BASIC)) {
        BYTE decoded[1024];
        DWORD cbDecoded = sizeof decoded;
        if (!CryptStringToBinaryA(strRest.c_str(), static_cast<DWORD>(strRest.size()), CRYPT_STRING_BASE64, decoded,
                                  &cbDecoded, nullptr, nullptr) ||
            std::string(reinterpret_cast<char*>(decoded), cbDecoded) !=
                m_settings.m_strUser + ":" + m_settings.m_strPassword)
            return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strLastScheme = "Basic";
        return true;
    }
    return strScheme == "digest" && CheckDigest(strRest, strUri, pbStale);
}

bool CCameraAuth::CheckDigest(const std::string& strParams, const std::string& strUri, bool* pbStale)
{
    std::map<std::string, std::string> params = Params(strParams);
    const std::string strAlgorithm = LowerText(params["algorithm"]);
    const bool bSha256 = strAlgorithm == "sha-256";
    // The first form of Digest: no qop, so no nc or cnonce either.
    const bool bFirstForm = (m_settings.m_nSchemes & SCHEME_DIGEST_RFC2069) != 0;
    if (bSha256 ? !(m_settings.m_nSchemes & SCHEME_DIGEST_SHA256)
                : !(m_settings.m_nSchemes & (SCHEME_DIGEST_MD5 | SCHEME_DIGEST_RFC2069)) ||
                      !(strAlgorithm.empty() || strAlgorithm == "md5"))
        return false;
    const std::string strUser = params.count("username*") ? FromExtendedValue(params["username*"]) : params["username"];
    if (strUser != m_settings.m_strUser || params["realm"] != s_szRealm || params["opaque"] != s_szOpaque ||
        params["uri"] != strUri)
        return false;
    if (bFirstForm ? params.count("qop") || params.count("nc") : params["qop"] != "auth" || params["nc"].size() != 8)
        return false;
    const wchar_t* pszHash = bSha256 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM;
    const std::string strHa1 = Hash(pszHash, strUser + ":" + s_szRealm + ":" + m_settings.m_strPassword);
    const std::string strHa2 = Hash(pszHash, "GET:" + strUri);
    const std::string strExpected =
        bFirstForm ? Hash(pszHash, strHa1 + ":" + params["nonce"] + ":" + strHa2)
                   : Hash(pszHash, strHa1 + ":" + params["nonce"] + ":" + params["nc"] + ":" + params["cnonce"] +
                                       ":auth:" + strHa2);
    if (strHa1.empty() || LowerText(params["response"]) != strExpected)
        return false;

    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_nonces.find(params["nonce"]);
    if (it == m_nonces.end())
        return false; // never handed out, or long forgotten
    if (it->second.m_bStaleOnUse || GetTickCount64() - it->second.m_nIssued > m_settings.m_nNonceLifeMs) {
        m_nonces.erase(it);
        *pbStale = true;
        return false;
    }
    if (bFirstForm) {
        m_strLastScheme = "Digest without qop";
        return true;
    }
    // nc counts the client's requests with this nonce: a repeat is a replay.
    const unsigned long nNc = strtoul(params["nc"].c_str(), nullptr, 16);
    if (nNc <= it->second.m_nLastNc)
        return false;
    it->second.m_nLastNc = nNc;
    m_strLastScheme = bSha256 ? "Digest SHA-256" : "Digest MD5";
    return true;
}

std::string CCameraAuth::NewNonce(bool bStaleOnUse)
{
    BYTE bytes[16] = {};
    BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    char szNonce[40] = "";
    for (size_t n = 0; n < sizeof bytes; ++n)
        snprintf(szNonce + 2 * n, 3, "%02x", bytes[n]);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nonces.size() >= MAX_NONCES) {
        auto itOldest = m_nonces.begin();
        for (auto it = m_nonces.begin(); it != m_nonces.end(); ++it)
            if (it->second.m_nIssued < itOldest->second.m_nIssued)
                itOldest = it;
        m_nonces.erase(itOldest);
    }
    CNonce& nonce = m_nonces[szNonce];
    nonce.m_nIssued = GetTickCount64();
    nonce.m_bStaleOnUse = bStaleOnUse;
    return szNonce;
}

std::string CCameraAuth::Challenges(bool bStale)
{
    std::string strLines;
    if (m_settings.m_nSchemes & SCHEME_BASIC)
        strLines += std::string("WWW-Authenticate: Basic realm=\"") + s_szRealm + "\"\r\n";
    std::string strDigest;
    if (m_settings.m_nSchemes & SCHEME_DIGEST_RFC2069) {
        strLines += std::string("WWW-Authenticate: Digest realm=\"") + s_szRealm + "\", nonce=\"" +
                    NewNonce(m_settings.m_bStaleFirst && !bStale) + "\", opaque=\"" + s_szOpaque + "\"" +
                    (bStale ? ", stale=true" : "") + "\r\n";
    } else if (m_settings.m_nSchemes & (SCHEME_DIGEST_MD5 | SCHEME_DIGEST_SHA256)) {
        // One nonce for both algorithms; both challenges in one header.
        const std::string strNonce = NewNonce(m_settings.m_bStaleFirst && !bStale);
        const std::string strCommon = std::string("realm=\"") + s_szRealm + "\", qop=\"auth\", nonce=\"" + strNonce +
                                      "\", opaque=\"" + s_szOpaque + "\"" + (bStale ? ", stale=true" : "");
        if (m_settings.m_nSchemes & SCHEME_DIGEST_MD5)
            strDigest += "Digest " + strCommon + ", algorithm=MD5";
        if (m_settings.m_nSchemes & SCHEME_DIGEST_SHA256)
            strDigest += (strDigest.empty() ? "Digest " : ", Digest ") + strCommon + ", algorithm=SHA-256";
        strLines += "WWW-Authenticate: " + strDigest + "\r\n";
    }
    return strLines;
}

std::string CCameraAuth::LastScheme() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strLastScheme;
}
