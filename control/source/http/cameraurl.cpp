// A camera's stream address.
#include "cameraurl.h"

#include "standinswitches.h"

#include <cctype>

namespace {

// The target as sent: UTF-8, with every byte the request line can't carry
// as it is percent-encoded (a "%" already followed by two hex digits stays).
std::wstring EncodedTarget(const std::wstring& strTarget)
{
    const std::string strBytes = standin::ToUtf8(strTarget);
    std::wstring strEncoded;
    for (size_t n = 0; n < strBytes.size(); ++n) {
        const unsigned char b = static_cast<unsigned char>(strBytes[n]);
        const bool bEscaped = b == '%' && n + 2 < strBytes.size() && isxdigit(static_cast<unsigned char>(strBytes[n + 1])) &&
                              isxdigit(static_cast<unsigned char>(strBytes[n + 2]));
        if (b <= ' ' || b >= 0x7F || (b == '%' && !bEscaped) || std::string("\"<>\\^`{|}").find(static_cast<char>(b)) !=
                                                                        std::string::npos) {
            strEncoded += L'%';
            strEncoded += L"0123456789ABCDEF"[b >> 4];
            strEncoded += L"0123456789ABCDEF"[b & 0x0F];
        } else {
            strEncoded += static_cast<wchar_t>(b);
        }
    }
    return strEncoded.empty() || strEncoded[0] != L'/' ? L"/" + strEncoded : strEncoded;
}

} // namespace

bool CCameraUrl::Parse(const std::wstring& strUrl, CCameraUrl* pUrl)
{
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (strUrl.empty() || !WinHttpCrackUrl(strUrl.c_str(), static_cast<DWORD>(strUrl.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
        parts.lpszHostName == nullptr || parts.dwHostNameLength == 0)
        return false;
    pUrl->m_bSecure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    pUrl->m_strHost.assign(parts.lpszHostName, parts.dwHostNameLength);
    pUrl->m_nPort = parts.nPort;
    std::wstring strTarget(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.lpszUrlPath ? parts.dwUrlPathLength : 0);
    strTarget.append(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.lpszExtraInfo ? parts.dwExtraInfoLength : 0);
    pUrl->m_strTarget = EncodedTarget(strTarget.substr(0, strTarget.find(L'#')));
    return true;
}

bool CCameraUrl::SameOrigin(const CCameraUrl& other) const
{
    return m_bSecure == other.m_bSecure && m_nPort == other.m_nPort &&
           CompareStringOrdinal(m_strHost.c_str(), -1, other.m_strHost.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool CCameraUrl::Resolve(const std::wstring& strLocation, CCameraUrl* pTarget) const
{
    if (strLocation.empty())
        return false;
    const std::wstring strOrigin = std::wstring(m_bSecure ? L"https://" : L"http://") + m_strHost + L":" +
                                   std::to_wstring(m_nPort);
    if (strLocation.compare(0, 2, L"//") == 0)
        return Parse((m_bSecure ? L"https:" : L"http:") + strLocation, pTarget);
    if (strLocation[0] == L'/')
        return Parse(strOrigin + strLocation, pTarget);
    if (strLocation.find(L"://") != std::wstring::npos)
        return Parse(strLocation, pTarget);
    // A relative path replaces the last segment of this one.
    const std::wstring strPath = m_strTarget.substr(0, m_strTarget.find(L'?'));
    return Parse(strOrigin + strPath.substr(0, strPath.rfind(L'/') + 1) + strLocation, pTarget);
}

std::wstring ShownAddressOf(const std::wstring& strUrl)
{
    CCameraUrl url;
    return CCameraUrl::Parse(strUrl, &url) ? url.ShownAddress() : L"(no address)";
}
