// CDorsaAPICOMViewer: the viewer control's four methods as dispatch calls.
#include "dorsaapicomviewer.h"

#include "dorsaviewerclsid.h"

IMPLEMENT_DYNCREATE(CDorsaAPICOMViewer, CWnd)

const CLSID& CDorsaAPICOMViewer::GetClsid()
{
    static const CLSID clsid = DORSA_VIEWER_CLSID_INIT;
    return clsid;
}

BOOL CDorsaAPICOMViewer::Create(LPCTSTR, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                                UINT nID, CCreateContext*)
{
    return CreateControl(GetClsid(), lpszWindowName, dwStyle, rect, pParentWnd, nID);
}

short CDorsaAPICOMViewer::SetPluginPath(LPCTSTR PluginPath)
{
    short result;
    static const BYTE parms[] = VTS_BSTR;
    InvokeHelper(0x1, DISPATCH_METHOD, VT_I2, &result, parms, PluginPath);
    return result;
}

CString CDorsaAPICOMViewer::StartStream(LPCTSTR StartTime, LPCTSTR EndTime, LPCTSTR CameraIP, LPCTSTR Port,
                                        LPCTSTR Channel, LPCTSTR Param6, LPCTSTR Param7, LPCTSTR Param8)
{
    CString result;
    static const BYTE parms[] = VTS_BSTR VTS_BSTR VTS_BSTR VTS_BSTR VTS_BSTR VTS_BSTR VTS_BSTR VTS_BSTR;
    InvokeHelper(0x2, DISPATCH_METHOD, VT_BSTR, &result, parms, StartTime, EndTime, CameraIP, Port, Channel, Param6,
                 Param7, Param8);
    return result;
}

short CDorsaAPICOMViewer::StopStream(LPCTSTR SessionID)
{
    short result;
    static const BYTE parms[] = VTS_BSTR;
    InvokeHelper(0x3, DISPATCH_METHOD, VT_I2, &result, parms, SessionID);
    return result;
}

short CDorsaAPICOMViewer::PlayForward(LPCTSTR SessionID, float Speed)
{
    short result;
    static const BYTE parms[] = VTS_BSTR VTS_R4;
    InvokeHelper(0x6, DISPATCH_METHOD, VT_I2, &result, parms, SessionID, Speed);
    return result;
}
