// The resources as the program finds them: dialog templates with every
// control in tab order, the dialog init data, strings and the version block.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "dorsaviewerclsid.h"

namespace {

struct Item
{
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring cls, text;
};

struct Template
{
    DWORD style = 0, exStyle = 0;
    short cx = 0, cy = 0;
    std::wstring caption, font;
    WORD pointSize = 0;
    std::vector<Item> items;
};

const BYTE* Res(int id, int type, DWORD* pSize = nullptr)
{
    HRSRC h = ::FindResourceW(NULL, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    if (!h)
        return nullptr;
    if (pSize)
        *pSize = ::SizeofResource(NULL, h);
    return static_cast<const BYTE*>(::LockResource(::LoadResource(NULL, h)));
}

std::wstring SzOrOrd(const BYTE*& p, const wchar_t* const* ordNames = nullptr)
{
    const WORD* w = reinterpret_cast<const WORD*>(p);
    if (*w == 0xFFFF) {
        p += 4;
        WORD ord = w[1];
        if (ordNames && ord >= 0x80 && ord <= 0x85)
            return ordNames[ord - 0x80];
        return L"#" + std::to_wstring(ord);
    }
    std::wstring s(reinterpret_cast<const wchar_t*>(w));
    p += (s.size() + 1) * 2;
    return s;
}

const BYTE* AlignDword(const BYTE* p) { return reinterpret_cast<const BYTE*>((UINT_PTR(p) + 3) & ~UINT_PTR(3)); }

Template Parse(int id)
{
    static const wchar_t* const kClasses[] = { L"BUTTON", L"EDIT", L"STATIC", L"LISTBOX", L"SCROLLBAR", L"COMBOBOX" };
    Template t;
    const BYTE* p = Res(id, 5);
    if (!p)
        return t;
    EXPECT_EQ(0xFFFF, reinterpret_cast<const WORD*>(p)[1]) << "not an extended template";
    t.exStyle = *reinterpret_cast<const DWORD*>(p + 8);
    t.style = *reinterpret_cast<const DWORD*>(p + 12);
    WORD n = *reinterpret_cast<const WORD*>(p + 16);
    t.cx = *reinterpret_cast<const short*>(p + 22);
    t.cy = *reinterpret_cast<const short*>(p + 24);
    p += 26;
    SzOrOrd(p);
    SzOrOrd(p);
    t.caption = SzOrOrd(p);
    t.pointSize = *reinterpret_cast<const WORD*>(p);
    p += 6;
    t.font = SzOrOrd(p);
    for (WORD i = 0; i < n; ++i) {
        p = AlignDword(p);
        Item it;
        it.style = *reinterpret_cast<const DWORD*>(p + 8);
        it.x = *reinterpret_cast<const short*>(p + 12);
        it.y = *reinterpret_cast<const short*>(p + 14);
        it.cx = *reinterpret_cast<const short*>(p + 16);
        it.cy = *reinterpret_cast<const short*>(p + 18);
        it.id = *reinterpret_cast<const int*>(p + 20);
        p += 24;
        it.cls = SzOrOrd(p, kClasses);
        it.text = SzOrOrd(p);
        WORD extra = *reinterpret_cast<const WORD*>(p);
        p += 2 + extra;
        t.items.push_back(it);
    }
    return t;
}

std::wstring LoadStr(UINT id)
{
    const wchar_t* p = nullptr;
    int n = ::LoadStringW(NULL, id, reinterpret_cast<LPWSTR>(&p), 0);
    return n > 0 ? std::wstring(p, n) : std::wstring();
}

} // namespace

TEST(MainDialogTemplate, EveryControlInTabOrder)
{
    Template t = Parse(IDD_VIEWER_DIALOG);
    EXPECT_EQ(0x90CE0048u, t.style);
    EXPECT_EQ(0x00040000u, t.exStyle);
    EXPECT_EQ(287, t.cx);
    EXPECT_EQ(310, t.cy);
    EXPECT_EQ(L"Dorsa Vantix Viewer", t.caption);
    EXPECT_EQ(L"MS Shell Dlg", t.font);
    EXPECT_EQ(8, t.pointSize);

    const Item expected[] = {
        { 0x50010000, 7, 7, 272, 192, 1000, L"" DORSA_VIEWER_CLSID_TEXT, L"DorsaAPICOMViewer" },
        { 0x50000007, 7, 199, 272, 103, -1, L"BUTTON", L"Connection" },
        { 0x50020000, 16, 214, 51, 8, -1, L"STATIC", L"Plugin Directory" },
        { 0x50810080, 14, 226, 257, 14, 1003, L"MfcEditBrowse", L"" },
        { 0x50020000, 16, 244, 62, 8, -1, L"STATIC", L"Camera IP Address" },
        { 0x50810080, 121, 254, 53, 14, 1004, L"EDIT", L"" },
        { 0x50020000, 123, 244, 14, 8, -1, L"STATIC", L"Port" },
        { 0x50020000, 185, 244, 27, 8, -1, L"STATIC", L"Channel" },
        { 0x50010000, 14, 254, 100, 15, 1007, L"SysIPAddress32", L"" },
        { 0x50810080, 183, 254, 53, 14, 1006, L"EDIT", L"" },
        { 0x50010000, 139, 277, 50, 14, 1008, L"BUTTON", L"Connect" },
        { 0x50010000, 194, 277, 50, 14, 1009, L"BUTTON", L"Disconnect" },
    };
    ASSERT_EQ(std::size(expected), t.items.size());
    for (size_t i = 0; i < t.items.size(); ++i) {
        const Item& a = t.items[i];
        const Item& e = expected[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(e.id, a.id);
        // The resource compiler upper-cases class names; window classes
        // are matched without regard to case.
        EXPECT_EQ(0, _wcsicmp(e.cls.c_str(), a.cls.c_str())) << a.cls;
        EXPECT_EQ(e.text, a.text);
        EXPECT_EQ(e.style, a.style);
        EXPECT_EQ(e.x, a.x);
        EXPECT_EQ(e.y, a.y);
        EXPECT_EQ(e.cx, a.cx);
        EXPECT_EQ(e.cy, a.cy);
    }
}

TEST(MainDialogTemplate, InitDataCarriesTheControlStateAndFolderMode)
{
    DWORD size = 0;
    const BYTE* p = Res(IDD_VIEWER_DIALOG, 240, &size);
    ASSERT_NE(nullptr, p);
    static const BYTE expected[] = {
        0xE8, 0x03, 0x76, 0x03, 20, 0, 0, 0,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x2B, 0x2A, 0x00, 0x00, 0x3F, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0xEB, 0x03, 0x7C, 0x03, 42, 0, 0, 0,
    };
    ASSERT_GE(size, sizeof(expected) + 42 + 2);
    EXPECT_EQ(0, memcmp(expected, p, sizeof(expected)));
    EXPECT_EQ("<MFCEditBrowse_Mode>2</MFCEditBrowse_Mode>", std::string(reinterpret_cast<const char*>(p) + sizeof(expected), 42));
    EXPECT_EQ(0, *reinterpret_cast<const WORD*>(p + sizeof(expected) + 42));
}

TEST(AboutBoxTemplate, IconTwoLinesAndOk)
{
    Template t = Parse(IDD_ABOUTBOX);
    EXPECT_EQ(0x80C800C8u, t.style);
    EXPECT_EQ(170, t.cx);
    EXPECT_EQ(62, t.cy);
    EXPECT_EQ(L"About Dorsa Vantix Viewer", t.caption);
    ASSERT_EQ(4u, t.items.size());
    EXPECT_EQ(0x50000003u, t.items[0].style);
    EXPECT_EQ(L"#128", t.items[0].text);
    EXPECT_EQ(0x50020080u, t.items[1].style);
    EXPECT_EQ(L"Dorsa Vantix Viewer, Version 1.0", t.items[1].text);
    EXPECT_EQ(0x50020000u, t.items[2].style);
    EXPECT_EQ(IDOK, t.items[3].id);
    EXPECT_EQ(0x50030001u, t.items[3].style);
    EXPECT_EQ(L"OK", t.items[3].text);
}

TEST(Strings, TitleAndAboutItem)
{
    EXPECT_EQ(L"Dorsa Vantix Viewer", LoadStr(AFX_IDS_APP_TITLE));
    EXPECT_EQ(L"&About Dorsa Vantix Viewer...", LoadStr(IDS_ABOUTBOX));
    EXPECT_NE(nullptr, ::LoadIconW(::GetModuleHandleW(NULL), MAKEINTRESOURCEW(IDR_MAINFRAME)));
}

TEST(VersionBlock, VersionNamesAndType)
{
    const BYTE* p = Res(1, 16);
    ASSERT_NE(nullptr, p);
    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueW(p, L"\\", reinterpret_cast<void**>(&pInfo), &len));
    EXPECT_EQ(0x00010000u, pInfo->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, pInfo->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, pInfo->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, pInfo->dwProductVersionLS);
    EXPECT_EQ(DWORD(VFT_APP), pInfo->dwFileType);
    EXPECT_EQ(DWORD(VOS_NT_WINDOWS32), pInfo->dwFileOS);
    auto value = [&](const wchar_t* name) {
        wchar_t* s = nullptr;
        UINT n = 0;
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        return ::VerQueryValueW(p, key.c_str(), reinterpret_cast<void**>(&s), &n) ? std::wstring(s) : std::wstring();
    };
    EXPECT_EQ(L"DorsaVantixViewer", value(L"FileDescription"));
    EXPECT_EQ(L"DorsaVantixViewer.exe", value(L"InternalName"));
    EXPECT_EQ(L"DorsaVantixViewer.exe", value(L"OriginalFilename"));
}

namespace {

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// A hidden dialog made from template id with none of its controls: the font
// and dialog units the dialog manager gives it with the fonts at hand.
HWND EmptyDialogOf(int id)
{
    DWORD size = 0;
    const BYTE* p = Res(id, 5, &size);
    if (!p || size < 26)
        return NULL;
    std::vector<BYTE> copy(p, p + size);
    *reinterpret_cast<DWORD*>(&copy[12]) &= ~DWORD(WS_VISIBLE);
    *reinterpret_cast<WORD*>(&copy[16]) = 0;
    return ::CreateDialogIndirectParamW(::GetModuleHandleW(NULL), reinterpret_cast<LPCDLGTEMPLATEW>(copy.data()),
                                        NULL, NoDialogProc, 0);
}

std::wstring FaceOf(HDC hdc)
{
    wchar_t szFace[LF_FACESIZE] = L"";
    ::GetTextFaceW(hdc, LF_FACESIZE, szFace);
    return szFace;
}

} // namespace

// Labels and buttons keep their whole text in the dialog's font: a label
// too narrow wraps, and its second line is cut off.
TEST(DialogFonts, EveryLabelFitsItsPlace)
{
    for (int id : { IDD_VIEWER_DIALOG, IDD_ABOUTBOX }) {
        HWND hDlg = EmptyDialogOf(id);
        ASSERT_NE(HWND(NULL), hDlg);
        HDC hdc = ::GetDC(hDlg);
        HGDIOBJ hOld = ::SelectObject(hdc, reinterpret_cast<HFONT>(::SendMessageW(hDlg, WM_GETFONT, 0, 0)));
        for (const Item& item : Parse(id).items) {
            const bool bLabel = _wcsicmp(item.cls.c_str(), L"STATIC") == 0 && (item.style & SS_TYPEMASK) == SS_LEFT;
            const bool bPush = _wcsicmp(item.cls.c_str(), L"BUTTON") == 0 && (item.style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON;
            if (item.text.empty() || (!bLabel && !bPush))
                continue;
            RECT rcPlace = { item.x, item.y, item.x + item.cx, item.y + item.cy };
            ::MapDialogRect(hDlg, &rcPlace);
            RECT rcText = { 0, 0, rcPlace.right - rcPlace.left, 0 };
            ::DrawTextW(hdc, item.text.c_str(), -1, &rcText,
                        DT_CALCRECT | DT_NOPREFIX | (bLabel ? DT_WORDBREAK : DT_SINGLELINE));
            const LONG cxRoom = rcPlace.right - rcPlace.left - (bPush ? 2 * ::GetSystemMetrics(SM_CXEDGE) : 0);
            const std::string strWhat = testing::PrintToString(item.text) + " in " + testing::PrintToString(FaceOf(hdc));
            EXPECT_LE(rcText.right, cxRoom) << strWhat;
            EXPECT_LE(rcText.bottom, rcPlace.bottom - rcPlace.top) << strWhat << " wraps";
        }
        ::SelectObject(hdc, hOld);
        ::ReleaseDC(hDlg, hdc);
        ::DestroyWindow(hDlg);
    }
}

// The log's columns line up only in a font whose characters are all as wide.
TEST(DialogFonts, TheLogIsMonospaced)
{
    HWND hDlg = EmptyDialogOf(IDD_APP_LOG);
    ASSERT_NE(HWND(NULL), hDlg);
    HDC hdc = ::GetDC(hDlg);
    HGDIOBJ hOld = ::SelectObject(hdc, reinterpret_cast<HFONT>(::SendMessageW(hDlg, WM_GETFONT, 0, 0)));
    INT cxNarrow = 0, cxWide = 0;
    ::GetCharWidth32W(hdc, L'i', L'i', &cxNarrow);
    ::GetCharWidth32W(hdc, L'W', L'W', &cxWide);
    EXPECT_EQ(cxWide, cxNarrow) << "face " << testing::PrintToString(FaceOf(hdc));
    ::SelectObject(hdc, hOld);
    ::ReleaseDC(hDlg, hdc);
    ::DestroyWindow(hDlg);
}
