// Test switches of the stand-in control and its call journal.
#include "standinswitches.h"

#include <cwchar>

namespace standin {

std::wstring SwitchValue(const wchar_t* pszName)
{
    DWORD cch = GetEnvironmentVariableW(pszName, nullptr, 0);
    if (cch == 0)
        return std::wstring();
    std::wstring str(cch, L'\0');
    cch = GetEnvironmentVariableW(pszName, &str[0], cch);
    str.resize(cch);
    return str;
}

bool SwitchIsOn(const wchar_t* pszName)
{
    return SwitchValue(pszName) == L"1";
}

UINT SwitchNumber(const wchar_t* pszName, UINT nDefault)
{
    const std::wstring str = SwitchValue(pszName);
    if (str.empty() || str.size() > 9)
        return nDefault;
    UINT n = 0;
    for (wchar_t ch : str) {
        if (ch < L'0' || ch > L'9')
            return nDefault;
        n = n * 10 + (ch - L'0');
    }
    return n > 0 ? n : nDefault;
}

std::string ToUtf8(const wchar_t* psz, int nChars)
{
    if (psz == nullptr || nChars == 0)
        return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, psz, nChars, nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return std::string();
    std::string str(cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, psz, nChars, &str[0], cb, nullptr, nullptr);
    if (nChars < 0 && !str.empty() && str.back() == '\0')
        str.pop_back();
    return str;
}

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

void Journal(const std::string& strLine)
{
    const std::wstring strPath = SwitchValue(L"DORSA_STANDIN_JOURNAL");
    if (strPath.empty())
        return;
    // A reader may hold the file open; retry briefly rather than lose a line.
    HANDLE hFile = INVALID_HANDLE_VALUE;
    for (int nTry = 0; nTry < 20 && hFile == INVALID_HANDLE_VALUE; ++nTry) {
        hFile = CreateFileW(strPath.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
            Sleep(5);
        else
            break;
    }
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    const std::string strData = strLine + "\n";
    DWORD cbWritten = 0;
    WriteFile(hFile, strData.data(), static_cast<DWORD>(strData.size()), &cbWritten, nullptr);
    CloseHandle(hFile);
}

} // namespace standin
