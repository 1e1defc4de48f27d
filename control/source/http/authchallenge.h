// The challenges of a camera's WWW-Authenticate headers. One header may hold
// several challenges, and a camera may send several headers; parameter
// values may be tokens or quoted strings with backslash escapes.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct CAuthChallenge
{
    std::string m_strScheme; // lower case: "basic", "digest", ...
    std::vector<std::pair<std::string, std::string>> m_params; // names lower case, values unquoted

    // The value of a parameter (name in lower case); empty when absent.
    std::string Param(const char* pszName) const;
};

// Appends the challenges of one header value to pChallenges.
void ParseChallenges(const std::string& strHeader, std::vector<CAuthChallenge>* pChallenges);
