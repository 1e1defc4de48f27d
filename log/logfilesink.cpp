#include "logfilesink.h"

#include <new>

#include "logline.h"

namespace {

// A failing file operation goes to the debug trace; the logging thread goes on.
void TraceFileError(LPCWSTR pszWhat, CFileException* e)
{
    TCHAR szError[512];
    e->GetErrorMessage(szError, _countof(szError));
    TRACE(L"%s log file failed: %s\n", pszWhat, szError);
    e->Delete();
}

} // namespace

void CLogFileSink::Write(std::initializer_list<const CString*> texts, int nLines, CTimestampFormatter& stamps)
{
    const int nUnwritten = m_nLinesUnwritten;
    try {
        if (m_bFailing)
            m_file.SetLength(m_nFileEnd);
        if (nUnwritten > 0) {
            CString strGap;
            FILETIME ftNow;
            ::GetSystemTimeAsFileTime(&ftNow);
            AppendLogLine(strGap,
                          CountedLinesText(nUnwritten, L"1 log line could not be written to the file",
                                           L"%d log lines could not be written to the file"),
                          ftNow, stamps);
            m_file.WriteString(strGap);
        }
        for (const CString* pText : texts)
            m_file.WriteString(*pText);
        m_file.Flush();
        m_nFileEnd = m_file.GetPosition();
        m_nLinesUnwritten -= nUnwritten;
        m_bFailing = false;
        return;
    } catch (CFileException* e) {
        // Said once, when writing starts to fail.
        if (!m_bFailing)
            TraceFileError(L"Writing", e);
        else
            e->Delete();
    } catch (const std::bad_alloc&) {
    }
    m_bFailing = true;
    m_nLinesUnwritten += nLines;
    try {
        m_file.SetLength(m_nFileEnd);
    } catch (CFileException* e) {
        e->Delete();   // tried again before the next write
    }
}

void CLogFileSink::Close()
{
    if (m_file.m_hFile == CFile::hFileNull)
        return;
    try {
        m_file.Close();
    } catch (CFileException* e) {
        TraceFileError(L"Closing", e);
    }
}
