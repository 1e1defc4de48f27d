// Resource identifiers of the viewer.
#pragma once

#define IDD_APP_LOG         130
#define IDC_LOG_TEXT        1001

#define AFX_IDS_APP_TITLE   57344
