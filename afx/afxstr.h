// CString and CStringA: the framework's value strings (UTF-16 and ANSI).
// Format follows the platform's printf rules, not C99's: in a wide format
// %s is a wide string, %Id is pointer-sized.
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>
#include <string>

HINSTANCE AfxGetResourceHandle();

template <typename XCHAR> struct AfxStrTraits;

template <> struct AfxStrTraits<wchar_t> {
    typedef char YCHAR;
    static int Count(const wchar_t* fmt, va_list args) { return ::_vscwprintf(fmt, args); }
    static int Print(wchar_t* buf, size_t n, const wchar_t* fmt, va_list args) { return ::_vsnwprintf(buf, n, fmt, args); }
    static std::wstring Convert(const char* psz, int len)
    {
        int n = ::MultiByteToWideChar(CP_ACP, 0, psz, len, NULL, 0);
        std::wstring s(n > 0 ? n : 0, L'\0');
        if (n > 0)
            ::MultiByteToWideChar(CP_ACP, 0, psz, len, &s[0], n);
        return s;
    }
    static size_t Length(const wchar_t* psz) { return wcslen(psz); }
};

template <> struct AfxStrTraits<char> {
    typedef wchar_t YCHAR;
    static int Count(const char* fmt, va_list args) { return ::_vscprintf(fmt, args); }
    static int Print(char* buf, size_t n, const char* fmt, va_list args) { return ::_vsnprintf(buf, n, fmt, args); }
    static std::string Convert(const wchar_t* psz, int len)
    {
        int n = ::WideCharToMultiByte(CP_ACP, 0, psz, len, NULL, 0, NULL, NULL);
        std::string s(n > 0 ? n : 0, '\0');
        if (n > 0)
            ::WideCharToMultiByte(CP_ACP, 0, psz, len, &s[0], n, NULL, NULL);
        return s;
    }
    static size_t Length(const char* psz) { return strlen(psz); }
};

template <typename XCHAR>
class CStringT
{
public:
    typedef AfxStrTraits<XCHAR> Traits;
    typedef typename Traits::YCHAR YCHAR;
    typedef const XCHAR* PCXSTR;
    typedef XCHAR* PXSTR;
    typedef std::basic_string<XCHAR> Storage;

    CStringT() {}
    CStringT(PCXSTR psz) : m_s(psz ? psz : Empty_()) {}
    CStringT(PCXSTR pch, int nLength) : m_s(pch, nLength > 0 ? nLength : 0) {}
    CStringT(XCHAR ch, int nRepeat = 1) : m_s(nRepeat > 0 ? nRepeat : 0, ch) {}
    // Conversion between the two character types uses the ANSI code page.
    CStringT(const YCHAR* psz) { if (psz && *psz) m_s = Traits::Convert(psz, -1).c_str(); }
    CStringT(const CStringT<YCHAR>& str)
    {
        if (!str.IsEmpty())
            m_s = Traits::Convert(str.GetString(), str.GetLength());
    }

    operator PCXSTR() const { return m_s.c_str(); }
    PCXSTR GetString() const { return m_s.c_str(); }
    int GetLength() const { return int(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    XCHAR GetAt(int i) const { return m_s.at(i); }
    XCHAR operator[](int i) const { return m_s.at(i); }

    CStringT& operator=(PCXSTR psz) { m_s = psz ? psz : Empty_(); return *this; }
    CStringT& operator=(const YCHAR* psz) { return *this = CStringT(psz); }
    CStringT& operator+=(const CStringT& str) { m_s += str.m_s; return *this; }
    CStringT& operator+=(PCXSTR psz) { if (psz) m_s += psz; return *this; }
    CStringT& operator+=(XCHAR ch) { m_s += ch; return *this; }
    void Append(PCXSTR pch, int nLength) { if (pch && nLength > 0) m_s.append(pch, nLength); }

    friend CStringT operator+(const CStringT& a, const CStringT& b) { CStringT r(a); r += b; return r; }
    friend CStringT operator+(const CStringT& a, PCXSTR b) { CStringT r(a); r += b; return r; }
    friend CStringT operator+(PCXSTR a, const CStringT& b) { CStringT r(a); r += b; return r; }
    friend CStringT operator+(const CStringT& a, XCHAR b) { CStringT r(a); r += b; return r; }
    friend bool operator==(const CStringT& a, const CStringT& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CStringT& a, PCXSTR b) { return a.m_s == (b ? b : Empty_()); }
    friend bool operator==(PCXSTR a, const CStringT& b) { return b == a; }
    friend bool operator!=(const CStringT& a, const CStringT& b) { return !(a == b); }
    friend bool operator!=(const CStringT& a, PCXSTR b) { return !(a == b); }
    friend bool operator<(const CStringT& a, const CStringT& b) { return a.m_s < b.m_s; }
    int Compare(PCXSTR psz) const { return m_s.compare(psz ? psz : Empty_()); }

    void __cdecl Format(PCXSTR pszFormat, ...)
    {
        va_list args;
        va_start(args, pszFormat);
        FormatV(pszFormat, args);
        va_end(args);
    }
    void __cdecl AppendFormat(PCXSTR pszFormat, ...)
    {
        va_list args;
        va_start(args, pszFormat);
        AppendFormatV(pszFormat, args);
        va_end(args);
    }
    void FormatV(PCXSTR pszFormat, va_list args) { m_s.clear(); AppendFormatV(pszFormat, args); }
    void AppendFormatV(PCXSTR pszFormat, va_list args)
    {
        va_list count;
        va_copy(count, args);
        int n = Traits::Count(pszFormat, count);
        va_end(count);
        if (n <= 0)
            return;
        size_t old = m_s.size();
        m_s.resize(old + n + 1);
        Traits::Print(&m_s[old], n + 1, pszFormat, args);
        m_s.resize(old + n);
    }

    // Removes nCount characters from iIndex on; returns the new length.
    int Delete(int iIndex, int nCount = 1)
    {
        if (iIndex < 0)
            iIndex = 0;
        if (nCount > 0 && size_t(iIndex) < m_s.size())
            m_s.erase(size_t(iIndex), size_t(nCount));
        return int(m_s.size());
    }
    // Removes every occurrence of ch; returns how many were removed.
    int Remove(XCHAR ch)
    {
        size_t before = m_s.size();
        Storage out;
        out.reserve(before);
        for (XCHAR c : m_s)
            if (c != ch)
                out += c;
        m_s.swap(out);
        return int(before - m_s.size());
    }
    // Replaces every occurrence of pszOld (not overlapping, left to right).
    int Replace(PCXSTR pszOld, PCXSTR pszNew)
    {
        size_t nOld = pszOld ? Traits::Length(pszOld) : 0;
        if (nOld == 0)
            return 0;
        Storage sNew = pszNew ? pszNew : Empty_();
        int nCount = 0;
        Storage out;
        size_t pos = 0, hit;
        while ((hit = m_s.find(pszOld, pos, nOld)) != Storage::npos) {
            out.append(m_s, pos, hit - pos);
            out += sNew;
            pos = hit + nOld;
            ++nCount;
        }
        if (nCount) {
            out.append(m_s, pos, Storage::npos);
            m_s.swap(out);
        }
        return nCount;
    }
    int Replace(XCHAR chOld, XCHAR chNew)
    {
        int n = 0;
        for (XCHAR& c : m_s)
            if (c == chOld) { c = chNew; ++n; }
        return n;
    }
    int Find(XCHAR ch, int iStart = 0) const
    {
        size_t p = m_s.find(ch, iStart < 0 ? 0 : iStart);
        return p == Storage::npos ? -1 : int(p);
    }
    int Find(PCXSTR psz, int iStart = 0) const
    {
        size_t p = m_s.find(psz ? psz : Empty_(), iStart < 0 ? 0 : iStart);
        return p == Storage::npos ? -1 : int(p);
    }
    CStringT Left(int n) const { return CStringT(m_s.substr(0, n < 0 ? 0 : n)); }
    CStringT Mid(int iFirst, int nCount = -1) const
    {
        if (iFirst < 0) iFirst = 0;
        if (size_t(iFirst) >= m_s.size()) return CStringT();
        return CStringT(m_s.substr(iFirst, nCount < 0 ? Storage::npos : size_t(nCount)));
    }

    // Direct access for APIs that fill a buffer; ReleaseBuffer(-1) takes the
    // length up to the first NUL.
    PXSTR GetBuffer(int nMinBufferLength = 0)
    {
        if (nMinBufferLength > 0 && size_t(nMinBufferLength) > m_s.size())
            m_s.resize(nMinBufferLength);
        return &m_s[0];
    }
    PXSTR GetBufferSetLength(int nLength) { m_s.resize(nLength > 0 ? nLength : 0); return &m_s[0]; }
    void ReleaseBuffer(int nNewLength = -1)
    {
        if (nNewLength < 0)
            nNewLength = int(Traits::Length(m_s.c_str()));
        m_s.resize(nNewLength);
    }

    BOOL LoadString(UINT nID);

private:
    explicit CStringT(const Storage& s) : m_s(s) {}
    static PCXSTR Empty_() { static const XCHAR z = 0; return &z; }
    Storage m_s;
};

template <>
inline BOOL CStringT<wchar_t>::LoadString(UINT nID)
{
    const wchar_t* p = NULL;
    int n = ::LoadStringW(AfxGetResourceHandle(), nID, reinterpret_cast<LPWSTR>(&p), 0);
    if (n <= 0 || !p) {
        m_s.clear();
        return FALSE;
    }
    m_s.assign(p, n);
    return TRUE;
}

typedef CStringT<wchar_t> CStringW;
typedef CStringT<char> CStringA;
typedef CStringW CString;
