// Identifiers of the stand-in viewer control's type library and its two
// dispinterfaces; they repeat the uuids in dorsaviewerctl.idl (the control's
// tests check the embedded library against these). The class identifier
// itself lives in dorsaviewerif/dorsaviewerclsid.h, shared with the program.
#pragma once

#include <windows.h>

// Type library DorsaAPICOMViewerLib, version 1.0.
inline const GUID LIBID_DorsaAPICOMViewerLib =
    { 0x785c9c4a, 0x28f7, 0x4886, { 0xa5, 0xc0, 0x15, 0x41, 0xa3, 0xed, 0x3c, 0x6f } };
const WORD DORSA_VIEWER_LIB_MAJOR = 1;
const WORD DORSA_VIEWER_LIB_MINOR = 0;

// The methods: SetPluginPath, StartStream, StopStream, PlayForward.
inline const IID DIID__DDorsaAPICOMViewer =
    { 0xd9f77dc7, 0x76fc, 0x4393, { 0xbc, 0x0a, 0xe6, 0x81, 0x12, 0x23, 0x8a, 0x71 } };

// The default source: the TimeStamp event.
inline const IID DIID__DDorsaAPICOMViewerEvents =
    { 0x9795d80b, 0xb6ce, 0x42a1, { 0xa1, 0xba, 0xe6, 0x11, 0xf2, 0x2e, 0x9d, 0x8b } };

// DISPIDs of the methods and of the event.
const DISPID DISPID_DORSA_SETPLUGINPATH = 1;
const DISPID DISPID_DORSA_STARTSTREAM = 2;
const DISPID DISPID_DORSA_STOPSTREAM = 3;
const DISPID DISPID_DORSA_PLAYFORWARD = 6;
const DISPID DISPID_DORSA_TIMESTAMP = 1;

#include "dorsaviewerclsid.h"

// The control's class, as the dialog template names it.
inline const CLSID CLSID_DorsaAPICOMViewer = DORSA_VIEWER_CLSID_INIT;

// Its version-independent programmatic name and the name shown to users.
#define DORSA_VIEWER_PROGID L"DorsaAPICOMViewer.StandIn"
#define DORSA_VIEWER_USER_TYPE L"DorsaAPICOMViewer Control"
