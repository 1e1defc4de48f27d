// Reading mjpeg-http.plugin.
#include "pluginfile.h"

#include "asciitext.h"

#include <windows.h>

const wchar_t CPluginFile::s_szFileName[] = L"mjpeg-http.plugin";

namespace {

using asciitext::Trim;

// A plug-in is a few lines; anything bigger is not one.
const DWORD MAX_FILE_BYTES = 64 * 1024;

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
    }
    if (plugin.m_strUrl.empty())
        plugin.m_strProblem = L"The plug-in file mjpeg-http.plugin has no url= line.";
    return plugin;
}

std::wstring CPluginFile::UrlFor(const std::wstring& strIP, const std::wstring& strPort,
                                 const std::wstring& strChannel) const
{
    std::wstring strUrl = m_strUrl;
    ReplaceAll(strUrl, L"{ip}", strIP);
    ReplaceAll(strUrl, L"{port}", strPort);
    ReplaceAll(strUrl, L"{channel}", strChannel);
    return strUrl;
}
