// CMultipartParser: splits a multipart/x-mixed-replace body into its parts,
// fed in pieces as they arrive. The input comes from a camera and is not
// trusted: lines, header counts and parts are bounded, and a part bigger
// than the bound is skipped as it passes, never buffered. Cameras bend the
// format, so a part ends at its stated length or at the next delimiter,
// whichever comes first, a delimiter needs no line break before it, and
// the part's stated type is not looked at (the decoder knows a JPEG by
// its bytes).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class CMultipartParser
{
public:
    static const size_t MAX_LINE = 8 * 1024;
    static const size_t MAX_HEADERS = 64;
    static const size_t MAX_BOUNDARY = 70;
    static const size_t MAX_PART = 16 * 1024 * 1024;

    typedef std::function<void(std::vector<unsigned char>& body)> PartHandler;

    // The boundary named by a Content-Type value; false when the type is not
    // multipart or names no usable boundary.
    static bool BoundaryOf(const std::string& strContentType, std::string* pstrBoundary);

    explicit CMultipartParser(const std::string& strBoundary);

    // Parses the next bytes of the body; each complete part goes to onPart.
    void Feed(const unsigned char* pb, size_t cb, const PartHandler& onPart);

    // Bytes held between calls: never much more than MAX_PART.
    size_t BufferedBytes() const { return m_line.size() + m_body.size(); }

    size_t PartsDelivered() const { return m_nParts; }
    size_t PartsSkipped() const { return m_nSkipped; } // too big
    size_t PartsMalformed() const { return m_nMalformed; }

private:
    enum State { SEEK_BOUNDARY, HEADERS, BODY, SKIP };

    // A delimiter in the body: none, one that may still complete, or one whole.
    struct CDelimiter
    {
        enum Kind { NONE, PARTIAL, WHOLE } m_kind = NONE;
        size_t m_nStart = 0; // its first dash
        size_t m_nStop = 0;  // where the part ends: before the line break before it, if any
        size_t m_nNext = 0;  // where the line after it starts
    };

    void OnLine(const std::string& strLine, const PartHandler& onPart);
    bool IsDelimiter(const std::string& strLine) const;
    void StartHeaders();
    void BeginBody(const PartHandler& onPart);
    size_t FeedBody(const unsigned char* pb, size_t cb, const PartHandler& onPart);
    CDelimiter FindDelimiter(size_t nFrom) const;
    void EndPart(size_t nStop, const PartHandler& onPart);

    std::string m_strCore; // the boundary without its leading dashes
    State m_state = SEEK_BOUNDARY;
    std::string m_line;
    bool m_bLineTooLong = false;
    size_t m_nHeaders = 0;
    bool m_bHasLength = false;
    size_t m_nLength = 0;
    std::vector<unsigned char> m_body; // the part so far; only its end while skipped
    size_t m_nScanFrom = 0;            // where a delimiter in m_body may start
    bool m_bSized = false;
    size_t m_nRemaining = 0;
    size_t m_nParts = 0;
    size_t m_nSkipped = 0;
    size_t m_nMalformed = 0;
};
