// CShellManager: the framework's shell services while the application runs
// (the folder picker of the edit-browse control).
#pragma once

#include "afxwin.h"
#include <shlobj.h>

class CShellManager : public CObject
{
public:
    CShellManager();
    ~CShellManager() override;
    // Shows the shell's folder picker; TRUE with the chosen folder's path.
    BOOL BrowseForFolder(CString& strOutFolder, CWnd* pWndParent = NULL, LPCTSTR lpszInitialFolder = NULL,
                         LPCTSTR lpszTitle = NULL, UINT ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE);
};

// The application's shell manager while one exists.
extern CShellManager* afxShellManager;
