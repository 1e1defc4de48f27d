// Time-stamp text and the log entry, in a zone one hour ahead of UTC with no
// daylight saving (set by the test's environment).
#include <applogthread.h>
#include <timestamp.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <vector>

namespace {

FILETIME Utc(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, ULONGLONG extraTicks = 0)
{
    SYSTEMTIME st = {};
    st.wYear = y; st.wMonth = mo; st.wDay = d; st.wHour = h; st.wMinute = mi; st.wSecond = s;
    FILETIME ft;
    EXPECT_TRUE(::SystemTimeToFileTime(&st, &ft));
    ULONGLONG n = ((ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) + extraTicks;
    ft.dwLowDateTime = DWORD(n);
    ft.dwHighDateTime = DWORD(n >> 32);
    return ft;
}

CString Text(const FILETIME& ft, int style) { return TimestampText(ft, style); }

class TimestampTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // The runtime would read TZ itself for %Z; the zone name must come
        // from the system, as on Windows.
        _wputenv(L"TZ=");
        _tzset();
    }
};

} // namespace

TEST_F(TimestampTest, WorkedExampleInEveryStyle)
{
    FILETIME ft = Utc(2026, 12, 6, 2, 45, 29, 1234567);
    EXPECT_STREQ(L"2026-12-06 03:45:29", Text(ft, TS_DATETIME).GetString());
    EXPECT_STREQ(L"2026-12-06 03:45:29 (+123.4567 ms)", Text(ft, TS_DATETIME_MS).GetString());
    EXPECT_STREQ(L"2026-12-06_03_45_29", Text(ft, TS_FILE_NAME).GetString());
    EXPECT_TRUE(Text(ft, TS_NONE).IsEmpty());

    TIME_ZONE_INFORMATION tzi;
    ::GetTimeZoneInformation(&tzi);
    CString expected;
    expected.Format(L"2026-12-06 03:45:29 (+123.4567 ms, %s)", tzi.StandardName);
    EXPECT_STREQ(expected.GetString(), Text(ft, TS_DATETIME_MS_ZONE).GetString());

    // The locale styles name the same local second in the locale's own form.
    CString locale = Text(ft, TS_LOCALE);
    EXPECT_NE(-1, locale.Find(L"2026")) << locale.GetString();
    EXPECT_NE(-1, locale.Find(L"45:29")) << locale.GetString();
    EXPECT_FALSE(Text(ft, TS_LOCALE_SYSTEM).IsEmpty());
}

TEST_F(TimestampTest, SubSecondPartIsMillisecondsWithFourDecimals)
{
    EXPECT_STREQ(L"2026-03-01 13:00:05 (+000.0000 ms)", Text(Utc(2026, 3, 1, 12, 0, 5), TS_DATETIME_MS).GetString());
    EXPECT_STREQ(L"2026-03-01 13:00:05 (+999.9999 ms)",
                 Text(Utc(2026, 3, 1, 12, 0, 5, 9999999), TS_DATETIME_MS).GetString());
    EXPECT_STREQ(L"2026-03-01 13:00:05 (+007.0050 ms)", Text(Utc(2026, 3, 1, 12, 0, 5, 70050), TS_DATETIME_MS).GetString());
    EXPECT_STREQ(L"2026-03-01 13:00:05 (+000.0005 ms)", Text(Utc(2026, 3, 1, 12, 0, 5, 5), TS_DATETIME_MS).GetString());
}

TEST_F(TimestampTest, LastTickOfTheYearStaysInTheYear)
{
    FILETIME ft = Utc(2026, 12, 31, 22, 59, 59, 9999999);
    EXPECT_STREQ(L"2026-12-31 23:59:59 (+999.9999 ms)", Text(ft, TS_DATETIME_MS).GetString());
    EXPECT_STREQ(L"2026-12-31_23_59_59", Text(ft, TS_FILE_NAME).GetString());
}

TEST_F(TimestampTest, FileNameStyleIsNineteenSafeCharacters)
{
    CString name = TimestampText(TS_FILE_NAME);
    ASSERT_EQ(19, name.GetLength()) << name.GetString();
    for (int i = 0; i < name.GetLength(); ++i) {
        wchar_t c = name[i];
        EXPECT_TRUE((c >= L'0' && c <= L'9') || c == L'-' || c == L'_') << name.GetString();
    }
}

TEST_F(TimestampTest, StyleOutsideTheRangeLeavesTheOutputAlone)
{
    FILETIME ft = Utc(2026, 12, 6, 2, 45, 29);
    CString out(L"kept");
    FormatTimestamp(out, ft, 6);
    EXPECT_STREQ(L"kept", out.GetString());
    FormatTimestamp(out, ft, -2);
    EXPECT_STREQ(L"kept", out.GetString());
    EXPECT_TRUE(TimestampText(ft, 6).IsEmpty());
    EXPECT_TRUE(TimestampText(9).IsEmpty());
    FormatTimestamp(out, ft, TS_NONE);
    EXPECT_TRUE(out.IsEmpty());
}

TEST_F(TimestampTest, OtherInstantFormsAgreeWithFileTime)
{
    SYSTEMTIME st = {};
    st.wYear = 2026; st.wMonth = 12; st.wDay = 6; st.wHour = 2; st.wMinute = 45; st.wSecond = 29; st.wMilliseconds = 7;
    EXPECT_STREQ(L"2026-12-06 03:45:29 (+007.0000 ms)", TimestampText(st, TS_DATETIME_MS).GetString());
    DATE date = 0;
    st.wMilliseconds = 0;
    ASSERT_TRUE(::SystemTimeToVariantTime(&st, &date));
    EXPECT_STREQ(L"2026-12-06 03:45:29", TimestampText(date, TS_DATETIME).GetString());
    CString out;
    FormatTimestamp(out, date, TS_FILE_NAME);
    EXPECT_STREQ(L"2026-12-06_03_45_29", out.GetString());
}

TEST_F(TimestampTest, InstantsThePlatformCannotBreakDownAreInvalid)
{
    FILETIME huge;
    huge.dwHighDateTime = 0x80000000;   // 2^63 ticks
    huge.dwLowDateTime = 1234567;
    EXPECT_STREQ(L"Invalid DateTime", Text(huge, TS_DATETIME).GetString());
    EXPECT_STREQ(L"Invalid DateTime", Text(huge, TS_LOCALE).GetString());
    CString ms = Text(huge, TS_DATETIME_MS);
    EXPECT_EQ(0, ms.Find(L"Invalid DateTime (+")) << ms.GetString();
    EXPECT_NE(-1, ms.Find(L" ms)")) << ms.GetString();
    EXPECT_EQ(0, Text(huge, TS_DATETIME_MS_ZONE).Find(L"Invalid DateTime (+"));
    huge.dwHighDateTime = 0xFFFFFFFF;
    huge.dwLowDateTime = 0xFFFFFFFF;
    EXPECT_EQ(0, Text(huge, TS_DATETIME_MS).Find(L"Invalid DateTime"));

    // A date value ends with the year 9999; a FILETIME goes on.
    EXPECT_STREQ(L"Invalid DateTime", Text(Utc(10000, 1, 2, 0, 0, 0), TS_DATETIME).GetString());

    DATE tooLate = 1e12;
    EXPECT_STREQ(L"Invalid DateTime", TimestampText(tooLate, TS_DATETIME).GetString());
    EXPECT_STREQ(L"Invalid DateTime (+000.0000 ms)", TimestampText(tooLate, TS_DATETIME_MS).GetString());
    SYSTEMTIME bad = {};
    bad.wYear = 2026; bad.wMonth = 13; bad.wDay = 1;
    EXPECT_STREQ(L"Invalid DateTime", TimestampText(bad, TS_FILE_NAME).GetString());
}

TEST_F(TimestampTest, FormatterMakesTheSameTextAsFormatTimestamp)
{
    // Instants anywhere in the platform's range and past it, runs within one
    // second (forwards and back, as entries from two threads come), the
    // edges of the date value's range and of the local offset.
    std::vector<ULONGLONG> instants;
    ULONGLONG nSeed = 0x2545F4914F6CDD1DULL;
    for (int i = 0; i < 3000; ++i) {
        nSeed = nSeed * 6364136223846793005ULL + 1442695040888963407ULL;
        instants.push_back(i % 3 ? nSeed >> (i % 11) : nSeed);
    }
    const FILETIME ftNow = [] { FILETIME ft; ::GetSystemTimeAsFileTime(&ft); return ft; }();
    const ULONGLONG nNow = (ULONGLONG(ftNow.dwHighDateTime) << 32) | ftNow.dwLowDateTime;
    for (ULONGLONG n : { nNow, nNow + 1, nNow + 9999999, nNow - 1, nNow + 10000000, nNow - 10000000, nNow })
        instants.push_back(n);
    const FILETIME ftLast = Utc(9999, 12, 31, 22, 59, 59, 9999999);   // 23:59:59.9999999 local here
    const ULONGLONG nLast = (ULONGLONG(ftLast.dwHighDateTime) << 32) | ftLast.dwLowDateTime;
    for (ULONGLONG n : { ULONGLONG(0), ULONGLONG(1), ULONGLONG(36000000000), ULONGLONG(36000000001), nLast,
                         nLast + 1, nLast + 36000000000, (ULONGLONG(1) << 63) - 1, ULONGLONG(1) << 63, ~ULONGLONG(0) })
        instants.push_back(n);

    CTimestampFormatter formatter;
    for (ULONGLONG n : instants) {
        FILETIME ft = { DWORD(n), DWORD(n >> 32) };
        CString strFast = L"head ", strSlow;
        formatter.AppendDateTimeMs(strFast, ft);
        FormatTimestamp(strSlow, ft, TS_DATETIME_MS);
        ASSERT_STREQ((L"head " + strSlow).GetString(), strFast.GetString()) << "ticks " << n;
    }
}

TEST(LogEntry, CopyKeepsTheInstantOfTheFirstConstruction)
{
    CAppLogThread::LogEntry first(CString(L"message"));
    FILETIME made = first.m_ftTime;
    EXPECT_STREQ(L"message", first.m_strText.GetString());
    ::Sleep(20);
    CAppLogThread::LogEntry copy(first);
    EXPECT_EQ(made.dwLowDateTime, copy.m_ftTime.dwLowDateTime);
    EXPECT_EQ(made.dwHighDateTime, copy.m_ftTime.dwHighDateTime);
    EXPECT_EQ(first.m_strText, copy.m_strText);

    CAppLogThread::LogEntry later;
    EXPECT_TRUE(later.m_strText.IsEmpty());
    ULONGLONG tMade = (ULONGLONG(made.dwHighDateTime) << 32) | made.dwLowDateTime;
    ULONGLONG tLater = (ULONGLONG(later.m_ftTime.dwHighDateTime) << 32) | later.m_ftTime.dwLowDateTime;
    EXPECT_GT(tLater, tMade);
}
