// Time-stamp text. The date text always shows the second the instant lies
// in (never carried up by its fraction); the fraction is printed apart, in
// milliseconds with four decimals.
#include "timestamp.h"

#include <time.h>

namespace {

const ULONGLONG kTicksPerSecond = 10000000;   // FILETIME ticks are 100 ns
const ULONGLONG kTicksPerMillisecond = 10000;
const wchar_t kInvalid[] = L"Invalid DateTime";
const ULONGLONG kFirstInvalidTicks = ULONGLONG(1) << 63;   // the platform breaks down none from here on

ULONGLONG Ticks(const FILETIME& ft) { return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

// A local instant broken down for the date text; invalid when the platform
// can't represent it as a date value.
struct LocalInstant
{
    bool bValid = false;
    DATE date = 0;
    ULONGLONG nSubSecondTicks = 0;   // 0 .. 9,999,999
};

LocalInstant FromLocalTicks(ULONGLONG nLocal)
{
    LocalInstant li;
    // The epoch lies on a whole second, so the ticks past the second are a remainder.
    li.nSubSecondTicks = nLocal % kTicksPerSecond;

    FILETIME ftLocal;
    ftLocal.dwLowDateTime = DWORD(nLocal);
    ftLocal.dwHighDateTime = DWORD(nLocal >> 32);
    SYSTEMTIME st;
    if (!::FileTimeToSystemTime(&ftLocal, &st))
        return li;
    st.wMilliseconds = 0;
    DATE date;
    SYSTEMTIME back;
    if (!::SystemTimeToVariantTime(&st, &date) || !::VariantTimeToSystemTime(date, &back))
        return li;
    if (back.wYear != st.wYear || back.wMonth != st.wMonth || back.wDay != st.wDay ||
        back.wHour != st.wHour || back.wMinute != st.wMinute || back.wSecond != st.wSecond)
        return li;
    li.bValid = true;
    li.date = date;
    return li;
}

LocalInstant FromUtc(const FILETIME& utc)
{
    ULONGLONG nUtc = Ticks(utc);
    if (nUtc >= kFirstInvalidTicks) {
        // Beyond what the platform can break down; the local offset could
        // even wrap it round to a plausible date.
        LocalInstant li;
        li.nSubSecondTicks = nUtc % kTicksPerSecond;
        return li;
    }
    FILETIME ftLocal;
    if (!::FileTimeToLocalFileTime(&utc, &ftLocal))
        ftLocal = utc;
    return FromLocalTicks(Ticks(ftLocal));
}

CString FormatDate(const LocalInstant& li, const wchar_t* pszPattern)
{
    if (!li.bValid)
        return kInvalid;
    UDATE ud;
    if (FAILED(::VarUdateFromDate(li.date, 0, &ud)))
        return kInvalid;
    struct tm t = {};
    t.tm_year = ud.st.wYear - 1900;
    t.tm_mon = ud.st.wMonth - 1;
    t.tm_mday = ud.st.wDay;
    t.tm_hour = ud.st.wHour;
    t.tm_min = ud.st.wMinute;
    t.tm_sec = ud.st.wSecond;
    t.tm_wday = ud.st.wDayOfWeek;
    t.tm_yday = ud.wDayOfYear - 1;
    t.tm_isdst = 0;   // so %Z names the zone's standard time
    wchar_t buf[256];
    if (::wcsftime(buf, 256, pszPattern, &t) == 0)
        buf[0] = 0;
    return buf;
}

CString FormatLocale(const LocalInstant& li, ULONG dwFlags)
{
    if (!li.bValid)
        return kInvalid;
    BSTR bstr = NULL;
    if (FAILED(::VarBstrFromDate(li.date, LANG_USER_DEFAULT, dwFlags, &bstr)))
        return kInvalid;
    CString str(bstr);
    ::SysFreeString(bstr);
    return str;
}

void FormatLocal(CString& out, const LocalInstant& li, int style)
{
    unsigned int nMs = unsigned(li.nSubSecondTicks / kTicksPerMillisecond);
    unsigned int nFraction = unsigned(li.nSubSecondTicks % kTicksPerMillisecond);
    switch (style) {
    case TS_NONE:
        out.Empty();
        break;
    case TS_LOCALE:
        out = FormatLocale(li, 0);
        break;
    case TS_LOCALE_SYSTEM:
        out = FormatLocale(li, LOCALE_NOUSEROVERRIDE);
        break;
    case TS_DATETIME:
        out = FormatDate(li, L"%Y-%m-%d %H:%M:%S");
        break;
    case TS_FILE_NAME:
        out = FormatDate(li, L"%Y-%m-%d_%H_%M_%S");
        break;
    case TS_DATETIME_MS:
        out.Format(L"%s (+%03u.%04u ms)", FormatDate(li, L"%Y-%m-%d %H:%M:%S").GetString(), nMs, nFraction);
        break;
    case TS_DATETIME_MS_ZONE:
        out.Format(L"%s (+%03u.%04u ms, %s)", FormatDate(li, L"%Y-%m-%d %H:%M:%S").GetString(), nMs, nFraction,
                   FormatDate(li, L"%Z").GetString());
        break;
    default:
        break;   // no style: the output stays as it was
    }
}

FILETIME Now()
{
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return ft;
}

} // namespace

void FormatTimestamp(CString& out, const FILETIME& utc, int style)
{
    FormatLocal(out, FromUtc(utc), style);
}

void FormatTimestamp(CString& out, const SYSTEMTIME& utc, int style)
{
    FILETIME ft;
    if (::SystemTimeToFileTime(&utc, &ft))
        FormatTimestamp(out, ft, style);
    else
        FormatLocal(out, LocalInstant(), style);
}

void FormatTimestamp(CString& out, const DATE& utc, int style)
{
    SYSTEMTIME st;
    if (::VariantTimeToSystemTime(utc, &st))
        FormatTimestamp(out, st, style);
    else
        FormatLocal(out, LocalInstant(), style);
}

void FormatTimestamp(CString& out, int style) { FormatTimestamp(out, Now(), style); }

CTimestampFormatter::CTimestampFormatter() : m_nOffset(0), m_bOffsetKnown(false), m_nCachedSecond(0), m_bCached(false)
{
    // The offset is the same for every instant at one moment: read it off now.
    FILETIME ftUtc = Now(), ftLocal;
    if (::FileTimeToLocalFileTime(&ftUtc, &ftLocal)) {
        m_nOffset = LONGLONG(Ticks(ftLocal) - Ticks(ftUtc));
        m_bOffsetKnown = true;
    }
}

void CTimestampFormatter::AppendDateTimeMs(CString& out, const FILETIME& utc)
{
    // Instants the platform can't break down, and those the offset would
    // carry out of range, take the long way; it makes the same text.
    const ULONGLONG nUtc = Ticks(utc);
    const ULONGLONG nLocal = nUtc + ULONGLONG(m_nOffset);
    if (!m_bOffsetKnown || nUtc >= kFirstInvalidTicks || nLocal >= kFirstInvalidTicks ||
        (m_nOffset < 0 && nUtc < ULONGLONG(-m_nOffset))) {
        CString strSlow;
        FormatTimestamp(strSlow, utc, TS_DATETIME_MS);
        out += strSlow;
        return;
    }
    const ULONGLONG nSecond = nLocal / kTicksPerSecond;
    if (!m_bCached || nSecond != m_nCachedSecond) {
        m_strCachedDate = FormatDate(FromLocalTicks(nSecond * kTicksPerSecond), L"%Y-%m-%d %H:%M:%S");
        m_nCachedSecond = nSecond;
        m_bCached = true;
    }
    // " (+MMM.FFFF ms)": the same digits as "%03u.%04u", which never need more here.
    const unsigned nSubSecond = unsigned(nLocal % kTicksPerSecond);
    const unsigned nMs = nSubSecond / unsigned(kTicksPerMillisecond);
    const unsigned nFraction = nSubSecond % unsigned(kTicksPerMillisecond);
    wchar_t szTail[] = L" (+000.0000 ms)";
    szTail[3] = wchar_t(L'0' + nMs / 100);
    szTail[4] = wchar_t(L'0' + nMs / 10 % 10);
    szTail[5] = wchar_t(L'0' + nMs % 10);
    szTail[7] = wchar_t(L'0' + nFraction / 1000);
    szTail[8] = wchar_t(L'0' + nFraction / 100 % 10);
    szTail[9] = wchar_t(L'0' + nFraction / 10 % 10);
    szTail[10] = wchar_t(L'0' + nFraction % 10);
    out += m_strCachedDate;
    out.Append(szTail, _countof(szTail) - 1);
}

template <typename Instant>
static CString TextOf(const Instant& utc, int style)
{
    CString str;
    FormatTimestamp(str, utc, style);
    return str;
}

CString TimestampText(const FILETIME& utc, int style) { return TextOf(utc, style); }
CString TimestampText(const SYSTEMTIME& utc, int style) { return TextOf(utc, style); }
CString TimestampText(const DATE& utc, int style) { return TextOf(utc, style); }
CString TimestampText(int style) { return TextOf(Now(), style); }
