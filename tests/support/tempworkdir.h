// A fresh temporary folder as the working directory, for tests of code that
// writes files where it runs; left and removed with everything in it.
#pragma once

#include <afx.h>

#include <string>

// Removes a folder and everything below it.
inline void RemoveTree(const CString& strDir)
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW(strDir + L"\\*", &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            CString strName = fd.cFileName;
            if (strName == L"." || strName == L"..")
                continue;
            CString strPath = strDir + L"\\" + strName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(strPath);
            else
                ::DeleteFileW(strPath);
        } while (::FindNextFileW(hFind, &fd));
        ::FindClose(hFind);
    }
    ::RemoveDirectoryW(strDir);
}

// A file's bytes, read while others may still have it open; "<unreadable>"
// if it can't be read, so that no expected content matches by accident.
inline std::string ReadBytes(LPCWSTR lpszName)
{
    HANDLE h = ::CreateFileW(lpszName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return "<unreadable>";
    std::string bytes;
    char buf[65536];
    DWORD n;
    while (::ReadFile(h, buf, sizeof buf, &n, NULL) && n)
        bytes.append(buf, n);
    ::CloseHandle(h);
    return bytes;
}

class TempWorkingDirectory
{
public:
    // Makes a folder no earlier run left behind, named after lpszPrefix, and
    // makes it the working directory.
    bool Enter(LPCWSTR lpszPrefix)
    {
        WCHAR szTemp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, szTemp);
        static int s_nSerial = 0;
        bool bMade = false;
        for (int i = 0; i < 1000 && !bMade; ++i) {
            m_strDir.Format(L"%s%s_%lu_%lu_%d", szTemp, lpszPrefix, ::GetCurrentProcessId(), ::GetTickCount(),
                            ++s_nSerial);
            bMade = ::CreateDirectoryW(m_strDir, NULL) != FALSE;
        }
        ::GetCurrentDirectoryW(MAX_PATH, m_szOldDir);
        return bMade && ::SetCurrentDirectoryW(m_strDir);
    }
    // Goes back to the earlier working directory and removes the folder.
    void Leave()
    {
        ::SetCurrentDirectoryW(m_szOldDir);
        if (!m_strDir.IsEmpty())
            RemoveTree(m_strDir);
    }

    CString m_strDir;

private:
    WCHAR m_szOldDir[MAX_PATH] = L"";
};
