#pragma once
#define IDD_VIEWERTEST          300
#define IDD_VIEWERTEST_PLAIN    301
#define IDD_VIEWERTEST_UNKNOWN  302
#define IDD_VIEWERTEST_BADSTATE 303
#define IDD_HOSTTEST            304
#define IDD_HOSTTEST_LICENSED   305
#define IDC_VIEWERTEST_EDIT     1001
#define IDC_VIEWER              1000
#define IDC_VIEWERTEST_CALL     1008
#define IDC_VIEWERTEST_OTHER    1002
#define IDC_TESTCTL             1100

// The container tests' own control (testcontrol.h), as the templates name it,
// and its licensed form.
#define TESTCTL_CLSID_TEXT "{6C1E44B0-2F0D-4D9B-8E51-7A3C90D4E612}"
#define TESTCTL_LICENSED_CLSID_TEXT "{6C1E44B0-2F0D-4D9B-8E51-7A3C90D4E614}"
