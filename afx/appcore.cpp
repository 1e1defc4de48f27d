// CWinApp, the application's name and the program's entry.
#include "afxwin.h"

#include <stdlib.h>

IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

namespace {

CWinApp* s_pApp = NULL;

// Without an application object (test programs): the executable's base name.
LPCTSTR ModuleBaseName()
{
    static const CString s_strName = [] {
        WCHAR szPath[MAX_PATH] = L"";
        ::GetModuleFileNameW(NULL, szPath, MAX_PATH);
        CString strName = szPath;
        int nSlash = -1;
        for (int i = 0; i < strName.GetLength(); ++i)
            if (strName[i] == L'\\' || strName[i] == L'/')
                nSlash = i;
        strName = strName.Mid(nSlash + 1);
        int nDot = -1;
        for (int i = 0; i < strName.GetLength(); ++i)
            if (strName[i] == L'.')
                nDot = i;
        return nDot > 0 ? strName.Left(nDot) : strName;
    }();
    return s_strName;
}

} // namespace

CWinApp* AfxGetApp() { return s_pApp; }

LPCTSTR AfxGetAppName()
{
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->m_pszAppName ? pApp->m_pszAppName : ModuleBaseName();
}

CWinApp::CWinApp(LPCTSTR lpszAppName) : m_pszAppName(NULL), m_pszRegistryKey(NULL)
{
    // The application object is made on the main thread, which it stands for.
    if (!s_pApp)
        s_pApp = this;
    m_nThreadID = ::GetCurrentThreadId();
    m_bAutoDelete = FALSE;
    CString strName = lpszAppName;
    if (!lpszAppName)
        strName.LoadString(57344);   // AFX_IDS_APP_TITLE
    if (!strName.IsEmpty())
        m_pszAppName = _wcsdup(strName);
}

CWinApp::~CWinApp()
{
    free(const_cast<LPTSTR>(m_pszAppName));
    free(const_cast<LPTSTR>(m_pszRegistryKey));
    if (s_pApp == this)
        s_pApp = NULL;
}

int CWinApp::ExitInstance() { return CWinThread::ExitInstance(); }

void CWinApp::SetRegistryKey(LPCTSTR lpszRegistryKey)
{
    // Only the name is kept: the program stores no settings.
    free(const_cast<LPTSTR>(m_pszRegistryKey));
    m_pszRegistryKey = lpszRegistryKey ? _wcsdup(lpszRegistryKey) : NULL;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const
{
    return ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDResource));
}

void CWinApp::OnHelp() {}

int AfxWinMain(HINSTANCE, HINSTANCE, LPTSTR, int)
{
    CWinThread* pThread = AfxGetThread();
    if (!pThread)
        return -1;
    if (!pThread->InitInstance())
        return pThread->ExitInstance();
    return pThread->Run();
}
