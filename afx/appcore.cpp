// The application's name as the framework reports it.
#include "afx.h"

LPCTSTR AfxGetAppName()
{
    // Until an application object names itself: the executable's base name.
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
