// A camera plug-in: a file in the plug-in directory, rtsp.plugin (RTSP
// cameras) or mjpeg-http.plugin (Motion JPEG over HTTP); where both are, the
// RTSP one is read. UTF-8 text, one key=value a line, a line starting with #
// is a comment; keys url (a template with {ip}, {port} and {channel}), user,
// password, silence (seconds without a byte before a camera counts as
// sending nothing) and, for RTSP, transport (auto, tcp or udp). Unknown keys
// are ignored.
#pragma once

#include <windows.h>

#include <string>

class CPluginFile
{
public:
    enum Kind { MJPEG_HTTP, RTSP };
    // How an RTSP camera's pictures travel: interleaved in the RTSP
    // connection (TCP), as RTP over UDP, or TCP unless the camera refuses it.
    enum Transport { TRANSPORT_AUTO, TRANSPORT_TCP, TRANSPORT_UDP };

    static const wchar_t s_szFileName[];     // mjpeg-http.plugin
    static const wchar_t s_szRtspFileName[]; // rtsp.plugin

    // Reads the plug-in of strFolder; not present when the folder has none.
    static CPluginFile Load(const std::wstring& strFolder);
    // Parses the file's text (UTF-8 bytes).
    static CPluginFile Parse(const std::string& strText, Kind kind = MJPEG_HTTP);

    bool IsPresent() const { return m_bPresent; }
    // What is wrong with the file, or empty when it can be used.
    const std::wstring& Problem() const { return m_strProblem; }
    // The URL template filled in from StartStream's arguments; address and
    // port as plain decimal numbers, whatever zeros they were typed with.
    std::wstring UrlFor(const std::wstring& strIP, const std::wstring& strPort,
                        const std::wstring& strChannel) const;
    const std::wstring& User() const { return m_strUser; }
    const std::wstring& Password() const { return m_strPassword; }
    // The silence limit the file sets, or 0 for the default.
    DWORD SilenceMs() const { return m_nSilenceMs; }
    Kind GetKind() const { return m_kind; }
    Transport GetTransport() const { return m_transport; }

private:
    static const wchar_t* FileName(Kind kind);

    bool m_bPresent = false;
    Kind m_kind = MJPEG_HTTP;
    Transport m_transport = TRANSPORT_AUTO;
    std::wstring m_strUrl;
    std::wstring m_strUser;
    std::wstring m_strPassword;
    DWORD m_nSilenceMs = 0;
    std::wstring m_strProblem;
};
