// Resource identifiers of the viewer.
#pragma once

#define IDM_ABOUTBOX        0x0010
#define IDD_ABOUTBOX        100
#define IDS_ABOUTBOX        101
#define IDD_VIEWER_DIALOG   102
#define IDR_MAINFRAME       128
#define IDD_APP_LOG         130

#define IDC_VIEWER          1000
#define IDC_LOG_TEXT        1001
#define IDC_PLUGIN_PATH     1003
#define IDC_PORT            1004
#define IDC_CHANNEL         1006
#define IDC_CAMERA_IP       1007
#define IDC_CONNECT         1008
#define IDC_DISCONNECT      1009

#ifndef IDC_STATIC
#define IDC_STATIC          (-1)
#endif

#define AFX_IDS_APP_TITLE   57344
