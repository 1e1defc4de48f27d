// Time-stamp text: an instant (UTC) as local-time text in one of seven styles.
#pragma once

#include <afx.h>
#include <oleauto.h>

enum TimestampStyle
{
    TS_NONE = -1,             // empty text
    TS_LOCALE = 0,            // the user's locale's date and time, with the user's overrides
    TS_LOCALE_SYSTEM = 1,     // the locale's stock date and time
    TS_DATETIME = 2,          // 2026-12-06 03:45:29
    TS_DATETIME_MS = 3,       // 2026-12-06 03:45:29 (+123.4567 ms)
    TS_DATETIME_MS_ZONE = 4,  // 2026-12-06 03:45:29 (+123.4567 ms, zone's standard name)
    TS_FILE_NAME = 5,         // 2026-12-06_03_45_29
};

// Each writes the text into out; a style outside TS_NONE..TS_FILE_NAME leaves
// out as it was. The local offset is the one in force when the text is made.
void FormatTimestamp(CString& out, const FILETIME& utc, int style);
void FormatTimestamp(CString& out, const SYSTEMTIME& utc, int style);
void FormatTimestamp(CString& out, const DATE& utc, int style);
void FormatTimestamp(CString& out, int style);   // now

CString TimestampText(const FILETIME& utc, int style);
CString TimestampText(const SYSTEMTIME& utc, int style);
CString TimestampText(const DATE& utc, int style);
CString TimestampText(int style);                // now

// Makes TS_DATETIME_MS texts for many instants in a row, the same texts
// FormatTimestamp makes, at a fraction of the cost: the local offset is read
// once, when the object is made, and the date text is made once per second.
class CTimestampFormatter
{
public:
    CTimestampFormatter();
    // Appends the TS_DATETIME_MS text of utc to out.
    void AppendDateTimeMs(CString& out, const FILETIME& utc);

private:
    LONGLONG m_nOffset;         // local minus UTC, in ticks, when the object was made
    bool m_bOffsetKnown;
    ULONGLONG m_nCachedSecond;  // the local second whose date text m_strCachedDate holds
    bool m_bCached;
    CString m_strCachedDate;
};
