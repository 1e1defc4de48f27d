// Parsing WWW-Authenticate: challenge = scheme [ token68 / #auth-param ],
// challenges separated by commas like the parameters themselves: a token
// not followed by "=" starts the next challenge.
#include "authchallenge.h"

#include "asciitext.h"

namespace {

using asciitext::Lower;

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

bool IsTokenChar(char ch)
{
    return ch > ' ' && ch != 0x7F && ch != ',' && ch != '=' && ch != '"' && ch != ';';
}

class CReader
{
public:
    explicit CReader(const std::string& str) : m_str(str) {}

    bool AtEnd() const { return m_nPos >= m_str.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_str[m_nPos]; }
    void Skip() { ++m_nPos; }
    void SkipBlanks()
    {
        while (!AtEnd() && IsBlank(m_str[m_nPos]))
            ++m_nPos;
    }
    void SkipBlanksAndCommas()
    {
        while (!AtEnd() && (IsBlank(m_str[m_nPos]) || m_str[m_nPos] == ','))
            ++m_nPos;
    }
    std::string Token()
    {
        const size_t nStart = m_nPos;
        while (!AtEnd() && IsTokenChar(m_str[m_nPos]))
            ++m_nPos;
        return m_str.substr(nStart, m_nPos - nStart);
    }
    // A quoted string without its quotes, escapes undone; stops at the end
    // of the text when the quote never closes.
    std::string Quoted()
    {
        std::string str;
        for (Skip(); !AtEnd() && m_str[m_nPos] != '"'; ++m_nPos) {
            if (m_str[m_nPos] == '\\' && m_nPos + 1 < m_str.size())
                ++m_nPos;
            str += m_str[m_nPos];
        }
        if (!AtEnd())
            Skip();
        return str;
    }
    size_t Position() const { return m_nPos; }
    void Rewind(size_t nPos) { m_nPos = nPos; }

private:
    const std::string& m_str;
    size_t m_nPos = 0;
};

} // namespace

std::string CAuthChallenge::Param(const char* pszName) const
{
    for (const auto& param : m_params)
        if (param.first == pszName)
            return param.second;
    return std::string();
}

void ParseChallenges(const std::string& strHeader, std::vector<CAuthChallenge>* pChallenges)
{
    CReader reader(strHeader);
    CAuthChallenge* pChallenge = nullptr;
    for (;;) {
        reader.SkipBlanksAndCommas();
        if (reader.AtEnd())
            return;
        const std::string strToken = reader.Token();
        if (strToken.empty()) {
            reader.Skip(); // a stray character: nothing to make of it
            continue;
        }
        reader.SkipBlanks();
        if (pChallenge && reader.Peek() == '=') {
            reader.Skip();
            reader.SkipBlanks();
            const std::string strValue = reader.Peek() == '"' ? reader.Quoted() : reader.Token();
            pChallenge->m_params.emplace_back(Lower(strToken), strValue);
            continue;
        }
        // A new challenge; what follows its scheme may be a token68 (Basic
        // and Negotiate answers carry one), which is kept whole.
        pChallenges->push_back(CAuthChallenge());
        pChallenge = &pChallenges->back();
        pChallenge->m_strScheme = Lower(strToken);
        const size_t nAfterScheme = reader.Position();
        const std::string strNext = reader.Token();
        reader.SkipBlanks();
        if (!strNext.empty() && reader.Peek() == '=') {
            const size_t nEquals = reader.Position();
            while (reader.Peek() == '=')
                reader.Skip();
            reader.SkipBlanks();
            if (reader.AtEnd() || reader.Peek() == ',') {
                pChallenge->m_params.emplace_back("", strHeader.substr(nAfterScheme, nEquals - nAfterScheme) +
                                                          std::string(reader.Position() - nEquals, '='));
                continue;
            }
        }
        reader.Rewind(nAfterScheme);
    }
}
