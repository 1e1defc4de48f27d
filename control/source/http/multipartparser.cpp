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
        // Cameras often repeat the dashes of the delimiter in the boundary
        // itself; the bound is on the boundary without them.
        const std::string strCore = WithoutLeadingDashes(strValue);
        if (strCore.empty() || strCore.size() > MAX_BOUNDARY)
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
        if (m_state == BODY || m_state == SKIP) {
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
                OnLine(strLine, onPart);
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

void CMultipartParser::StartHeaders()
{
    m_state = HEADERS;
    m_nHeaders = 0;
    m_bHasLength = false;
}

void CMultipartParser::OnLine(const std::string& strLine, const PartHandler& onPart)
{
    if (m_state == SEEK_BOUNDARY) {
        if (IsDelimiter(strLine))
            StartHeaders();
        return;
    }
    // HEADERS
    const std::string str = Trim(strLine);
    if (str.empty()) {
        BeginBody(onPart);
        return;
    }
    if (IsDelimiter(str)) {
        // The block was cut short: nothing it said holds for the next one.
        ++m_nMalformed;
        StartHeaders();
        return;
    }
    if (++m_nHeaders > MAX_HEADERS) {
        ++m_nMalformed;
        m_state = SEEK_BOUNDARY;
        return;
    }
    size_t nColon = str.find(':');
    if (nColon == std::string::npos)
        return;
    if (Lower(Trim(str.substr(0, nColon))) == "content-length")
        m_bHasLength = ParseLength(Trim(str.substr(nColon + 1)), &m_nLength);
}

void CMultipartParser::BeginBody(const PartHandler& onPart)
{
    m_body.clear();
    m_nScanFrom = 0;
    m_bSized = m_bHasLength && m_nLength <= MAX_PART;
    m_nRemaining = m_bSized ? m_nLength : 0;
    if (m_bHasLength && !m_bSized) {
        // Not believed: such a length would swallow the stream. The part
        // ends at the next delimiter like one without a length.
        m_state = SKIP;
        ++m_nSkipped;
    } else {
        m_state = BODY;
        if (m_bSized && m_nRemaining == 0) {
            EndPart(0, onPart);
            m_state = SEEK_BOUNDARY;
        }
    }
}

// The first delimiter at or after nFrom in the body: dashes (two or more),
// the boundary, perhaps "--", then only blanks to the end of its line. It
// need not start a line (some cameras put no line break before it), but a
// line that merely starts with it belongs to the body.
CMultipartParser::CDelimiter CMultipartParser::FindDelimiter(size_t nFrom) const
{
    CDelimiter delimiter;
    const unsigned char* pb = m_body.data();
    const size_t cb = m_body.size();
    for (size_t nPos = nFrom; nPos < cb;) {
        const unsigned char* pbDash = static_cast<const unsigned char*>(std::memchr(pb + nPos, '-', cb - nPos));
        if (pbDash == nullptr)
            break;
        const size_t nStart = static_cast<size_t>(pbDash - pb);
        size_t nCore = nStart;
        while (nCore < cb && pb[nCore] == '-')
            ++nCore;
        nPos = nCore;
        if (nCore - nStart < 2)
            continue;
        const size_t cbCore = std::min(m_strCore.size(), cb - nCore);
        if (std::memcmp(pb + nCore, m_strCore.data(), cbCore) != 0)
            continue;
        delimiter.m_nStart = nStart;
        if (cbCore < m_strCore.size()) {
            delimiter.m_kind = CDelimiter::PARTIAL;
            return delimiter;
        }
        size_t nRest = nCore + cbCore;
        if (nRest < cb && pb[nRest] == '-') {
            if (nRest + 1 < cb && pb[nRest + 1] != '-')
                continue;
            nRest += 2;
        }
        while (nRest < cb && (pb[nRest] == ' ' || pb[nRest] == '\t' || pb[nRest] == '\r'))
            ++nRest;
        if (nRest >= cb) {
            // The line may still end as a delimiter's does; a line longer than
            // any the stream may hold can't.
            if (cb - nStart > MAX_LINE)
                continue;
            delimiter.m_kind = CDelimiter::PARTIAL;
            return delimiter;
        }
        if (pb[nRest] != '\n')
            continue;
        delimiter.m_kind = CDelimiter::WHOLE;
        delimiter.m_nNext = nRest + 1;
        delimiter.m_nStop = nStart;
        if (delimiter.m_nStop > 0 && pb[delimiter.m_nStop - 1] == '\n')
            --delimiter.m_nStop;
        if (delimiter.m_nStop > 0 && pb[delimiter.m_nStop - 1] == '\r')
            --delimiter.m_nStop;
        return delimiter;
    }
    return delimiter;
}

size_t CMultipartParser::FeedBody(const unsigned char* pb, size_t cb, const PartHandler& onPart)
{
    const size_t nOld = m_body.size();
    const size_t nTake = m_bSized ? std::min(cb, m_nRemaining) : cb;
    m_body.insert(m_body.end(), pb, pb + nTake);
    const CDelimiter delimiter = FindDelimiter(m_nScanFrom);
    if (delimiter.m_kind == CDelimiter::WHOLE) {
        // Before its stated length, if any: the length was wrong.
        EndPart(delimiter.m_nStop, onPart);
        StartHeaders();
        return std::max(delimiter.m_nNext, nOld + 1) - nOld; // it ends in the new bytes
    }
    // Scanned up to here; a delimiter may still start at a trailing dash.
    m_nScanFrom = m_body.size();
    if (delimiter.m_kind == CDelimiter::PARTIAL)
        m_nScanFrom = delimiter.m_nStart;
    else if (m_nScanFrom > 0 && m_body.back() == '-')
        --m_nScanFrom;
    if (m_bSized) {
        m_nRemaining -= nTake;
        if (m_nRemaining == 0) {
            // A length a little too long takes in the start of the next
            // delimiter: its line goes on where the part ends.
            if (delimiter.m_kind == CDelimiter::PARTIAL)
                m_line.assign(m_body.begin() + static_cast<std::ptrdiff_t>(delimiter.m_nStart), m_body.end());
            EndPart(m_body.size(), onPart);
            m_state = SEEK_BOUNDARY;
        }
        return nTake;
    }
    if (m_state == BODY && m_body.size() > MAX_PART) {
        ++m_nSkipped;
        m_state = SKIP;
    }
    if (m_state == SKIP) {
        // Only what a delimiter still on its way needs is kept.
        m_body.erase(m_body.begin(), m_body.begin() + static_cast<std::ptrdiff_t>(m_nScanFrom));
        m_nScanFrom = 0;
    }
    return nTake;
}

void CMultipartParser::EndPart(size_t nStop, const PartHandler& onPart)
{
    if (m_state == BODY && nStop > MAX_PART) {
        ++m_nSkipped; // it ended in the same piece that took it over the bound
    } else if (m_state == BODY) {
        m_body.resize(nStop);
        ++m_nParts;
        onPart(m_body);
    }
    m_body.clear();
    m_nScanFrom = 0;
}
