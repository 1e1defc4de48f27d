// An RTSP camera's address.
#include "rtspaddress.h"

#include "standinswitches.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstring>

namespace {

// Every byte but the unreserved ones as %XX: FFmpeg decodes them again
// before it signs in, and a ':' or '@' in a password must not end it.
std::string PercentEncoded(const std::string& str)
{
    static const char s_szHex[] = "0123456789ABCDEF";
    std::string strEncoded;
    for (unsigned char ch : str) {
        if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' ||
            ch == '.' || ch == '_' || ch == '~') {
            strEncoded += static_cast<char>(ch);
        } else {
            strEncoded += '%';
            strEncoded += s_szHex[ch >> 4];
            strEncoded += s_szHex[ch & 15];
        }
    }
    return strEncoded;
}

} // namespace

bool CRtspAddress::Parse(const std::string& strUrl, CRtspAddress* pAddress)
{
    char szProto[16] = "";
    char szHost[256] = "";
    int nPort = -1;
    av_url_split(szProto, sizeof szProto, nullptr, 0, szHost, sizeof szHost, &nPort, nullptr, 0, strUrl.c_str());
    if (std::strcmp(szProto, "rtsp") != 0 || szHost[0] == '\0' || strUrl.compare(0, 7, "rtsp://") != 0)
        return false;
    pAddress->m_strUrl = strUrl;
    pAddress->m_strHost = szHost;
    pAddress->m_nPort = nPort > 0 ? nPort : DEFAULT_PORT;
    return true;
}

std::wstring CRtspAddress::ShownAddress() const
{
    const std::wstring strHost = standin::FromUtf8(m_strHost);
    const bool bIPv6 = m_strHost.find(':') != std::string::npos;
    return (bIPv6 ? L"[" + strHost + L"]" : strHost) + L":" + std::to_wstring(m_nPort);
}

bool CRtspAddress::SameOrigin(const CRtspAddress& other) const
{
    return m_nPort == other.m_nPort && _stricmp(m_strHost.c_str(), other.m_strHost.c_str()) == 0;
}

std::string CRtspAddress::WithCredentials(const std::string& strUser, const std::string& strPassword) const
{
    const size_t nAuthority = std::strlen("rtsp://");
    const size_t nAuthorityEnd = std::min(m_strUrl.find_first_of("/?#", nAuthority), m_strUrl.size());
    const size_t nAt = m_strUrl.rfind('@', nAuthorityEnd);
    const size_t nHost = nAt != std::string::npos && nAt >= nAuthority ? nAt + 1 : nAuthority;
    const std::string strCredentials =
        strUser.empty() ? std::string() : PercentEncoded(strUser) + ":" + PercentEncoded(strPassword) + "@";
    return "rtsp://" + strCredentials + m_strUrl.substr(nHost);
}

std::wstring ShownRtspAddressOf(const std::wstring& strUrl)
{
    CRtspAddress address;
    return CRtspAddress::Parse(standin::ToUtf8(strUrl.c_str()), &address) ? address.ShownAddress() : L"(no address)";
}
