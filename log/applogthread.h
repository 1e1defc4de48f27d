// The application log's engine: CAppLogThread and the record every log
// message travels in.
#pragma once

#include <afx.h>

class CAppLogThread
{
public:
    // One log message on its way to the log: the text as the caller gave it
    // and the UTC instant the entry was made (not when it is written).
    class LogEntry
    {
    public:
        LogEntry();
        explicit LogEntry(const CString& text);
        LogEntry(const LogEntry& other) = default;
        ~LogEntry() = default;

        CString m_strText;
        FILETIME m_ftTime;
    };
};
