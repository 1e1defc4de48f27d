// The multipart parser: a small state machine over lines and bodies.
#include "multipartparser.h"

#include "asciitext.h"

#include <algorithm>
#include <cstring>

namespace {

using asciitext::Lower;
using asciitext::Trim;

std::string WithoutLeadingDashes(const std::string& str)
{
    size_t nStart = str.find_first_not_of('-');
    return nStart == std::string::npos ? std::string() : str.substr(nStart);
}

// Decimal digits only, at most 12 of them.
bool ParseLength(const std::string& str, size_t* pnValue)
{
    if (str.empty() || str.size() > 12)
        return false;
    unsigned long long nValue = 0;
    for (char ch : str) {
        if (ch < '0' || ch > '9')
            return false;
        nValue = nValue * 10 + static_cast<unsigned>(ch - '0');
    }
    *pnValue = static_cast<size_t>(std::min<unsigned long long>(nValue, SIZE_MAX));
    return true;
}

} // namespace

bool CMultipartParser::BoundaryOf(const std::string& strContentType, std::string* pstrBoundary)
{
    size_t nPos = strContentType.find(';');
    if (Lower(Trim(strContentType.substr(0, nPos))).compare(0, 10, "multipart/") != 0)
        return false;
    // Parameters: ; name=token or ; name="quoted \"string\"".
    while (nPos != std::string::npos && nPos < strContentType.size()) {
        const size_t nEqual = strContentType.find('=', nPos + 1);
        if (nEqual == std::string::npos)
            return false;
        const std::string strName = Lower(Trim(strContentType.substr(nPos + 1, nEqual - nPos - 1)));
        size_t nValue = strContentType.find_first_not_of(" \t", nEqual + 1);
        std::string strValue;
        if (nValue != std::string::npos && strContentType[nValue] == '"') {
            for (nPos = nValue + 1; nPos < strContentType.size() && strContentType[nPos] != '"'; ++nPos) {
                if (strContentType[nPos] == '\\' && nPos + 1 < strContentType.size())
                    ++nPos;
                strValue += strContentType[nPos];
            }
            if (nPos >= strContentType.size())
                return false; // the quote never closes
            nPos = strContentType.find(';', nPos);
        } else {
            nPos = strContentType.find(';', nEqual);
            strValue = Trim(strContentType.substr(nEqual + 1, nPos == std::string::npos ? nPos : nPos - nEqual - 1));
        }
        if (strName != "boundary")
            continue;
        // Cameras often repeat the dashes of the delimiter in the boundary itself.
        if (WithoutLeadingDashes(strValue).empty() || strValue.size() > MAX_BOUNDARY)
            return false;
        *pstrBoundary = strValue;
        return true;
    }
    return false;
}

CMultipartParser::CMultipartParser(const std::string& strBoundary)
    : m_strCore(WithoutLeadingDashes(strBoundary))
{
}

void CMultipartParser::Feed(const unsigned char* pb, size_t cb, const PartHandler& onPart)
{
    while (cb > 0) {
        if (m_state == BODY_SIZED || m_state == BODY_SCAN || m_state == SKIP_SIZED || m_state == SKIP_SCAN) {
            size_t nUsed = FeedBody(pb, cb, onPart);
            pb += nUsed;
            cb -= nUsed;
            continue;
        }
        // Lines: the boundary and the part's headers.
        const unsigned char* pbEnd = static_cast<const unsigned char*>(std::memchr(pb, '\n', cb));
        const size_t nTake = pbEnd ? static_cast<size_t>(pbEnd - pb) + 1 : cb;
        if (!m_bLineTooLong) {
            if (m_line.size() + nTake > MAX_LINE) {
                m_bLineTooLong = true;
                m_line.clear();
            } else {
                m_line.append(reinterpret_cast<const char*>(pb), nTake);
            }
        }
        pb += nTake;
        cb -= nTake;
        if (pbEnd) {
            if (m_bLineTooLong) {
                m_bLineTooLong = false;
                if (m_state == HEADERS) {
                    ++m_nMalformed;
                    m_state = SEEK_BOUNDARY;
                }
            } else {
                std::string strLine;
                strLine.swap(m_line);
                OnLine(strLine);
            }
        }
    }
}

bool CMultipartParser::IsDelimiter(const std::string& strLine) const
{
    std::string str = Trim(strLine);
    if (str.size() < 2 || str[0] != '-' || str[1] != '-')
        return false;
    str = WithoutLeadingDashes(str);
    // The closing delimiter carries two more dashes.
    if (str.size() == m_strCore.size() + 2 && str.compare(m_strCore.size(), 2, "--") == 0)
        str.resize(m_strCore.size());
    return str == m_strCore;
}

void CMultipartParser::OnLine(const std::string& strLine)
{
    if (m_state == SEEK_BOUNDARY) {
        if (IsDelimiter(strLine)) {
            m_state = HEADERS;
            m_nHeaders = 0;
            m_bHasLength = false;
            m_bJpeg = true;
        }
        return;
    }
    // HEADERS
    const std::string str = Trim(strLine);
    if (str.empty()) {
        BeginBody();
        return;
    }
    if (++m_nHeaders > MAX_HEADERS || IsDelimiter(str)) {
        ++m_nMalformed;
        m_state = IsDelimiter(str) ? HEADERS : SEEK_BOUNDARY;
        m_nHeaders = 0;
        return;
    }
    size_t nColon = str.find(':');
    if (nColon == std::string::npos)
        return;
    const std::string strName = Lower(Trim(str.substr(0, nColon)));
    const std::string strValue = Trim(str.substr(nColon + 1));
    if (strName == "content-length") {
        m_bHasLength = ParseLength(strValue, &m_nLength);
    } else if (strName == "content-type") {
        const std::string strType = Lower(Trim(strValue.substr(0, strValue.find(';'))));
        m_bJpeg = strType == "image/jpeg" || strType == "image/jpg" || strType == "image/pjpeg";
    }
}

void CMultipartParser::BeginBody()
{
    m_body.clear();
    m_nScanFrom = 0;
    if (m_bHasLength && m_nLength > MAX_PART) {
        // Not believed: such a length would swallow the stream. The part
        // ends at the next delimiter like one without a length.
        m_state = SKIP_SCAN;
        ++m_nSkipped;
    } else if (m_bHasLength) {
        m_state = m_bJpeg ? BODY_SIZED : SKIP_SIZED;
        m_nRemaining = m_nLength;
        if (!m_bJpeg)
            ++m_nSkipped;
    } else {
        m_state = m_bJpeg ? BODY_SCAN : SKIP_SCAN;
        if (!m_bJpeg)
            ++m_nSkipped;
    }
}

// The first delimiter line at or after nFrom in the body: where the body
// ends (before its line break), and in *pnEnd where the line after it starts.
// A delimiter line is the boundary followed only by blanks, or by "--" and
// blanks; a line that merely starts with the boundary belongs to the body.
size_t CMultipartParser::FindDelimiter(size_t nFrom, size_t* pnEnd) const
{
    const unsigned char* pb = m_body.data();
    const size_t cb = m_body.size();
    for (size_t nPos = nFrom; nPos + 3 <= cb; ++nPos) {
        const unsigned char* pbHit =
            static_cast<const unsigned char*>(std::memchr(pb + nPos, '\n', cb - nPos));
        if (pbHit == nullptr)
            return std::string::npos;
        nPos = static_cast<size_t>(pbHit - pb);
        size_t nCore = nPos + 1;
        while (nCore < cb && pb[nCore] == '-')
            ++nCore;
        if (nCore - nPos - 1 < 2)
            continue;
        if (nCore + m_strCore.size() > cb)
            return std::string::npos; // may still complete
        if (std::memcmp(pb + nCore, m_strCore.data(), m_strCore.size()) != 0)
            continue;
        const unsigned char* pbLineEnd = static_cast<const unsigned char*>(
            std::memchr(pb + nCore, '\n', cb - nCore));
        if (pbLineEnd == nullptr)
            return std::string::npos;
        const size_t nLineEnd = static_cast<size_t>(pbLineEnd - pb);
        size_t nRest = nCore + m_strCore.size();
        if (nRest + 2 <= nLineEnd && pb[nRest] == '-' && pb[nRest + 1] == '-')
            nRest += 2;
        while (nRest < nLineEnd && (pb[nRest] == ' ' || pb[nRest] == '\t' || pb[nRest] == '\r'))
            ++nRest;
        if (nRest != nLineEnd)
            continue;
        *pnEnd = nLineEnd + 1;
        return nPos > 0 && pb[nPos - 1] == '\r' ? nPos - 1 : nPos;
    }
    return std::string::npos;
}

size_t CMultipartParser::FeedBody(const unsigned char* pb, size_t cb, const PartHandler& onPart)
{
    if (m_state == SKIP_SIZED || m_state == BODY_SIZED) {
        const size_t nTake = std::min(cb, m_nRemaining);
        if (m_state == BODY_SIZED)
            m_body.insert(m_body.end(), pb, pb + nTake);
        m_nRemaining -= nTake;
        if (m_nRemaining == 0) {
            if (m_state == BODY_SIZED)
                Deliver(onPart);
            m_state = SEEK_BOUNDARY;
        }
        return nTake;
    }

    // No length given: the body runs to the next delimiter line.
    const size_t nOld = m_body.size();
    m_body.insert(m_body.end(), pb, pb + cb);
    size_t nEnd = 0;
    const size_t nStop = FindDelimiter(m_nScanFrom > 0 ? m_nScanFrom - 1 : 0, &nEnd);
    if (nStop == std::string::npos) {
        // Keep what a delimiter split across calls needs; rescan only that.
        const size_t nKeep = m_strCore.size() + 8 + MAX_BOUNDARY;
        if (m_state == SKIP_SCAN || m_body.size() > MAX_PART) {
            if (m_state == BODY_SCAN) {
                ++m_nSkipped;
                m_state = SKIP_SCAN;
            }
            if (m_body.size() > nKeep)
                m_body.erase(m_body.begin(), m_body.end() - static_cast<std::ptrdiff_t>(nKeep));
        }
        m_nScanFrom = m_body.size() > nKeep ? m_body.size() - nKeep : 0;
        return cb;
    }
    const size_t nUsed = nEnd - nOld; // the rest belongs to the next part
    m_body.resize(nStop);
    if (m_state == BODY_SCAN && nStop <= MAX_PART)
        Deliver(onPart);
    else if (m_state == BODY_SCAN)
        ++m_nSkipped; // it ended in the same piece that took it over the bound
    m_body.clear();
    m_nScanFrom = 0;
    m_state = HEADERS;
    m_nHeaders = 0;
    m_bHasLength = false;
    m_bJpeg = true;
    return nUsed;
}

void CMultipartParser::Deliver(const PartHandler& onPart)
{
    ++m_nParts;
    onPart(m_body);
    m_body.clear();
}
