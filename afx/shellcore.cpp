// The shell manager's folder picker and the visual managers.
#include "afxshellmanager.h"
#include "afxvisualmanager.h"

#include <shlobj.h>
#include <memory>

CShellManager* afxShellManager = NULL;

CShellManager::CShellManager()
{
    if (!afxShellManager)
        afxShellManager = this;
}

CShellManager::~CShellManager()
{
    if (afxShellManager == this)
        afxShellManager = NULL;
}

static BOOL CALLBACK FindTreeView(HWND hWnd, LPARAM lParam)
{
    WCHAR szClass[32] = L"";
    ::GetClassNameW(hWnd, szClass, 32);
    if (lstrcmpiW(szClass, WC_TREEVIEWW) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

static int CALLBACK SelectInitialFolder(HWND hWnd, UINT uMsg, LPARAM, LPARAM lpData)
{
    if (uMsg != BFFM_INITIALIZED || !lpData)
        return 0;
    ::SendMessageW(hWnd, BFFM_SETSELECTIONW, TRUE, lpData);
    // The selected folder may lie below the tree's view, which then shows
    // only the Desktop: the folder around it is put at the top of the view,
    // once the picker has laid out the tree (it may still shrink it).
    HWND hTree = NULL;
    ::EnumChildWindows(hWnd, &FindTreeView, reinterpret_cast<LPARAM>(&hTree));
    const LPARAM hSelected = hTree ? ::SendMessageW(hTree, TVM_GETNEXTITEM, TVGN_CARET, 0) : 0;
    const LPARAM hParent = hSelected ? ::SendMessageW(hTree, TVM_GETNEXTITEM, TVGN_PARENT, hSelected) : 0;
    if (hSelected)
        ::PostMessageW(hTree, TVM_SELECTITEM, TVGN_FIRSTVISIBLE, hParent ? hParent : hSelected);
    return 0;
}

BOOL CShellManager::BrowseForFolder(CString& strOutFolder, CWnd* pWndParent, LPCTSTR lpszInitialFolder,
                                   LPCTSTR lpszTitle, UINT ulFlags)
{
    BROWSEINFOW bi = {};
    bi.hwndOwner = pWndParent ? pWndParent->m_hWnd : NULL;
    bi.lpszTitle = lpszTitle;
    bi.ulFlags = ulFlags;
    bi.lpfn = &SelectInitialFolder;
    bi.lParam = reinterpret_cast<LPARAM>(lpszInitialFolder && *lpszInitialFolder ? lpszInitialFolder : NULL);
    LPITEMIDLIST pidl = ::SHBrowseForFolderW(&bi);
    if (!pidl)
        return FALSE;
    WCHAR szPath[MAX_PATH] = L"";
    BOOL bOk = ::SHGetPathFromIDListW(pidl, szPath);
    ::CoTaskMemFree(pidl);
    if (bOk)
        strOutFolder = szPath;
    return bOk;
}

IMPLEMENT_DYNCREATE(CMFCVisualManager, CObject)
IMPLEMENT_DYNCREATE(CMFCVisualManagerWindows, CMFCVisualManager)

static std::unique_ptr<CMFCVisualManager>& VisualManager()
{
    static std::unique_ptr<CMFCVisualManager> s_pManager;
    return s_pManager;
}

void CMFCVisualManager::SetDefaultManager(CRuntimeClass* pRTIVisualManager)
{
    if (!pRTIVisualManager || !pRTIVisualManager->IsDerivedFrom(RUNTIME_CLASS(CMFCVisualManager)))
        return;
    VisualManager().reset(static_cast<CMFCVisualManager*>(pRTIVisualManager->CreateObject()));
}

CMFCVisualManager* CMFCVisualManager::GetInstance()
{
    if (!VisualManager())
        VisualManager().reset(new CMFCVisualManager);
    return VisualManager().get();
}
