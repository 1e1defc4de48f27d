// CFile, CStdioFile and CFileException.
#include "afx.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CFileException, CException)

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

namespace {

const size_t kBufferSize = 4096;   // bytes held before a write reaches the system
const size_t kMaxPieceUnits = 64 * 1024;   // a longer text is narrowed and written a piece at a time

} // namespace

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszArchiveName)
{
}

int CFileException::OsErrorToException(LONG lOsError)
{
    switch (lOsError) {
    case NO_ERROR: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return accessDenied;
    case ERROR_INVALID_HANDLE: return invalidFile;
    case ERROR_CURRENT_DIRECTORY: return removeCurrentDir;
    case ERROR_CANNOT_MAKE: return directoryFull;
    case ERROR_SEEK: return badSeek;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_LOCK_VIOLATION: return lockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    default: return genericException;
    }
}

BOOL CFileException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext)
        *pnHelpContext = 0;
    CString strText;
    if (m_lOsError != -1 && m_lOsError != 0) {
        LPWSTR pszSystem = NULL;
        DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   NULL, DWORD(m_lOsError), 0, reinterpret_cast<LPWSTR>(&pszSystem), 0, NULL);
        if (n && pszSystem) {
            while (n && (pszSystem[n - 1] == L'\r' || pszSystem[n - 1] == L'\n' || pszSystem[n - 1] == L' '))
                --n;
            strText = CString(pszSystem, int(n));
        }
        if (pszSystem)
            ::LocalFree(pszSystem);
        if (strText.IsEmpty())
            strText.Format(L"System error %ld.", m_lOsError);
    } else {
        strText = m_cause == none ? L"No error occurred." : L"An error occurred while accessing the file.";
    }
    return AfxCopyErrorMessage(strText, lpszError, nMaxError);
}

void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName)
{
    throw new CFileException(cause, lOsError, lpszFileName);
}

CFile::CFile() : m_hFile(hFileNull) {}

CFile::~CFile()
{
    if (m_hFile != hFileNull)
        ::CloseHandle(m_hFile);
}

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError)
{
    if (m_hFile != hFileNull)
        Close();

    DWORD dwAccess = 0;
    switch (nOpenFlags & 3) {
    case modeRead: dwAccess = GENERIC_READ; break;
    case modeWrite: dwAccess = GENERIC_WRITE; break;
    default: dwAccess = GENERIC_READ | GENERIC_WRITE; break;
    }
    DWORD dwShare = 0;
    switch (nOpenFlags & 0x70) {
    case shareDenyWrite: dwShare = FILE_SHARE_READ; break;
    case shareDenyRead: dwShare = FILE_SHARE_WRITE; break;
    case shareDenyNone: dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: dwShare = 0; break;   // exclusive
    }
    DWORD dwCreate = OPEN_EXISTING;
    if (nOpenFlags & modeCreate)
        dwCreate = (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;

    // The full path is made first, so the create call's last error is what
    // the caller sees.
    WCHAR szFull[MAX_PATH * 2];
    DWORD nFull = ::GetFullPathNameW(lpszFileName, _countof(szFull), szFull, NULL);
    CString strFull = (nFull && nFull < _countof(szFull)) ? CString(szFull) : CString(lpszFileName);

    HANDLE hFile = ::CreateFileW(lpszFileName, dwAccess, dwShare, NULL, dwCreate, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        DWORD dwError = ::GetLastError();
        if (pError) {
            pError->m_lOsError = LONG(dwError);
            pError->m_cause = CFileException::OsErrorToException(LONG(dwError));
            pError->m_strFileName = lpszFileName;
        }
        ::SetLastError(dwError);
        return FALSE;
    }
    m_hFile = hFile;
    m_strFileName = strFull;
    return TRUE;
}

void CFile::Write(const void* lpBuf, UINT nCount)
{
    const BYTE* p = static_cast<const BYTE*>(lpBuf);
    while (nCount) {
        DWORD nWritten = 0;
        if (!::WriteFile(m_hFile, p, nCount, &nWritten, NULL)) {
            LONG lError = LONG(::GetLastError());
            AfxThrowFileException(CFileException::OsErrorToException(lError), lError, m_strFileName);
        }
        if (nWritten == 0)
            AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
        p += nWritten;
        nCount -= nWritten;
    }
}

ULONGLONG CFile::GetPosition() const
{
    LARGE_INTEGER nZero = {}, nPosition = {};
    if (!::SetFilePointerEx(m_hFile, nZero, &nPosition, FILE_CURRENT)) {
        LONG lError = LONG(::GetLastError());
        AfxThrowFileException(CFileException::OsErrorToException(lError), lError, m_strFileName);
    }
    return ULONGLONG(nPosition.QuadPart);
}

void CFile::SetLength(ULONGLONG dwNewLen)
{
    LARGE_INTEGER nLength;
    nLength.QuadPart = LONGLONG(dwNewLen);
    if (!::SetFilePointerEx(m_hFile, nLength, NULL, FILE_BEGIN) || !::SetEndOfFile(m_hFile)) {
        LONG lError = LONG(::GetLastError());
        AfxThrowFileException(CFileException::OsErrorToException(lError), lError, m_strFileName);
    }
}

void CFile::Flush()
{
    if (m_hFile != hFileNull && !::FlushFileBuffers(m_hFile)) {
        LONG lError = LONG(::GetLastError());
        AfxThrowFileException(CFileException::OsErrorToException(lError), lError, m_strFileName);
    }
}

void CFile::Close()
{
    if (m_hFile != hFileNull)
        ::CloseHandle(m_hFile);
    m_hFile = hFileNull;
    m_strFileName.Empty();
}

CStdioFile::~CStdioFile()
{
    // No exception may leave a destructor: what can't be written is lost.
    if (m_hFile != hFileNull && !m_buffer.empty()) {
        DWORD nWritten;
        ::WriteFile(m_hFile, m_buffer.data(), DWORD(m_buffer.size()), &nWritten, NULL);
    }
}

BOOL CStdioFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError)
{
    m_buffer.clear();
    m_bTextMode = (nOpenFlags & typeBinary) ? FALSE : TRUE;
    return CFile::Open(lpszFileName, nOpenFlags & ~UINT(typeText | typeBinary), pError);
}

// Appends the bytes text mode makes of nLength units from lpsz: one per
// UTF-16 unit (a surrogate pair counting as one character), two for a line
// feed in text mode.
static void AppendNarrowText(std::string& bytes, LPCTSTR lpsz, size_t nLength, BOOL bTextMode)
{
    if (!lpsz)
        return;
    size_t nOld = bytes.size();
    bytes.resize(nOld + 2 * nLength);   // room for the worst case: all line feeds
    char* pOut = &bytes[nOld];
    for (const WCHAR *p = lpsz, *pEnd = lpsz + nLength; p < pEnd; ++p) {
        WCHAR ch = *p;
        if (ch == L'\n' && bTextMode) {
            *pOut++ = '\r';
            *pOut++ = '\n';
        } else if (ch <= 0xFF) {
            *pOut++ = char(ch);
        } else {
            // One character that 8 bits can't hold.
            if (ch >= 0xD800 && ch <= 0xDBFF && p + 1 < pEnd && p[1] >= 0xDC00 && p[1] <= 0xDFFF)
                ++p;
            *pOut++ = '?';
        }
    }
    bytes.resize(size_t(pOut - bytes.data()));
}

std::string CStdioFile::NarrowText(LPCTSTR lpsz, BOOL bTextMode)
{
    std::string bytes;
    AppendNarrowText(bytes, lpsz, lpsz ? wcslen(lpsz) : 0, bTextMode);
    return bytes;
}

void CStdioFile::WriteString(LPCTSTR lpsz) { WriteText(lpsz, lpsz ? wcslen(lpsz) : 0); }

void CStdioFile::WriteString(const CString& str) { WriteText(str.GetString(), size_t(str.GetLength())); }

void CStdioFile::WriteText(LPCTSTR lpsz, size_t nLength)
{
    // A long text goes through the buffer a piece at a time, so the buffer
    // never holds more than two bytes a unit of one piece; a surrogate pair
    // is never split between pieces.
    while (nLength > 0) {
        size_t nPiece = std::min(nLength, kMaxPieceUnits);
        if (nPiece < nLength && lpsz[nPiece - 1] >= 0xD800 && lpsz[nPiece - 1] <= 0xDBFF)
            ++nPiece;
        AppendNarrowText(m_buffer, lpsz, nPiece, m_bTextMode);
        lpsz += nPiece;
        nLength -= nPiece;
        if (m_buffer.size() >= kBufferSize)
            Flush();
    }
}

ULONGLONG CStdioFile::GetPosition() const { return CFile::GetPosition() + m_buffer.size(); }

void CStdioFile::SetLength(ULONGLONG dwNewLen)
{
    Flush();
    CFile::SetLength(dwNewLen);
}

void CStdioFile::Flush()
{
    if (m_buffer.empty() || m_hFile == hFileNull)
        return;
    // What fails to reach the system is dropped, so a later write starts
    // afresh instead of retrying an ever-growing backlog. The buffer keeps
    // its usual room for the next lines, no more.
    struct Drop
    {
        std::string& buffer;
        ~Drop()
        {
            buffer.clear();
            if (buffer.capacity() > 4 * kMaxPieceUnits)
                std::string().swap(buffer);
        }
    } drop{ m_buffer };
    Write(m_buffer.data(), UINT(m_buffer.size()));
}

void CStdioFile::Close()
{
    if (m_hFile == hFileNull)
        return;
    CFileException* pError = NULL;
    try {
        Flush();
    } catch (CFileException* e) {
        pError = e;
    }
    CFile::Close();
    if (pError)
        throw pError;
}
