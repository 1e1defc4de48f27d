// Reading mjpeg-http.plugin.
#include "pluginfile.h"

#include "asciitext.h"

#include <windows.h>

const wchar_t CPluginFile::s_szFileName[] = L"mjpeg-http.plugin";

namespace {

using asciitext::Trim;

// A plug-in is a few lines; anything bigger is not one.
const DWORD MAX_FILE_BYTES = 64 * 1024;
const DWORD MAX_SILENCE_SECONDS = 600;

std::wstring FromUtf8(const std::string& str)
{
    if (str.empty())
        return std::wstring();
    int cch = MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), nullptr, 0);
    if (cch <= 0)
        return std::wstring();
    std::wstring strWide(cch, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), &strWide[0], cch);
    return strWide;
}

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

} // namespace

CPluginFile CPluginFile::Load(const std::wstring& strFolder)
{
    std::wstring strPath = strFolder;
    if (!strPath.empty() && strPath.back() != L'\\' && strPath.back() != L'/')
        strPath += L'\\';
    strPath += s_szFileName;
    HANDLE hFile = CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
        plugin.m_strProblem = L"The plug-in file mjpeg-http.plugin is too big to be one.";
        return plugin;
    }
    return Parse(strText);
}

CPluginFile CPluginFile::Parse(const std::string& strText)
{
    CPluginFile plugin;
    plugin.m_bPresent = true;
    bool bSilenceRead = true;
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
    }
    if (plugin.m_strUrl.empty())
        plugin.m_strProblem = L"The plug-in file mjpeg-http.plugin has no url= line.";
    else if (!bSilenceRead)
        plugin.m_strProblem = L"The plug-in file mjpeg-http.plugin's silence= is not a number of seconds from 1 to " +
                              std::to_wstring(MAX_SILENCE_SECONDS) + L".";
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
