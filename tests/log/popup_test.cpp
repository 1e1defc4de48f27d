// The "App Log" popup in a real window: its template, line ends, refresh,
// layout, hiding, a long log that starts at its first line, and the bound
// that keeps only the newest whole lines.
#include <loggingdlg.h>
#include <gtest/gtest.h>
#include <pumpmessages.h>

#include <stdio.h>

namespace {

CString EditText(const CLoggingDlg& dlg)
{
    CString text;
    dlg.GetDlgItemText(IDC_LOG_TEXT, text);
    return text;
}

class PopupTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dlg.Create(IDD_APP_LOG)); }
    void TearDown() override
    {
        if (m_dlg.m_hWnd)
            m_dlg.DestroyWindow();
    }
    // Shows the popup at the given size, painted.
    void ShowPainted(int cx, int cy)
    {
        m_dlg.MoveWindow(0, 0, cx, cy);
        m_dlg.ShowWindow(SW_SHOW);
        PumpPending();
    }
    CLoggingDlg m_dlg;
};

// DLGTEMPLATEEX header and the first item header, as far as the checks need.
#pragma pack(push, 1)
struct DlgTemplateExHead { WORD dlgVer, signature; DWORD helpID, exStyle, style; WORD cDlgItems; short x, y, cx, cy; };
struct DlgItemExHead { DWORD helpID, exStyle, style; short x, y, cx, cy; DWORD id; };
#pragma pack(pop)

const BYTE* SkipSzOrOrd(const BYTE* p)
{
    const WORD* w = reinterpret_cast<const WORD*>(p);
    if (*w == 0xFFFF)
        return p + 4;
    while (*w++)
        ;
    return reinterpret_cast<const BYTE*>(w);
}

} // namespace

TEST(PopupTemplate, ExtendedTemplateWithOneReadOnlyEdit)
{
    HRSRC hRes = ::FindResourceW(NULL, MAKEINTRESOURCEW(IDD_APP_LOG), MAKEINTRESOURCEW(5));
    ASSERT_NE(nullptr, hRes);
    const BYTE* p = static_cast<const BYTE*>(::LockResource(::LoadResource(NULL, hRes)));
    auto head = reinterpret_cast<const DlgTemplateExHead*>(p);
    EXPECT_EQ(0xFFFF, head->signature);
    EXPECT_EQ(0x80CC0040u, head->style);
    EXPECT_EQ(0x00000180u, head->exStyle);
    EXPECT_EQ(1, head->cDlgItems);
    EXPECT_EQ(343, head->cx);
    EXPECT_EQ(146, head->cy);

    p += sizeof(DlgTemplateExHead);
    p = SkipSzOrOrd(p);                       // menu
    p = SkipSzOrOrd(p);                       // class
    EXPECT_STREQ(L"App Log", reinterpret_cast<const wchar_t*>(p));
    p = SkipSzOrOrd(p);                       // caption
    EXPECT_EQ(8, *reinterpret_cast<const WORD*>(p));
    EXPECT_EQ(400, *reinterpret_cast<const WORD*>(p + 2));
    EXPECT_STREQ(L"Lucida Console", reinterpret_cast<const wchar_t*>(p + 6));
    p = SkipSzOrOrd(p + 6);
    p = reinterpret_cast<const BYTE*>((reinterpret_cast<UINT_PTR>(p) + 3) & ~UINT_PTR(3));
    auto item = reinterpret_cast<const DlgItemExHead*>(p);
    EXPECT_EQ(DWORD(IDC_LOG_TEXT), item->id);
    EXPECT_EQ(0x50B11804u, item->style);
    EXPECT_EQ(0u, item->exStyle);
    EXPECT_EQ(342, item->cx);
    EXPECT_EQ(145, item->cy);
}

TEST_F(PopupTest, CreatedHiddenWithTheEditBound)
{
    EXPECT_FALSE(m_dlg.IsWindowVisible());
    EXPECT_EQ(::GetDlgItem(m_dlg.m_hWnd, IDC_LOG_TEXT), m_dlg.m_editLog.m_hWnd);
    EXPECT_TRUE(m_dlg.m_strLog.IsEmpty());
}

TEST_F(PopupTest, LineEndsBecomeCrLf)
{
    m_dlg.AppendText(L"one\ntwo\n");
    m_dlg.AppendText(L"three\r\nfour\n");
    m_dlg.AppendText(L"fi\rve");
    m_dlg.AppendText(L" still five\n");
    const wchar_t* expected = L"one\r\ntwo\r\nthree\r\nfour\r\nfive still five\r\n";
    EXPECT_STREQ(expected, m_dlg.m_strLog.GetString());
    EXPECT_STREQ(expected, EditText(m_dlg).GetString());
    EXPECT_EQ(6, m_dlg.m_editLog.GetLineCount());   // five lines and the empty one after the last end
}

TEST_F(PopupTest, RefreshWithoutTextKeepsTheLogAndResetsTheControl)
{
    m_dlg.AppendText(L"kept\n");
    ::SetDlgItemTextW(m_dlg.m_hWnd, IDC_LOG_TEXT, L"scribbled");
    EXPECT_EQ(0, m_dlg.SendMessage(WM_USER, 0, 0));
    EXPECT_STREQ(L"kept\r\n", m_dlg.m_strLog.GetString());
    EXPECT_STREQ(L"kept\r\n", EditText(m_dlg).GetString());
    m_dlg.AppendText(L"");
    EXPECT_STREQ(L"kept\r\n", EditText(m_dlg).GetString());
}

TEST_F(PopupTest, EditFillsTheClientAreaAtAnySize)
{
    const SIZE sizes[] = { { 900, 240 }, { 120, 60 }, { 1280, 240 }, { 300, 700 } };
    for (const SIZE& size : sizes) {
        m_dlg.MoveWindow(10, 10, size.cx, size.cy);
        CRect client, edit;
        m_dlg.GetClientRect(&client);
        ::GetWindowRect(m_dlg.m_editLog.m_hWnd, &edit);
        ::MapWindowPoints(NULL, m_dlg.m_hWnd, reinterpret_cast<POINT*>(&edit), 2);
        EXPECT_EQ(client, edit) << size.cx << "x" << size.cy;
    }
}

TEST_F(PopupTest, HiddenByCloseOrEscapeAndStillFed)
{
    m_dlg.ShowWindow(SW_SHOW);
    m_dlg.AppendText(L"before\n");
    m_dlg.SendMessage(WM_CLOSE);
    PumpPending();
    EXPECT_FALSE(m_dlg.IsWindowVisible());
    ASSERT_TRUE(::IsWindow(m_dlg.m_hWnd));
    m_dlg.AppendText(L"while hidden\n");

    m_dlg.ShowWindow(SW_SHOW);
    EXPECT_STREQ(L"before\r\nwhile hidden\r\n", EditText(m_dlg).GetString());

    MSG esc = {};
    esc.hwnd = m_dlg.m_editLog.m_hWnd;
    esc.message = WM_KEYDOWN;
    esc.wParam = VK_ESCAPE;
    AfxPreTranslateMessage(&esc);
    PumpPending();
    EXPECT_FALSE(m_dlg.IsWindowVisible());
}

TEST_F(PopupTest, LongLogStaysWholeAndTheViewStartsAtTheFirstLine)
{
    m_dlg.MoveWindow(0, 0, 600, 200);   // hidden: a shown one only repaints slower
    CString line;
    for (int i = 0; i < 800; ++i) {
        line.Format(L"[2026-12-06 03:45:29 (+123.4567 ms)]: line %04d of a long log\n", i);
        m_dlg.AppendText(line);
    }
    ASSERT_GT(m_dlg.m_strLog.GetLength(), 30000);
    EXPECT_EQ(m_dlg.m_strLog, EditText(m_dlg));
    EXPECT_EQ(0, m_dlg.m_editLog.GetFirstVisibleLine());

    // A user who scrolled down is taken back to the start by the next line.
    m_dlg.m_editLog.LineScroll(300);
    ASSERT_GT(m_dlg.m_editLog.GetFirstVisibleLine(), 0);
    m_dlg.AppendText(L"one more\n");
    EXPECT_EQ(0, m_dlg.m_editLog.GetFirstVisibleLine());
    EXPECT_EQ(m_dlg.m_strLog, EditText(m_dlg));
}

namespace {

// Lines "line <n>\n" numbered from nFirst, each an entry; where each begins.
CString NumberedLines(int nFirst, int nCount, std::vector<int>& entryStarts)
{
    CString text, line;
    entryStarts.clear();
    for (int i = 0; i < nCount; ++i) {
        line.Format(L"line %d\n", nFirst + i);
        entryStarts.push_back(text.GetLength());
        text += line;
    }
    return text;
}

// Whole numbered lines in a row, ending with nNewest; how many.
int CheckNumberedRun(const CString& strLog, int nNewest)
{
    int nLines = 0, nPrevious = -1;
    for (int pos = 0; pos < strLog.GetLength();) {
        int end = strLog.Find(L"\r\n", pos);
        EXPECT_NE(-1, end) << "an open line at the end";
        if (end == -1)
            break;
        int n = -1;
        EXPECT_EQ(1, swscanf(strLog.Mid(pos, end - pos).GetString(), L"line %d", &n)) << "not a whole line at " << pos;
        if (nPrevious >= 0) {
            EXPECT_EQ(nPrevious + 1, n);
        }
        nPrevious = n;
        ++nLines;
        pos = end + 2;
    }
    EXPECT_EQ(nNewest, nPrevious);
    return nLines;
}

} // namespace

TEST_F(PopupTest, KeepsOnlyTheNewestWholeLinesWithinItsBound)
{
    m_dlg.MoveWindow(0, 0, 600, 200);
    int nNext = 0;
    bool bTrimmed = false;
    std::vector<int> entryStarts;
    for (int nCount : { 1, 7, 333, 2999, CLoggingDlg::kMaxLines + 1234, 1, 500, 1200, 3 }) {
        m_dlg.AppendText(NumberedLines(nNext, nCount, entryStarts), entryStarts);
        nNext += nCount;
        ASSERT_TRUE(m_dlg.m_strLog == EditText(m_dlg)) << "after " << nNext << " lines";
        int nLines = CheckNumberedRun(m_dlg.m_strLog, nNext - 1);
        EXPECT_LE(nLines, CLoggingDlg::kMaxLines);
        if (nLines < nNext && !bTrimmed) {
            // Trimmed a chunk, not to the bound itself: the next lines come in free.
            EXPECT_LE(nLines, CLoggingDlg::kMaxLines / 10 * 9);
            bTrimmed = true;
        }
    }
    EXPECT_TRUE(bTrimmed);
    EXPECT_EQ(0, m_dlg.m_editLog.GetFirstVisibleLine());
}

TEST_F(PopupTest, LongLinesAreKeptWholeAndCountTowardsTheCharacterBound)
{
    m_dlg.MoveWindow(0, 0, 600, 200);
    // An empty line, characters beyond 8 bits, a line of 100,000 characters.
    const CString strWide = L"caf\x00E9 \x0416\x0430 \xD83D\xDE00\n";
    const CString strLong = CString(L'x', 100000) + L"\n";
    m_dlg.AppendText(L"\n" + strWide + strLong);
    EXPECT_TRUE(L"\r\n" + strWide.Left(strWide.GetLength() - 1) + L"\r\n" + strLong.Left(100000) + L"\r\n" ==
                m_dlg.m_strLog);
    EXPECT_TRUE(m_dlg.m_strLog == EditText(m_dlg));

    // More long lines than the character bound takes: the oldest go, whole.
    CString line;
    for (int i = 0; i < 12; ++i) {
        line.Format(L"long %02d ", i);
        m_dlg.AppendText(line + CString(L'y', 99990) + L"\n");
        ASSERT_TRUE(m_dlg.m_strLog == EditText(m_dlg));
        ASSERT_LE(m_dlg.m_strLog.GetLength(), CLoggingDlg::kMaxChars);
    }
    EXPECT_EQ(0, m_dlg.m_strLog.Find(L"long "));
    EXPECT_NE(-1, m_dlg.m_strLog.Find(L"long 11 "));

    // The newest line stays whole even when it alone is past the bound.
    const CString strHuge = CString(L'z', CLoggingDlg::kMaxChars + 10);
    m_dlg.AppendText(strHuge + L"\n");
    EXPECT_TRUE(strHuge + L"\r\n" == m_dlg.m_strLog);
    // An open line is never cut, and goes on with the next text.
    m_dlg.AppendText(L"open");
    m_dlg.AppendText(L" line\n");
    EXPECT_TRUE(CString(L"open line\r\n") == m_dlg.m_strLog);
    EXPECT_TRUE(m_dlg.m_strLog == EditText(m_dlg));
}

namespace {

// The pixels of rc in a window (its client area, or with bWholeWindow the
// whole window) as they are on the screen, or with bPrintClient, as the
// window paints its client area now.
std::vector<DWORD> Pixels(HWND hWnd, bool bWholeWindow, const CRect& rc, bool bPrintClient)
{
    HDC hdc = bWholeWindow ? ::GetWindowDC(hWnd) : ::GetDC(hWnd);
    HDC hdcMem = ::CreateCompatibleDC(hdc);
    BITMAPINFO bmi = {};
    bmi.bmiHeader = { sizeof(BITMAPINFOHEADER), rc.Width(), -rc.Height(), 1, 32, BI_RGB, 0, 0, 0, 0, 0 };
    void* pvBits = NULL;
    HBITMAP hbm = ::CreateDIBSection(hdc, &bmi, DIB_RGB_COLORS, &pvBits, NULL, 0);
    HGDIOBJ hOld = ::SelectObject(hdcMem, hbm);
    if (bPrintClient)
        ::SendMessageW(hWnd, WM_PRINTCLIENT, WPARAM(hdcMem), PRF_CLIENT);
    else
        ::BitBlt(hdcMem, 0, 0, rc.Width(), rc.Height(), hdc, rc.left, rc.top, SRCCOPY);
    ::GdiFlush();
    const DWORD* p = static_cast<const DWORD*>(pvBits);
    std::vector<DWORD> pixels(p, p + rc.Width() * rc.Height());
    ::SelectObject(hdcMem, hOld);
    ::DeleteObject(hbm);
    ::DeleteDC(hdcMem);
    ::ReleaseDC(hWnd, hdc);
    return pixels;
}

// The edit control's client area as it is on the screen (its window's
// surface), or as the control paints its text now.
std::vector<DWORD> ClientPixels(const CLoggingDlg& dlg, bool bAsPaintedNow)
{
    CRect rc;
    dlg.m_editLog.GetClientRect(&rc);
    return Pixels(dlg.m_editLog.m_hWnd, false, rc, bAsPaintedNow);
}

} // namespace

TEST_F(PopupTest, AppendsInQuickSuccessionAreAllPaintedOnceTheyStop)
{
    ShowPainted(400, 120);
    // Painting may wait for a while after an append; what is on the screen
    // then catches up with the text without another append.
    for (int i = 0; i < 3; ++i) {
        CString line;
        line.Format(L"line %d in a quick run\n", i);
        m_dlg.AppendText(line);
    }
    const ULONGLONG nGiveUp = ::GetTickCount64() + 120000;
    while (ClientPixels(m_dlg, false) != ClientPixels(m_dlg, true) && ::GetTickCount64() < nGiveUp) {
        ::MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        PumpPending();
    }
    EXPECT_TRUE(ClientPixels(m_dlg, false) == ClientPixels(m_dlg, true));
}

TEST_F(PopupTest, AnAppendInvalidatesOnlyWhatChangedInView)
{
    ShowPainted(600, 200);
    std::vector<int> entryStarts;
    m_dlg.AppendText(NumberedLines(0, 3, entryStarts), entryStarts);
    PumpPending();
    // A line below the last one in view: the new line's place is invalidated.
    m_dlg.AppendText(L"line 3\n");
    CRect rcUpdate, rcClient;
    m_dlg.m_editLog.GetClientRect(&rcClient);
    ASSERT_TRUE(::GetUpdateRect(m_dlg.m_editLog.m_hWnd, &rcUpdate, FALSE));
    EXPECT_GT(rcUpdate.top, rcClient.top);

    // Lines far below the view, more than 32,767 pixels down, leave the
    // text in view alone.
    m_dlg.AppendText(NumberedLines(4, CLoggingDlg::kMaxLines - 10, entryStarts), entryStarts);
    PumpPending();
    ASSERT_EQ(0, m_dlg.m_editLog.GetFirstVisibleLine());
    m_dlg.AppendText(L"one more\n");
    EXPECT_FALSE(::GetUpdateRect(m_dlg.m_editLog.m_hWnd, &rcUpdate, FALSE))
        << rcUpdate.left << "," << rcUpdate.top << "-" << rcUpdate.right << "," << rcUpdate.bottom;
}

namespace {

// The vertical scroll bar as it is on the screen.
std::vector<DWORD> VerticalScrollBarPixels(const CLoggingDlg& dlg)
{
    SCROLLBARINFO sbi = {};
    sbi.cbSize = sizeof sbi;
    ::GetScrollBarInfo(dlg.m_editLog.m_hWnd, OBJID_VSCROLL, &sbi);
    CRect rcWindow;
    ::GetWindowRect(dlg.m_editLog.m_hWnd, &rcWindow);
    CRect rcBar(sbi.rcScrollBar);
    ::OffsetRect(&rcBar, -rcWindow.left, -rcWindow.top);
    return Pixels(dlg.m_editLog.m_hWnd, true, rcBar, false);
}

} // namespace

TEST_F(PopupTest, TheScrollBarOnTheScreenFollowsEveryAppend)
{
    ShowPainted(400, 160);
    std::vector<int> entryStarts;
    int nNext = 0;
    // Appends that move the thumb by pixels, and ones that move it by less.
    for (int nCount : { 1, 12, 30, 1, 200, 1, 1, 3000, 1 }) {
        m_dlg.AppendText(NumberedLines(nNext, nCount, entryStarts), entryStarts);
        nNext += nCount;
        PumpPending();
        const std::vector<DWORD> shown = VerticalScrollBarPixels(m_dlg);
        ASSERT_FALSE(shown.empty());
        ::RedrawWindow(m_dlg.m_editLog.m_hWnd, NULL, NULL, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
        EXPECT_TRUE(shown == VerticalScrollBarPixels(m_dlg)) << "after " << nNext << " lines";
    }
}
