// CRtspAddress: an RTSP camera's address as FFmpeg's own URL splitter reads
// it (host, and port 554 when none is given), and the address FFmpeg is
// given, with the plug-in's credentials percent-encoded into it.
#pragma once

#include <string>

class CRtspAddress
{
public:
    static const int DEFAULT_PORT = 554;

    // False when strUrl (UTF-8) is no rtsp:// address with a host.
    static bool Parse(const std::string& strUrl, CRtspAddress* pAddress);

    const std::string& Host() const { return m_strHost; }
    int Port() const { return m_nPort; }
    // "host:port", nothing else of the address (no user, password or path).
    std::wstring ShownAddress() const;
    // The same host and port: the same camera, which may have the credentials.
    bool SameOrigin(const CRtspAddress& other) const;

    // The address with the user and password in it, replacing any it had;
    // the address without any when strUser is empty.
    std::string WithCredentials(const std::string& strUser, const std::string& strPassword) const;

private:
    std::string m_strUrl;
    std::string m_strHost;
    int m_nPort = DEFAULT_PORT;
};

// "host:port" of an RTSP address, or "(no address)" when it has none.
std::wstring ShownRtspAddressOf(const std::wstring& strUrl);
