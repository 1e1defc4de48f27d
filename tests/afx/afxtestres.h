#pragma once
#define IDD_AFXTEST          200
#define IDC_AFXTEST_EDIT     201
#define IDC_AFXTEST_BUTTON   202
#define IDD_AFXPANEL         210
#define IDC_AFXPANEL_BROWSE  211
#define IDC_AFXPANEL_IP      212
#define IDC_AFXPANEL_PLAIN   213
#define IDD_AFXINITDATA      220
