// CString: formatting follows the platform's printf rules, and the string
// operations the log relies on.
#include <afx.h>
#include <gtest/gtest.h>

TEST(CStringFormat, WideFormatTakesWideStringsForPercentS)
{
    CString s;
    s.Format(L"[%s]: %s", L"stamp", L"wide text");
    EXPECT_STREQ(L"[stamp]: wide text", s.GetString());
}

TEST(CStringFormat, IntegerFormsOfTheLog)
{
    CString s;
    s.Format(L"%03u.%04u", 7u, 50u);
    EXPECT_STREQ(L"007.0050", s.GetString());
    s.Format(L"%Id (0x%x)", INT_PTR(-1), unsigned(-1));
    EXPECT_STREQ(L"-1 (0xffffffff)", s.GetString());
    s.Format(L"%lu (0x%x)", 4242ul, 4242u);
    EXPECT_STREQ(L"4242 (0x1092)", s.GetString());
    s.Format(L"%+05ld|%+05ld|%+05ld|%+05ld", 300l, -60l, 0l, -330l);
    EXPECT_STREQ(L"+0300|-0060|+0000|-0330", s.GetString());
    s.Format(L"%hd", short(-1));
    EXPECT_STREQ(L"-1", s.GetString());
}

TEST(CStringFormat, LongResultsAreNotCut)
{
    CString big(L'x', 5000);
    CString s;
    s.Format(L"<%s>", big.GetString());
    EXPECT_EQ(5002, s.GetLength());
    s.AppendFormat(L"%d", 42);
    EXPECT_EQ(CString(L"42"), s.Mid(5002));
}

TEST(CStringFormat, NarrowFormatTakesNarrowStrings)
{
    CStringA s;
    s.Format("%s=%d", "id", 5);
    EXPECT_STREQ("id=5", s.GetString());
}

TEST(CStringConversion, WideToAnsiCodePageAndBack)
{
    CString wide(L"plain ASCII text");
    CStringA narrow(wide);
    EXPECT_STREQ("plain ASCII text", narrow.GetString());
    CString back(narrow);
    EXPECT_EQ(wide, back);
    EXPECT_TRUE(CStringA(CString()).IsEmpty());
}

TEST(CStringEditing, RemoveAndReplace)
{
    CString s(L"a\rb\r\nc\n");
    EXPECT_EQ(2, s.Remove(L'\r'));
    EXPECT_STREQ(L"ab\nc\n", s.GetString());
    EXPECT_EQ(2, s.Replace(L"\n", L"\r\n"));
    EXPECT_STREQ(L"ab\r\nc\r\n", s.GetString());
    EXPECT_EQ(0, s.Replace(L"", L"x"));
}

TEST(CStringEditing, BufferAccess)
{
    CString s;
    wcscpy(s.GetBuffer(10), L"abc");
    s.ReleaseBuffer();
    EXPECT_EQ(3, s.GetLength());
    EXPECT_EQ(CString(L"abc"), s);
}

TEST(CStringResources, LoadStringFromTheStringTable)
{
    CString s;
    EXPECT_TRUE(s.LoadString(57344));
    EXPECT_STREQ(L"Framework Test App", s.GetString());
    EXPECT_FALSE(s.LoadString(65000));
    EXPECT_TRUE(s.IsEmpty());
}
