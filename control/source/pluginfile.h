// The MJPEG-over-HTTP plug-in: a file mjpeg-http.plugin in the plug-in
// directory. UTF-8 text, one key=value a line, a line starting with # is a
// comment; keys url (a template with {ip}, {port} and {channel}), user,
// password and silence (seconds without a byte before a camera counts as
// sending nothing). Unknown keys are ignored.
#pragma once

#include <windows.h>

#include <string>

class CPluginFile
{
public:
    static const wchar_t s_szFileName[];

    // Reads the plug-in of strFolder; not present when the folder has none.
    static CPluginFile Load(const std::wstring& strFolder);
    // Parses the file's text (UTF-8 bytes).
    static CPluginFile Parse(const std::string& strText);

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

private:
    bool m_bPresent = false;
    std::wstring m_strUrl;
    std::wstring m_strUser;
    std::wstring m_strPassword;
    DWORD m_nSilenceMs = 0;
    std::wstring m_strProblem;
};
