// The text of log lines, shared by the log file and the popup.
#pragma once

#include <afxwin.h>

class CTimestampFormatter;

// What a log line adds to its entry's text: "[", the time stamp, "]: " and "\n".
const int kLogLineExtraChars = 41;

// Appends the entry's log line: "[<stamp>]: <text>\n", a NUL in the text
// shown as a stand-in; out of memory, it appends nothing and throws.
void AppendLogLine(CString& strLines, const CString& strText, const FILETIME& ftTime, CTimestampFormatter& stamps);
// The same line without its text and line end: "[<stamp>]: ".
void AppendLogLineHead(CString& strLines, const FILETIME& ftTime, CTimestampFormatter& stamps);
// Whether the text needs its NULs replaced before it is written or shown.
bool HasNul(const CString& strText);

// "<n> log lines ..." with the noun and verb agreeing with n.
CString CountedLinesText(int nLines, LPCWSTR pszOne, LPCWSTR pszMany);
