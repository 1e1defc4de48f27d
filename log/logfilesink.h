// The log file's writing: whole lines only, each piece flushed, and what a
// failing write costs said once writing works again.
#pragma once

#include <afxwin.h>

#include <initializer_list>

class CTimestampFormatter;

class CLogFileSink
{
public:
    explicit CLogFileSink(CStdioFile& file) : m_file(file) {}

    // The file was just opened, empty.
    void Opened() { m_nFileEnd = 0; }
    // Writes texts that together make nLines whole lines, and flushes. A
    // write that fails is cut back to where the last whole line ends, and
    // its lines are counted; once writing works again one line says how
    // many lines the file lacks.
    void Write(std::initializer_list<const CString*> texts, int nLines, CTimestampFormatter& stamps);
    // Closes the file, its buffered lines written.
    void Close();
    // Lines that never got as far as the file (no memory for them).
    void Lost(int nLines) { m_nLinesUnwritten += nLines; }

private:
    CStdioFile& m_file;
    ULONGLONG m_nFileEnd = 0;     // where the last whole line ends
    int m_nLinesUnwritten = 0;    // the lines the file lacks since writing last worked
    bool m_bFailing = false;      // the last write failed
};
