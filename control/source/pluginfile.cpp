// Reading a camera plug-in file.
#include "pluginfile.h"

#include "asciitext.h"
#include "standinswitches.h"

#include <windows.h>

const wchar_t CPluginFile::s_szFileName[] = L"mjpeg-http.plugin";
const wchar_t CPluginFile::s_szRtspFileName[] = L"rtsp.plugin";

namespace {

using asciitext::Trim;
using standin::FromUtf8;

// A plug-in is a few lines; anything bigger is not one.
const DWORD MAX_FILE_BYTES = 64 * 1024;
const DWORD MAX_SILENCE_SECONDS = 600;

void ReplaceAll(std::wstring& str, const std::wstring& strWhat, const std::wstring& strWith)
{
    for (size_t nPos = str.find(strWhat); nPos != std::wstring::npos;
         nPos = str.find(strWhat, nPos + strWith.size()))
        str.replace(nPos, strWhat.size(), strWith);
}

// Each run of digits as the plain decimal number it is: a camera address
// "010.001.001.001" is 10.1.1.1 (never the octal 8.1.1.1), a port "0080" is 80.
std::wstring PlainDecimals(const std::wstring& str)
{
    std::wstring strPlain;
    bool bLeading = true; // at the start of a run of digits, zeros so far
    for (size_t n = 0; n < str.size(); ++n) {
        const bool bDigit = str[n] >= L'0' && str[n] <= L'9';
        const bool bDigitNext = n + 1 < str.size() && str[n + 1] >= L'0' && str[n + 1] <= L'9';
        if (bDigit && bLeading && str[n] == L'0' && bDigitNext)
            continue;
        strPlain += str[n];
        bLeading = !bDigit;
    }
    return strPlain;
}

// Whole seconds from 1 to MAX_SILENCE_SECONDS, as milliseconds.
bool ReadSeconds(const std::wstring& str, DWORD* pnMs)
{
    DWORD nSeconds = 0;
    for (wchar_t ch : str) {
        if (ch < L'0' || ch > L'9' || nSeconds > MAX_SILENCE_SECONDS)
            return false;
        nSeconds = nSeconds * 10 + static_cast<DWORD>(ch - L'0');
    }
    if (nSeconds < 1 || nSeconds > MAX_SILENCE_SECONDS)
        return false;
    *pnMs = nSeconds * 1000;
    return true;
}

bool ReadTransport(const std::wstring& str, CPluginFile::Transport* pTransport)
{
    if (str == L"auto")
        *pTransport = CPluginFile::TRANSPORT_AUTO;
    else if (str == L"tcp")
        *pTransport = CPluginFile::TRANSPORT_TCP;
    else if (str == L"udp")
        *pTransport = CPluginFile::TRANSPORT_UDP;
    else
        return false;
    return true;
}

} // namespace

const wchar_t* CPluginFile::FileName(Kind kind)
{
    return kind == RTSP ? s_szRtspFileName : s_szFileName;
}

CPluginFile CPluginFile::Load(const std::wstring& strFolder)
{
    std::wstring strFolderPath = strFolder;
    if (!strFolderPath.empty() && strFolderPath.back() != L'\\' && strFolderPath.back() != L'/')
        strFolderPath += L'\\';
    // The RTSP plug-in wins: a camera offers its best stream over RTSP.
    Kind kind = RTSP;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    for (Kind candidate : { RTSP, MJPEG_HTTP }) {
        kind = candidate;
        hFile = CreateFileW((strFolderPath + FileName(kind)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile != INVALID_HANDLE_VALUE)
            break;
    }
    if (hFile == INVALID_HANDLE_VALUE)
        return CPluginFile();
    std::string strText;
    char buffer[4096];
    DWORD cbRead = 0;
    bool bTooBig = false;
    while (ReadFile(hFile, buffer, sizeof buffer, &cbRead, nullptr) && cbRead > 0) {
        strText.append(buffer, cbRead);
        if (strText.size() > MAX_FILE_BYTES) {
            bTooBig = true;
            break;
        }
    }
    CloseHandle(hFile);
    if (bTooBig) {
        CPluginFile plugin;
        plugin.m_bPresent = true;
        plugin.m_kind = kind;
        plugin.m_strProblem = std::wstring(L"The plug-in file ") + FileName(kind) + L" is too big to be one.";
        return plugin;
    }
    return Parse(strText, kind);
}

CPluginFile CPluginFile::Parse(const std::string& strText, Kind kind)
{
    CPluginFile plugin;
    plugin.m_bPresent = true;
    plugin.m_kind = kind;
    bool bSilenceRead = true;
    bool bTransportRead = true;
    size_t nStart = strText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        const std::string strLine = Trim(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
        // Only whole lines are comments: a password may hold a #.
        size_t nEqual = strLine.find('=');
        if (strLine.empty() || strLine[0] == '#' || nEqual == std::string::npos)
            continue;
        const std::string strKey = Trim(strLine.substr(0, nEqual));
        const std::wstring strValue = FromUtf8(Trim(strLine.substr(nEqual + 1)));
        if (strKey == "url")
            plugin.m_strUrl = strValue;
        else if (strKey == "user")
            plugin.m_strUser = strValue;
        else if (strKey == "password")
            plugin.m_strPassword = strValue;
        else if (strKey == "silence")
            bSilenceRead = ReadSeconds(strValue, &plugin.m_nSilenceMs);
        else if (strKey == "transport" && kind == RTSP)
            bTransportRead = ReadTransport(strValue, &plugin.m_transport);
    }
    const std::wstring strFile = std::wstring(L"The plug-in file ") + FileName(kind);
    if (plugin.m_strUrl.empty())
        plugin.m_strProblem = strFile + L" has no url= line.";
    else if (!bSilenceRead)
        plugin.m_strProblem = strFile + L"'s silence= is not a number of seconds from 1 to " +
                              std::to_wstring(MAX_SILENCE_SECONDS) + L".";
    else if (!bTransportRead)
        plugin.m_strProblem = strFile + L"'s transport= is not auto, tcp or udp.";
    return plugin;
}

std::wstring CPluginFile::UrlFor(const std::wstring& strIP, const std::wstring& strPort,
                                 const std::wstring& strChannel) const
{
    std::wstring strUrl = m_strUrl;
    ReplaceAll(strUrl, L"{ip}", PlainDecimals(strIP));
    ReplaceAll(strUrl, L"{port}", PlainDecimals(strPort));
    ReplaceAll(strUrl, L"{channel}", strChannel);
    return strUrl;
}
