// Small helpers for the ASCII texts of HTTP and of the plug-in file.
#pragma once

#include <string>

namespace asciitext {

inline std::string Lower(std::string str)
{
    for (char& ch : str)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return str;
}

// Without blanks and line ends at either end.
inline std::string Trim(const std::string& str)
{
    const char* pszBlank = " \t\r\n";
    size_t nStart = str.find_first_not_of(pszBlank);
    if (nStart == std::string::npos)
        return std::string();
    return str.substr(nStart, str.find_last_not_of(pszBlank) - nStart + 1);
}

} // namespace asciitext
