// CFile and CStdioFile: the open flags and sharing, text mode's bytes, the
// full path, and failures reported through CFileException.
#include <afx.h>
#include <gtest/gtest.h>
#include <tempworkdir.h>

#include <string>

namespace {

// Runs each test in a fresh temporary working directory.
class FileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_workDir.Enter(L"afxfile"));
        m_strDir = m_workDir.m_strDir;
    }
    void TearDown() override { m_workDir.Leave(); }
    TempWorkingDirectory m_workDir;
    CString m_strDir;
};

void WriteBytes(LPCWSTR lpszName, const std::string& bytes)
{
    HANDLE h = ::CreateFileW(lpszName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD n;
    ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, NULL);
    ::CloseHandle(h);
}

} // namespace

TEST(TextMode, EachUnitBecomesOneByteAndLineFeedsBecomeCrLf)
{
    EXPECT_EQ(std::string("a\r\nb\r\n"), CStdioFile::NarrowText(L"a\nb\n"));
    EXPECT_EQ(std::string("a\nb"), CStdioFile::NarrowText(L"a\nb", FALSE));
    // A CR already there stays: only LF is translated.
    EXPECT_EQ(std::string("x\r\r\n"), CStdioFile::NarrowText(L"x\r\n"));
    // Units 1-255 keep their value.
    std::wstring all;
    std::string expected;
    for (int ch = 1; ch <= 255; ++ch)
        if (ch != '\n') {
            all += wchar_t(ch);
            expected += char(ch);
        }
    EXPECT_EQ(expected, CStdioFile::NarrowText(all.c_str()));
    // One '?' per character beyond 8 bits, a surrogate pair counting as one.
    EXPECT_EQ(std::string("Zone ? ?"), CStdioFile::NarrowText(L"Zone \x0100 \x6771"));
    EXPECT_EQ(std::string("<?>"), CStdioFile::NarrowText(L"<\xD83D\xDE00>"));
    EXPECT_EQ(std::string("<?" "?>"), CStdioFile::NarrowText(L"<\xD83D\xD83D>"));   // lone high surrogates
    EXPECT_EQ(std::string("<?x>"), CStdioFile::NarrowText(L"<\xDE00x>"));        // lone low surrogate
}

TEST_F(FileTest, StdioFileWritesTextModeBytesAfterFlushAndClose)
{
    CStdioFile file;
    ASSERT_TRUE(file.Open(L"out.log", CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite));
    EXPECT_EQ(m_strDir + L"\\out.log", file.GetFilePath());
    file.WriteString(L"caf\x00E9 \x0416\n");
    file.Flush();
    EXPECT_EQ(std::string("caf\xE9 ?\r\n"), ReadBytes(L"out.log"));
    file.WriteString(L"second");
    file.Close();
    EXPECT_EQ(CFile::hFileNull, file.m_hFile);
    EXPECT_EQ(std::string("caf\xE9 ?\r\nsecond"), ReadBytes(L"out.log"));
}

// A text longer than the buffer goes through it in pieces: every byte
// arrives once, and a surrogate pair at a piece's edge is still one '?'.
TEST_F(FileTest, StdioFileWritesALongTextWholeWhereverItsPiecesFall)
{
    class CBufferedFile : public CStdioFile
    {
    public:
        size_t BufferRoom() const { return m_buffer.capacity(); }
    } file;
    ASSERT_TRUE(file.Open(L"long.log", CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite));
    std::wstring text;
    std::string expected;
    for (int i = 0; i < 200000; ++i) {
        if (i % 4096 == 4095) {
            text += L"\xD83D\xDE00";   // one character in two units, at every offset the pieces may have
            expected += '?';
        } else {
            text += i % 100 == 99 ? L'\n' : wchar_t(L'a' + i % 26);
            expected += i % 100 == 99 ? "\r\n" : std::string(1, char('a' + i % 26));
        }
    }
    file.WriteString(CString(text.c_str(), int(text.size())));
    file.Flush();
    EXPECT_TRUE(expected == ReadBytes(L"long.log"));
    // The buffer keeps its usual room, not the text's.
    EXPECT_LT(file.BufferRoom(), size_t(1) << 20);
    file.Close();
}

TEST_F(FileTest, CreateEmptiesAnExistingFileUnlessNoTruncate)
{
    WriteBytes(L"old.log", "earlier");
    {
        CFile file;
        ASSERT_TRUE(file.Open(L"old.log", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
        EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), ::GetLastError());
    }
    EXPECT_EQ(std::string("earlier"), ReadBytes(L"old.log"));
    {
        CFile file;
        ASSERT_TRUE(file.Open(L"new.log", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite));
        EXPECT_NE(DWORD(ERROR_ALREADY_EXISTS), ::GetLastError());
    }
    {
        CFile file;
        ASSERT_TRUE(file.Open(L"old.log", 0x1022));   // create | read-write | deny write
    }
    EXPECT_EQ(std::string(""), ReadBytes(L"old.log"));
}

TEST_F(FileTest, DenyWriteLetsOthersReadButNotWrite)
{
    CFile file;
    ASSERT_TRUE(file.Open(L"shared.log", CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite));
    HANDLE hWrite = ::CreateFileW(L"shared.log", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, hWrite);
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), ::GetLastError());
    if (hWrite != INVALID_HANDLE_VALUE)
        ::CloseHandle(hWrite);
    HANDLE hRead = ::CreateFileW(L"shared.log", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, hRead);
    if (hRead != INVALID_HANDLE_VALUE)
        ::CloseHandle(hRead);

    // A second open of ours with the same flags is refused with the cause.
    CFile other;
    CFileException error;
    EXPECT_FALSE(other.Open(L"shared.log", CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite, &error));
    EXPECT_EQ(CFileException::sharingViolation, error.m_cause);
    EXPECT_EQ(LONG(ERROR_SHARING_VIOLATION), error.m_lOsError);
}

TEST_F(FileTest, FailedOpenFillsTheExceptionWithTheSystemsText)
{
    CFile file;
    CFileException error;
    EXPECT_EQ(CFileException::none, error.m_cause);
    EXPECT_EQ(-1, error.m_lOsError);
    EXPECT_FALSE(file.Open(L"missing.log", CFile::modeRead, &error));
    EXPECT_EQ(CFileException::fileNotFound, error.m_cause);
    EXPECT_EQ(LONG(ERROR_FILE_NOT_FOUND), error.m_lOsError);
    EXPECT_STREQ(L"missing.log", error.m_strFileName);
    EXPECT_EQ(CFile::hFileNull, file.m_hFile);

    TCHAR szText[512];
    ASSERT_TRUE(error.GetErrorMessage(szText, _countof(szText)));
    CString strText = szText;
    EXPECT_FALSE(strText.IsEmpty());
    EXPECT_NE(L'\n', strText[strText.GetLength() - 1]);
    // A buffer too small still gets a terminated prefix.
    TCHAR szShort[4];
    error.GetErrorMessage(szShort, _countof(szShort));
    EXPECT_EQ(3u, wcslen(szShort));
}

TEST_F(FileTest, FailingWriteThrowsAndTheFileGoesOn)
{
    WriteBytes(L"readonly.log", "x");
    CStdioFile file;
    ASSERT_TRUE(file.Open(L"readonly.log", CFile::modeRead | CFile::shareDenyNone));
    file.WriteString(L"buffered\n");   // not yet at the system
    CFileException* pCaught = NULL;
    try {
        file.Flush();
    } catch (CFileException* e) {
        pCaught = e;
    }
    ASSERT_NE(nullptr, pCaught);
    EXPECT_EQ(CFileException::accessDenied, pCaught->m_cause);
    pCaught->Delete();
    // The failed bytes are dropped: the next flush has nothing to fail on.
    EXPECT_NO_THROW(file.Flush());
    file.Close();
    EXPECT_EQ(std::string("x"), ReadBytes(L"readonly.log"));
}
