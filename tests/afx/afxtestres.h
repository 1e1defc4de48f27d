#pragma once
#define IDD_AFXTEST          200
#define IDC_AFXTEST_EDIT     201
#define IDC_AFXTEST_BUTTON   202
