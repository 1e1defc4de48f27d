// CDorsaAPICOMViewer: the window through which the program drives the
// Dorsa Vantix viewer control hosted in the main dialog. Each method is one
// dispatch call on the control, by its fixed DISPID.
#pragma once

#include <afxwin.h>
#include <afxdisp.h>

class CDorsaAPICOMViewer : public CWnd
{
    DECLARE_DYNCREATE(CDorsaAPICOMViewer)
public:
    // The viewer control's class identifier.
    static const CLSID& GetClsid();

    // Creates the control in pParentWnd, with no persisted state.
    virtual BOOL Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID, CCreateContext* pContext = NULL);

    short SetPluginPath(LPCTSTR PluginPath);
    CString StartStream(LPCTSTR StartTime, LPCTSTR EndTime, LPCTSTR CameraIP, LPCTSTR Port, LPCTSTR Channel,
                        LPCTSTR Param6, LPCTSTR Param7, LPCTSTR Param8);
    short StopStream(LPCTSTR SessionID);
    short PlayForward(LPCTSTR SessionID, float Speed);
};
