// Visual managers: which look the framework's own controls are drawn in.
#pragma once

#include "afxwin.h"

class CMFCVisualManager : public CObject
{
    DECLARE_DYNCREATE(CMFCVisualManager)
public:
    // Makes an object of pRTIVisualManager the manager every control consults.
    static void SetDefaultManager(CRuntimeClass* pRTIVisualManager);
    static CMFCVisualManager* GetInstance();
};

// The native Windows look.
class CMFCVisualManagerWindows : public CMFCVisualManager
{
    DECLARE_DYNCREATE(CMFCVisualManagerWindows)
};
