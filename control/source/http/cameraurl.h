// CCameraUrl: where a camera's stream is, cracked by the HTTP client's own
// URL parser: http or https, host, port, and the request line's target as
// it is sent (percent-encoded, without a fragment), which Digest signs too.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

class CCameraUrl
{
public:
    // False when strUrl is no http:// or https:// address with a host.
    static bool Parse(const std::wstring& strUrl, CCameraUrl* pUrl);

    bool IsSecure() const { return m_bSecure; }
    const std::wstring& Host() const { return m_strHost; }
    INTERNET_PORT Port() const { return m_nPort; }
    const std::wstring& Target() const { return m_strTarget; }

    // "host:port", nothing else of the address (no user, password or path).
    std::wstring ShownAddress() const { return m_strHost + L":" + std::to_wstring(m_nPort); }

    // Same scheme, host and port: the same camera, which may have the credentials.
    bool SameOrigin(const CCameraUrl& other) const;

    // Where a redirect's Location points, seen from this URL (absolute,
    // scheme-relative, absolute path or relative path); false when it names
    // nothing the stand-in could go to.
    bool Resolve(const std::wstring& strLocation, CCameraUrl* pTarget) const;

private:
    bool m_bSecure = false;
    std::wstring m_strHost;
    INTERNET_PORT m_nPort = 0;
    std::wstring m_strTarget;
};

// "host:port" of a URL, or "(no address)" when it has none.
std::wstring ShownAddressOf(const std::wstring& strUrl);
