// Files of the framework layer: CFile over a Win32 handle, CStdioFile with a
// write buffer and text mode, and the exception both throw.
#pragma once

#include <string>

// Why a file operation failed; m_lOsError is the system's error code (-1
// when there is none) and m_strFileName the file's name.
class CFileException : public CException
{
    DECLARE_DYNAMIC(CFileException)
public:
    enum
    {
        none, genericException, fileNotFound, badPath, tooManyOpenFiles, accessDenied, invalidFile,
        removeCurrentDir, directoryFull, badSeek, hardIO, sharingViolation, lockViolation, diskFull, endOfFile
    };

    explicit CFileException(int cause = none, LONG lOsError = -1, LPCTSTR lpszArchiveName = NULL);
    // The system's text for m_lOsError (no trailing line end), or a text
    // for m_cause when there is no system error.
    BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext = NULL) const override;
    static int OsErrorToException(LONG lOsError);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

[[noreturn]] void AfxThrowFileException(int cause, LONG lOsError = -1, LPCTSTR lpszFileName = NULL);

// A file opened by name. Write and Flush throw a CFileException on failure.
class CFile : public CObject
{
public:
    enum OpenFlags
    {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    static const HANDLE hFileNull;

    CFile();
    ~CFile() override;

    // modeCreate alone empties an existing file; with modeNoTruncate an
    // existing file is opened as it is, and GetLastError() then tells
    // ERROR_ALREADY_EXISTS, as the system's create call leaves it.
    virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = NULL);
    // The full path of the open file.
    virtual CString GetFilePath() const { return m_strFileName; }
    // Where the next byte goes, from the start of the file.
    virtual ULONGLONG GetPosition() const;
    // Makes the file this long (cutting it or extending it); the position
    // is then its end.
    virtual void SetLength(ULONGLONG dwNewLen);
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual void Flush();
    virtual void Close();

    HANDLE m_hFile;

protected:
    CString m_strFileName;
};

// A buffered file of text. In text mode (the default, unless typeBinary is
// given) each LF is written as CR LF; every UTF-16 unit becomes one byte:
// units 0-255 the byte of the same value, any other character (a surrogate
// pair counting as one) a '?'.
class CStdioFile : public CFile
{
public:
    CStdioFile() : m_bTextMode(TRUE) {}
    ~CStdioFile() override;

    BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = NULL) override;
    virtual void WriteString(LPCTSTR lpsz);
    // The whole string, by its length: a NUL in it is written too.
    void WriteString(const CString& str);
    // Hands the buffered bytes to the system.
    void Flush() override;
    // Counts the buffered bytes too.
    ULONGLONG GetPosition() const override;
    // Hands the buffered bytes to the system first.
    void SetLength(ULONGLONG dwNewLen) override;
    void Close() override;

    // The bytes text mode makes of a text.
    static std::string NarrowText(LPCTSTR lpsz, BOOL bTextMode = TRUE);

protected:
    void WriteText(LPCTSTR lpsz, size_t nLength);

    BOOL m_bTextMode;
    std::string m_buffer;   // bytes not yet handed to the system
};
